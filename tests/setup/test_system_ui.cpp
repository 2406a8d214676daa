#include "system_ui.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QToolTip>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace krv::setup;

namespace {

// Sends a tooltip request for the first row's first cell; true when a tip
// with the given text is shown.
bool TipShown(QTreeWidget &list, const QString &text) {
    QToolTip::hideText();
    QRect cell = list.visualItemRect(list.topLevelItem(0));
    QPoint pos(cell.left() + 5, cell.center().y());
    QHelpEvent help(QEvent::ToolTip, pos, list.viewport()->mapToGlobal(pos));
    QApplication::sendEvent(list.viewport(), &help);
    return QToolTip::isVisible() && QToolTip::text() == text;
}

} // namespace

TEST(ListViewStyle, WholeRowsAndTipsForCutText) {
    QTreeWidget list;
    list.setColumnCount(2);
    list.header()->setStretchLastSection(false);
    list.setColumnWidth(0, 60);
    list.resize(300, 200);
    const QString longText = "Microsoft Visual C++ 2010 Redistributable Package (x86)";
    new QTreeWidgetItem(&list, QStringList{longText, "1.0"});
    list.show();

    SetListViewExStyle(&list);
    SetListViewExStyle(&list); // a second call adds nothing
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(TipShown(list, longText));

    list.setColumnWidth(0, 280);
    list.topLevelItem(0)->setText(0, "Java");
    EXPECT_FALSE(TipShown(list, "Java"));

    // A tooltip of the model's own wins.
    list.setColumnWidth(0, 20);
    list.topLevelItem(0)->setToolTip(0, "own tip");
    EXPECT_TRUE(TipShown(list, "own tip"));
    SetListViewExStyle(nullptr);
}

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
