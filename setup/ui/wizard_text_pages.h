// The wizard pages that only show text: the components description over the
// background picture (the first page) and the licence with its accept and
// decline buttons, which gate Next and Finish.
#pragma once

#include "wizard_sheet.h"

#include <QTextBrowser>

class QRadioButton;

namespace krv::setup {

// A read-only rich-text view: no caret, no selection, no context menu; it
// scrolls with the wheel, the keys and its scroll bar. Optionally without a
// background of its own, so the page's picture shows through.
class RichTextView : public QTextBrowser {
  public:
    explicit RichTextView(bool transparent, QWidget *parent = nullptr);
    // Rich text (HTML, or plain text shown as it is).
    void SetRichText(const std::string &text);

  protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
};

class ComponentsTextPage : public WizardPage {
  public:
    explicit ComponentsTextPage(WizardSheet &sheet);
    void OnSetActive() override;
    int OnWizardNext() override;
    RichTextView *Text() const { return m_text; }

  private:
    RichTextView *m_text;
};

class LicensePage : public WizardPage {
  public:
    explicit LicensePage(WizardSheet &sheet);
    void OnSetActive() override;
    int OnWizardNext() override;
    // The accept button is checked (read by the sheet's Finish rule).
    bool Accepted() const { return m_accepted; }
    // Back when the components text comes before; Next when accepted;
    // Finish when accepted and the mandatory prerequisites are handled.
    void UpdateLicenseButtons();
    QRadioButton *AcceptButton() const { return m_accept; }
    QRadioButton *DeclineButton() const { return m_decline; }
    RichTextView *Text() const { return m_text; }

  private:
    RichTextView *m_text;
    QRadioButton *m_accept;
    QRadioButton *m_decline;
    bool m_accepted = false;
};

} // namespace krv::setup
