// Draws the picture of the two printer models that the console's link tab
// shows above their captions: the KRV-T100 (light, with its keypad) on the
// left, the KRV-T200 (graphite, compact) on the right, each issuing a
// receipt. Flat shapes in the greys and the blue of the header picture on a
// transparent background, at the size the tab shows it (no scaling).
//
// Usage: krv-draw-printers <output.png>
#include "tool_usage.h"

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>

#include <cstdio>
#include <iterator>
#include <utility>

namespace {

constexpr int kWidth = 236;
constexpr int kHeight = 240;
// Centres of the two printers: above the captions "KRV-T100" and "KRV-T200".
constexpr double kFirstCentre = 55;
constexpr double kSecondCentre = 175;
constexpr double kFloor = 226;
constexpr double kScale = 1.1;

const QColor kHeaderBlue(0x1f, 0x5f, 0xa8);
const QColor kOutline(0x5c, 0x68, 0x78);
const QColor kDarkOutline(0x26, 0x2c, 0x34);
const QColor kSlot(0x2e, 0x35, 0x3f);
const QColor kScreen(0x1d, 0x2b, 0x3a);
const QColor kScreenText(0x8c, 0xe0, 0xc4);
const QColor kPaper(0xff, 0xff, 0xff);
const QColor kPaperEdge(0xa8, 0xb0, 0xbb);
const QColor kInk(0x9a, 0xa3, 0xaf);

QLinearGradient Vertical(const QRectF &rect, const QColor &top, const QColor &bottom) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    return gradient;
}

void Shadow(QPainter &p, double centre, double halfWidth) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 38));
    p.drawEllipse(QPointF(centre, kFloor + 2), halfWidth, 5);
}

// A receipt leaving the printer at `slotY`: torn top edge, printed lines and
// a bold total line.
void Receipt(QPainter &p, double centre, double halfWidth, double top, double slotY) {
    QPainterPath paper;
    const double left = centre - halfWidth, right = centre + halfWidth;
    paper.moveTo(left, slotY);
    paper.lineTo(left, top + 3);
    const int teeth = 8;
    const double step = (right - left) / teeth;
    for (int i = 0; i < teeth; ++i) {
        paper.lineTo(left + step * (i + 0.5), top);
        paper.lineTo(left + step * (i + 1), top + 3);
    }
    paper.lineTo(right, slotY);
    paper.closeSubpath();
    p.setPen(QPen(kPaperEdge, 1));
    p.setBrush(kPaper);
    p.drawPath(paper);

    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    const double lineLeft = left + 6;
    const double lineWidth = right - left - 12;
    // A centred heading, then item lines of varying length down to the slot.
    const double widths[] = {0.55, 0.9, 0.7, 0.9, 0.6, 0.8};
    double y = top + 10;
    for (int i = 0; y <= slotY - 18; ++i, y += 6) {
        const double w = lineWidth * widths[i % std::size(widths)];
        p.drawRect(QRectF(i == 0 ? centre - w / 2 : lineLeft, y, w, 2));
    }
    // The total: a darker, longer line under a rule.
    if (y < slotY - 10) {
        p.setBrush(kOutline);
        p.drawRect(QRectF(lineLeft, y + 2, lineWidth, 3));
    }
}

void RoundedBox(QPainter &p, const QRectF &rect, double radius, const QBrush &fill,
                const QColor &outline) {
    p.setPen(QPen(outline, 1.2));
    p.setBrush(fill);
    p.drawRoundedRect(rect, radius, radius);
}

// A paper slot `slotHalf` to each side of the centre, its top at `slotTop`,
// with the receipt coming out of it.
void SlotWithReceipt(QPainter &p, double centre, double slotHalf, double slotTop, double paperHalf,
                     double paperTop) {
    p.setPen(Qt::NoPen);
    p.setBrush(kSlot);
    p.drawRoundedRect(QRectF(centre - slotHalf, slotTop, 2 * slotHalf, 4), 2, 2);
    Receipt(p, centre, paperHalf, paperTop, slotTop + 2);
}

// The blue band across a body, inside its outline.
void Band(QPainter &p, const QRectF &body, double top, double height) {
    p.setPen(Qt::NoPen);
    p.setBrush(kHeaderBlue);
    p.drawRect(QRectF(body.left() + 1, top, body.width() - 2, height));
}

// A dark screen with two lines of figures, placed from its top left corner.
void Display(QPainter &p, const QRectF &screen, const QColor &outline, const QRectF &firstLine,
             const QRectF &secondLine) {
    RoundedBox(p, screen, 2, kScreen, outline);
    p.setPen(Qt::NoPen);
    p.setBrush(kScreenText);
    p.drawRect(firstLine.translated(screen.topLeft()));
    p.drawRect(secondLine.translated(screen.topLeft()));
}

// Two feet, their outer edges `halfSpan` to each side of the centre.
void Feet(QPainter &p, double centre, double halfSpan, const QColor &colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(centre - halfSpan, 223, 14, 4), 1.5, 1.5);
    p.drawRoundedRect(QRectF(centre + halfSpan - 14, 223, 14, 4), 1.5, 1.5);
}

// KRV-T100: a light body with a sloped lid, the receipt out of the lid, a
// two-line display and a keypad on the front.
void FirstModel(QPainter &p) {
    const double c = kFirstCentre;
    Shadow(p, c, 52);

    // Lid: narrower at the top, as seen slightly from above.
    QPolygonF lid;
    lid << QPointF(c - 40, 118) << QPointF(c + 40, 118) << QPointF(c + 48, 152)
        << QPointF(c - 48, 152);
    QPainterPath lidPath;
    lidPath.addPolygon(lid);
    lidPath.closeSubpath();
    p.setPen(QPen(kOutline, 1.2));
    p.setBrush(
        Vertical(QRectF(c - 48, 118, 96, 34), QColor(0xf6, 0xf8, 0xfa), QColor(0xdc, 0xe1, 0xe8)));
    p.drawPath(lidPath);
    // Paper slot across the lid, the receipt coming out of it.
    SlotWithReceipt(p, c, 26, 124, 22, 30);

    // Front of the body with the blue band.
    const QRectF front(c - 50, 150, 100, 74);
    RoundedBox(p, front, 5, Vertical(front, QColor(0xec, 0xef, 0xf3), QColor(0xc8, 0xcf, 0xd8)),
               kOutline);
    Band(p, front, 155, 6);

    // Display: a dark screen with two lines of figures.
    Display(p, QRectF(c - 42, 170, 42, 22), kDarkOutline, QRectF(5, 5, 22, 3),
            QRectF(14, 13, 23, 4));

    // Keypad: three rows of three keys.
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column) {
            const QRectF key(c + 9 + column * 12, 168 + row * 10, 9, 7);
            RoundedBox(p, key, 1.5, QColor(0xfb, 0xfc, 0xfd), kOutline);
        }
    // The wide key under them, in the band's blue.
    RoundedBox(p, QRectF(c + 9, 199, 33, 7), 1.5, kHeaderBlue, kDarkOutline);

    Feet(p, c, 44, kSlot);
}

// KRV-T200: a compact graphite body with a rounded cover, the receipt out of
// the cover's front edge, indicator lamps, a feed key and a small display.
void SecondModel(QPainter &p) {
    const double c = kSecondCentre;
    Shadow(p, c, 54);

    // Cover: a rounded hood over the paper roll.
    const QRectF cover(c - 46, 138, 92, 30);
    QPainterPath hood;
    hood.moveTo(cover.left(), cover.bottom());
    hood.lineTo(cover.left(), cover.top() + 12);
    hood.quadTo(cover.left(), cover.top(), cover.left() + 14, cover.top());
    hood.lineTo(cover.right() - 14, cover.top());
    hood.quadTo(cover.right(), cover.top(), cover.right(), cover.top() + 12);
    hood.lineTo(cover.right(), cover.bottom());
    hood.closeSubpath();
    p.setPen(QPen(kDarkOutline, 1.2));
    p.setBrush(Vertical(cover, QColor(0x74, 0x7e, 0x8b), QColor(0x52, 0x5b, 0x67)));
    p.drawPath(hood);
    // The receipt comes out of a slot in the hood's top.
    SlotWithReceipt(p, c, 28, 144, 24, 62);

    // Body.
    const QRectF body(c - 52, 164, 104, 60);
    RoundedBox(p, body, 6, Vertical(body, QColor(0x5a, 0x63, 0x6f), QColor(0x38, 0x3f, 0x49)),
               kDarkOutline);
    // Blue band along the top of the body.
    Band(p, body, 169, 5);

    // Indicator lamps and the feed key.
    p.setBrush(QColor(0x5c, 0xd0, 0x6e));
    p.drawEllipse(QPointF(c - 40, 190), 3, 3);
    p.setBrush(QColor(0xf0, 0xa6, 0x3a));
    p.drawEllipse(QPointF(c - 30, 190), 3, 3);
    RoundedBox(p, QRectF(c - 44, 200, 22, 10), 3, QColor(0xd6, 0xdb, 0xe2), kDarkOutline);

    // Display.
    Display(p, QRectF(c + 2, 184, 40, 20), QColor(0x1a, 0x1e, 0x24), QRectF(5, 5, 20, 3),
            QRectF(13, 11, 22, 4));

    Feet(p, c, 46, QColor(0x1e, 0x23, 0x29));
}

} // namespace

int main(int argc, char *argv[]) {
    constexpr const char *kUsage =
        "usage: krv-draw-printers OUTPUT.png\n"
        "Draws the link tab's picture of the two printer models (console/printers.png).\n";
    krv::tools::AnswerHelp(argc, argv, kUsage);
    if (argc != 2 || argv[1][0] == '-')
        krv::tools::ExitWithUsage(kUsage, false);
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        // Each model a tenth larger than drawn, standing on the same floor.
        const std::pair<double, void (*)(QPainter &)> models[] = {{kFirstCentre, FirstModel},
                                                                  {kSecondCentre, SecondModel}};
        for (const auto &[centre, draw] : models) {
            painter.save();
            painter.translate(centre, kFloor);
            painter.scale(kScale, kScale);
            painter.translate(-centre, -kFloor);
            draw(painter);
            painter.restore();
        }
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
