// The wizard page for prerequisites that the user fetches by hand: their
// web sites are opened in the browser, listed with their links (opened again
// by a double click or copied from the context menu), and Finish checks
// again whether they are installed now.
#pragma once

#include "wizard_sheet.h"

class QLabel;
class QMenu;
class QTreeWidget;

namespace krv::setup {

class OpenSitesPage : public WizardPage {
  public:
    explicit OpenSitesPage(WizardSheet &sheet);
    void OnSetActive() override;
    int OnWizardBack() override;
    bool OnWizardFinish() override;

    // Opens the row's link as the double click does.
    void OpenSiteOfRow(int row);
    // The row's link to the clipboard.
    void CopyLinkOfRow(int row);
    QMenu *RowMenu(int row);

    QTreeWidget *List() const { return m_list; }
    QLabel *Hint() const { return m_hint; }

  private:
    QTreeWidget *m_list;
    QLabel *m_hint;
};

} // namespace krv::setup
