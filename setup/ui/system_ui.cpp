#include "system_ui.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QObject>
#include <QToolTip>

namespace krv::setup {

namespace {

// Shows the full text of an elided cell; installed on the view's viewport.
class ElidedTextTips : public QObject {
  public:
    explicit ElidedTextTips(QAbstractItemView *view) : QObject(view), m_view(view) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::ToolTip || watched != m_view->viewport())
            return false;
        auto *help = static_cast<QHelpEvent *>(event);
        QModelIndex index = m_view->indexAt(help->pos());
        if (!index.isValid() || index.data(Qt::ToolTipRole).isValid())
            return false;
        QString text = index.data(Qt::DisplayRole).toString();
        QRect cell = m_view->visualRect(index);
        // Room for the text next to a check box or icon is smaller than the
        // cell; allow for it with the style's usual margins.
        int margins =
            2 * m_view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_view) + 2;
        if (index.data(Qt::CheckStateRole).isValid())
            margins += m_view->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, m_view);
        if (!index.data(Qt::DecorationRole).isNull())
            margins += m_view->iconSize().width();
        if (text.isEmpty() ||
            m_view->fontMetrics().horizontalAdvance(text) + margins <= cell.width()) {
            QToolTip::hideText();
            event->ignore();
            return true;
        }
        QToolTip::showText(help->globalPos(), text, m_view->viewport());
        return true;
    }

  private:
    QAbstractItemView *m_view;
};

} // namespace

void SetListViewExStyle(QAbstractItemView *view) {
    if (!view)
        return;
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Marked on the view so that a second call does not add a second filter.
    if (!view->property("krvElidedTextTips").toBool()) {
        view->setProperty("krvElidedTextTips", true);
        view->viewport()->installEventFilter(new ElidedTextTips(view));
    }
}

} // namespace krv::setup
