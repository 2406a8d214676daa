#include "program_icon.h"

#include <QIconEngine>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QWidget>

namespace krv::setup {
namespace {

// The picture on a 64 x 64 grid, scaled to the target rectangle.
void PaintProgramIcon(QPainter &painter, const QRectF &target) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.translate(target.topLeft());
    painter.scale(target.width() / 64.0, target.height() / 64.0);

    // The printer's body.
    QLinearGradient body(0, 26, 0, 52);
    body.setColorAt(0, QColor(0x3b, 0x78, 0xc4));
    body.setColorAt(1, QColor(0x1d, 0x4a, 0x86));
    painter.setPen(QPen(QColor(0x14, 0x37, 0x63), 1.5));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(4, 26, 56, 26), 6, 6);

    // The receipt coming out of its slot, with printed lines.
    painter.setPen(QPen(QColor(0x8a, 0x8f, 0x96), 1.5));
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(18, 3, 28, 28));
    painter.setPen(QPen(QColor(0x5a, 0x60, 0x68), 2.5, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(QPointF(23, 10), QPointF(41, 10));
    painter.drawLine(QPointF(23, 16), QPointF(41, 16));
    painter.drawLine(QPointF(23, 22), QPointF(34, 22));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x0d, 0x27, 0x47));
    painter.drawRoundedRect(QRectF(13, 29, 38, 4), 2, 2);

    // The power light.
    painter.setBrush(QColor(0x7d, 0xe0, 0x6e));
    painter.drawEllipse(QPointF(12, 44), 2.5, 2.5);

    // The install badge: a green disc with a white arrow pointing down.
    QLinearGradient badge(0, 36, 0, 62);
    badge.setColorAt(0, QColor(0x4c, 0xb8, 0x55));
    badge.setColorAt(1, QColor(0x23, 0x80, 0x2d));
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(badge);
    painter.drawEllipse(QPointF(49, 49), 13, 13);
    QPainterPath arrow;
    arrow.moveTo(46, 40);
    arrow.lineTo(52, 40);
    arrow.lineTo(52, 48);
    arrow.lineTo(57, 48);
    arrow.lineTo(49, 57);
    arrow.lineTo(41, 48);
    arrow.lineTo(46, 48);
    arrow.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPath(arrow);
    painter.restore();
}

// Draws the picture at any size asked; nothing is kept between calls. A
// disabled icon is the same picture, faded.
class ProgramIconEngine : public QIconEngine {
  public:
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        if (mode == QIcon::Disabled)
            painter->setOpacity(0.4);
        PaintProgramIcon(*painter, rect);
        painter->restore();
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        painter.end();
        return QPixmap::fromImage(image);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {QSize(16, 16), QSize(24, 24), QSize(32, 32),
                QSize(48, 48), QSize(64, 64), QSize(256, 256)};
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override {
        const int side = qMin(size.width(), size.height());
        return {side, side};
    }

    QIconEngine *clone() const override { return new ProgramIconEngine; }
    QString key() const override { return QStringLiteral("krv-setup-program-icon"); }
};

} // namespace

QIcon ProgramIcon() {
    static const QIcon icon(new ProgramIconEngine);
    return icon;
}

void SetProgramIcon(QWidget &window) {
    window.setWindowIcon(ProgramIcon());
}

} // namespace krv::setup
