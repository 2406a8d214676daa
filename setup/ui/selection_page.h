// The wizard's hub: the list of prerequisites with a check box each, what
// was found of each and what will be done with it, and the hint for the next
// step. Ticking goes to the model at once (with the prerequisite's parents
// and children); a mandatory prerequisite that was not found cannot be
// unticked.
#pragma once

#include "wizard_sheet.h"
#include "wizard_texts.h"

class QLabel;
class QLineEdit;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace krv::setup {

class PrerequisiteSelectionPage : public WizardPage {
  public:
    explicit PrerequisiteSelectionPage(WizardSheet &sheet);
    void OnSetActive() override;
    int OnWizardNext() override;

    // The list again from the model (rows, checks, versions).
    void Fill();
    // Checks and actions from the model, the counts, the hint and buttons.
    void Refresh();
    // Ticks or unticks the row as the user would; false when refused.
    bool SetRowChecked(int row, bool checked);
    // The row's context menu: "Установить" and "Пропустить".
    QMenu *RowMenu(int row);

    QTreeWidget *List() const { return m_list; }
    QLabel *Hint() const { return m_hint; }
    WizardNextAction NextAction() const { return m_nextAction; }
    const SelectionCounts &Counts() const { return m_counts; }

  private:
    void OnItemChanged(QTreeWidgetItem *item);
    int IndexOfRow(const QTreeWidgetItem *item) const;

    QTreeWidget *m_list;
    QLabel *m_hint;
    QLineEdit *m_folder;
    SelectionCounts m_counts;
    WizardNextAction m_nextAction = WizardNextAction::kFinish;
    bool m_filling = false;
    bool m_autoNext = false;
};

} // namespace krv::setup
