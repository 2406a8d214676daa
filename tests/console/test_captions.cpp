// Every caption, list item, tab and grid heading of every window fits its
// control at the console's font: nothing is cut off, no label runs into a
// neighbour, no text runs out of its window. Every password field masks with
// '*'; the status bar shows the longest link state and the bulk programming's
// progress whole.
#include "article_logic.h"
#include "compound_tax_window.h"
#include "connection.h"
#include "console_state.h"
#include "message_layer.h"
#include "modem_diagnostics_window.h"
#include "password_dialog.h"
#include "receipt_header_window.h"
#include "report_logic.h"
#include "stress_test_window.h"
#include "support_console.h"
#include "tape_lock_window.h"
#include "vendor_window.h"
#include "widgets.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextDocument>
#include <QTextTable>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

using krv::test::ConsoleTest;

// Room a tab leaves on each side of its caption, at least.
constexpr int kTabPadding = 4;

// Labels that overlap a control on purpose: "без" lies under the VAT edit of
// the compound-tax window and shows only while that edit is hidden.
const QStringList kIntendedOverlaps = {QStringLiteral("без")};

// The widest line; blanks at a line's end take no room on screen.
int TextWidth(const QFontMetrics &metrics, const QString &text) {
    int widest = 0;
    for (QString line : QString(text)
                            .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                            .split(QLatin1Char('\n'))) {
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        widest = std::max(widest, metrics.horizontalAdvance(line));
    }
    return widest;
}

QString Where(const QWidget *widget) {
    QString path = widget->objectName();
    for (const QWidget *p = widget->parentWidget(); p; p = p->parentWidget())
        if (!p->objectName().isEmpty())
            path = p->objectName() + QLatin1Char('/') + path;
    return path;
}

// What does not fit, one line per control.
QStringList Misfits(QWidget &window) {
    QStringList misfits;
    const auto report = [&misfits](const QWidget *widget, const QString &text, int need, int room) {
        if (need > room)
            misfits << QStringLiteral("%1 \"%2\": %3 > %4")
                           .arg(Where(widget), text)
                           .arg(need)
                           .arg(room);
    };
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        const QFontMetrics metrics(widget->font());
        if (auto *button = qobject_cast<QPushButton *>(widget)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect contents =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            int need = metrics.horizontalAdvance(button->text());
            if (!button->icon().isNull())
                need += button->iconSize().width() + 4; // the gap the style leaves
            report(button, button->text(), need, contents.width());
        } else if (auto *box = qobject_cast<QCheckBox *>(widget)) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            const QRect text =
                box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
            report(box, box->text(), metrics.horizontalAdvance(box->text()), text.width());
        } else if (auto *radio = qobject_cast<QRadioButton *>(widget)) {
            QStyleOptionButton option;
            option.initFrom(radio);
            option.text = radio->text();
            const QRect text =
                radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
            report(radio, radio->text(), metrics.horizontalAdvance(radio->text()), text.width());
        } else if (auto *group = qobject_cast<QGroupBox *>(widget)) {
            // The title sits on the frame, indented from both corners.
            report(group, group->title(), metrics.horizontalAdvance(group->title()),
                   group->width() - 2 * 8);
        } else if (auto *combo = qobject_cast<QComboBox *>(widget)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i)
                report(combo, combo->itemText(i), metrics.horizontalAdvance(combo->itemText(i)),
                       field.width());
        } else if (auto *grid = qobject_cast<QTableWidget *>(widget)) {
            // A cell's text starts 2 dots in; keep as much on the right.
            for (int r = 0; r < grid->rowCount(); ++r)
                for (int c = 0; c < grid->columnCount(); ++c)
                    if (const QTableWidgetItem *item = grid->item(r, c))
                        report(grid, item->text(),
                               QFontMetrics(item->font()).horizontalAdvance(item->text()) + 4,
                               grid->columnWidth(c));
        } else if (auto *tabs = qobject_cast<QTabBar *>(widget)) {
            // The tabs share the page control's width: none may be pushed
            // behind scroll arrows.
            const int room = tabs->parentWidget() ? tabs->parentWidget()->width() : tabs->width();
            report(tabs, tabs->tabText(tabs->count() - 1),
                   tabs->tabRect(tabs->count() - 1).right() + 1, room);
            // Each caption with room on both sides, apart from its neighbours.
            for (int i = 0; i < tabs->count(); ++i)
                report(tabs, tabs->tabText(i),
                       metrics.horizontalAdvance(tabs->tabText(i)) + 2 * kTabPadding,
                       tabs->tabRect(i).width());
        } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
            if (edit->echoMode() != QLineEdit::Password)
                continue;
            // The mask as the field itself resolves it (its style, style
            // sheets of its parents included), and as it shows it.
            QStyleOptionFrame option;
            option.initFrom(edit);
            const int mask =
                edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, &option, edit);
            const QString text = edit->text();
            edit->setText(QStringLiteral("12"));
            if (mask != '*' || edit->displayText() != QStringLiteral("**"))
                misfits << QStringLiteral("%1 masks with \"%2\"")
                               .arg(Where(edit), QString(QChar(mask)));
            edit->setText(text);
        } else if (auto *label = qobject_cast<QLabel *>(widget)) {
            if (label->text().isEmpty() || !label->pixmap().isNull())
                continue;
            const int need = TextWidth(metrics, label->text());
            // A framed label keeps an indent before its text inside the frame.
            const int indent = label->frameWidth() == 0 ? 0
                               : label->indent() >= 0   ? label->indent()
                                                        : metrics.horizontalAdvance(u'x') / 2;
            const QRect inside = label->contentsRect();
            report(label, label->text(), indent + need, inside.width());
            const QWidget *parent = label->parentWidget();
            report(label, label->text(), label->x() + inside.x() + indent + need, parent->width());
            report(label, label->text(),
                   label->mapTo(&window, inside.topLeft()).x() + indent + need, window.width());
            if (kIntendedOverlaps.contains(label->text()))
                continue;
            const QRect drawn(
                label->pos(),
                QSize(need, metrics.height() * (label->text().count(QLatin1Char('\n')) + 1)));
            for (const QWidget *sibling :
                 parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                if (sibling != label && drawn.intersects(sibling->geometry()))
                    misfits << QStringLiteral("%1 \"%2\" runs into %3")
                                   .arg(Where(label), label->text(), Where(sibling));
            }
        }
    }
    return misfits;
}

// The link tab's picture of the two models: loaded, drawn unscaled inside
// Panel1 above its captions, with a printer standing above each caption.
void ExpectPrintersPicture(TForm1 &form) {
    auto *panel = form.Control<QFrame>(QStringLiteral("Panel1"));
    auto *picture = form.Control<QLabel>(QStringLiteral("Image2"));
    EXPECT_EQ(picture->parentWidget(), panel);
    ASSERT_FALSE(picture->pixmap().isNull());
    EXPECT_EQ(picture->pixmap().size(), picture->size());
    EXPECT_TRUE(panel->contentsRect().contains(picture->geometry()));
    const QImage image = picture->pixmap().toImage();
    for (const char *caption : {"KRV-T100", "KRV-T200"}) {
        SCOPED_TRACE(caption);
        const QLabel *label = nullptr;
        for (const QLabel *child : panel->findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
            if (child->text() == QLatin1String(caption))
                label = child;
        ASSERT_NE(label, nullptr);
        EXPECT_FALSE(picture->geometry().intersects(label->geometry()));
        EXPECT_LE(picture->geometry().bottom(), label->geometry().top());
        // The column over the caption's middle crosses a printer.
        const int x = label->geometry().center().x() - picture->x();
        ASSERT_TRUE(x >= 0 && x < image.width());
        int drawn = 0;
        for (int y = 0; y < image.height(); ++y)
            drawn += qAlpha(image.pixel(x, y)) > 0;
        EXPECT_GE(drawn, image.height() / 3);
    }
}

class Captions : public ConsoleTest {};

TEST_F(Captions, ConsoleFontIsTheMetricCompatibleSansAtElevenPixels) {
    const QFontInfo info(krv::console::ConsoleFont());
    EXPECT_EQ(info.family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(info.pixelSize(), 11);
    EXPECT_EQ(QApplication::font(), krv::console::ConsoleFont());
}

TEST_F(Captions, EveryWindowAndTabHoldsItsTexts) {
    std::unique_ptr<QWidget> windows[] = {
        std::make_unique<TForm1>(), std::make_unique<TForm2>(), std::make_unique<TForm3>(),
        std::make_unique<TForm4>(), std::make_unique<TForm5>(), std::make_unique<TForm6>(),
        std::make_unique<TForm7>(), std::make_unique<TForm8>(), std::make_unique<TForm9>(),
    };
    for (const auto &window : windows) {
        // Shown, and every tab brought to the front once, so that every
        // control has its final geometry (radio groups place their items
        // when they get their size).
        window->show();
        if (auto *main = dynamic_cast<TForm1 *>(window.get())) {
            // The widest link state next to the bulk programming's progress
            // at its widest.
            main->SetStatusPanel(0, krv::console::OpenPanelText(QStringLiteral("38400"),
                                                                krv::console::kSupervisorMode));
            main->SetStatusPanel(1, krv::console::BulkProgressText(10000));
            EXPECT_EQ(main->StatusPanelText(1), QStringLiteral("Товар 10000 из 10000"));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            ExpectPrintersPicture(*main);
        }
        for (auto *pages : window->findChildren<QTabWidget *>())
            for (int i = 0; i < pages->count(); ++i)
                pages->setCurrentIndex(i);
        const QStringList misfits = Misfits(*window);
        window->hide();
        EXPECT_TRUE(misfits.isEmpty()) << window->windowTitle().toStdString() << ":\n  "
                                       << misfits.join(QStringLiteral("\n  ")).toStdString();
    }
}

// The report boxes as the operator sees them: every line of the text shown
// unchanged, and in each block the values after the tab at one x, clear of
// the block's widest padded name.
TEST_F(Captions, ReportBoxesLineUpTheValuesOfEachBlock) {
    using namespace krv::console;
    // Names as a printer may hold them, one with markup characters in it.
    const QStringList names = {"КАРТКА",   "КРЕДИТ",   "ЧЕК",      "ГОТІВКА",  "<b>5</b>&amp;",
                               "ОПЛАТА 6", "ОПЛАТА 7", "ОПЛАТА 8", "ОПЛАТА 9", "ОПЛАТА 10"};
    DayTotals totals;
    totals.salesReceipts = 65535;
    totals.salesByForm.fill(4294967295);
    totals.cashOut = 123;
    ReceiptSums sums;
    sums.byGroup.fill(1);
    sums.byForm[9] = 4294967295u;
    const QLocale locale(QLocale::Russian, QLocale::Russia);
    const QString texts[] = {DayTotalsText(totals, names, locale),
                             ReceiptSumsText(sums, names, locale)};
    for (const QString &text : texts) {
        const auto box = MakeMessageBox(nullptr, QStringLiteral("Информация"), text,
                                        Icon::Information, Buttons::Ok);
        box->show();
        auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr);
        // The label's text laid out as the label lays it out.
        QTextDocument document;
        document.setDefaultFont(label->font());
        document.setHtml(label->text());
        document.setTextWidth(label->contentsRect().width());
        const QFontMetrics metrics(label->font());
        const auto cellText = [](const QTextTableCell &cell) {
            QTextCursor cursor = cell.firstCursorPosition();
            cursor.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
            return cursor.selectedText().replace(QChar::Nbsp, u' ');
        };
        QStringList shown;
        int blocks = 0;
        for (QTextFrame *frame : document.rootFrame()->childFrames()) {
            auto *table = qobject_cast<QTextTable *>(frame);
            if (!table)
                continue;
            ++blocks;
            std::optional<qreal> valueX;
            for (int row = 0; row < table->rows(); ++row) {
                const QTextTableCell name = table->cellAt(row, 0);
                const QTextTableCell value = table->cellAt(row, 1);
                shown << cellText(name) + u'\t' + cellText(value);
                const qreal nameX = document.documentLayout()
                                        ->blockBoundingRect(name.firstCursorPosition().block())
                                        .x();
                const qreal x = document.documentLayout()
                                    ->blockBoundingRect(value.firstCursorPosition().block())
                                    .x();
                EXPECT_GE(x - nameX, metrics.horizontalAdvance(cellText(name).trimmed()))
                    << shown.last().toStdString();
                if (!valueX)
                    valueX = x;
                EXPECT_EQ(x, *valueX) << "block " << blocks << ": " << shown.last().toStdString();
            }
        }
        // One column set per block: a run of lines with tabs.
        const QStringList lines =
            QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")).split(u'\n');
        int runs = 0;
        for (qsizetype i = 0; i < lines.size(); ++i)
            runs += lines[i].contains(u'\t') && (i == 0 || !lines[i - 1].contains(u'\t'));
        EXPECT_EQ(shown.join(u'\n').toStdString(),
                  lines.filter(QStringLiteral("\t")).join(u'\n').toStdString());
        EXPECT_EQ(blocks, runs);
        EXPECT_GE(blocks, 2);
        box->hide();
    }

    // A text without tabs is shown as it stands, never as markup.
    const auto plain =
        MakeMessageBox(nullptr, QStringLiteral("Ошибка!"), QStringLiteral("<b>Ошибка</b>\r\n&amp;"),
                       Icon::Error, Buttons::Ok);
    auto *label = plain->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), QStringLiteral("<b>Ошибка</b>\n&amp;"));
}

} // namespace
