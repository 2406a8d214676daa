// The window the progress dialogs share: a text line that shortens long
// paths in the middle (with the whole text as its tooltip), a progress bar
// and a Cancel button, sized like the setup's other small dialogs.
#pragma once

#include <QDialog>
#include <QLabel>

#include <functional>

class QProgressBar;
class QPushButton;

namespace krv::setup {

// A label that draws its text shortened with "..." in the middle.
class ElidedLabel : public QLabel {
  public:
    using QLabel::QLabel;
    void SetFullText(const QString &text);
    const QString &FullText() const { return m_full; }

  protected:
    void resizeEvent(QResizeEvent *event) override;

  private:
    void Elide();
    QString m_full;
};

class ProgressWindow : public QDialog {
  public:
    explicit ProgressWindow(QWidget *owner);

    ElidedLabel *TextLine() const { return m_text; }
    QProgressBar *Bar() const { return m_bar; }
    QPushButton *CancelButton() const { return m_cancel; }
    // What Cancel and the Close command do; without one they end the
    // window with 2.
    void SetCancelHandler(std::function<void()> handler) { m_onCancel = std::move(handler); }
    // Greys Cancel and ignores the Close command.
    void SetCancellable(bool cancellable);
    // Called once the window is shown and its loop runs.
    void SetReadyHandler(std::function<void()> handler) { m_onReady = std::move(handler); }
    // Shows the window modally over the active window; 1 finished, 2 cancelled.
    int RunModal();

  protected:
    void reject() override;
    void showEvent(QShowEvent *event) override;

  private:
    ElidedLabel *m_text;
    QProgressBar *m_bar;
    QPushButton *m_cancel;
    bool m_cancellable = true;
    std::function<void()> m_onCancel;
    std::function<void()> m_onReady;
};

// The owner a new window is centred on: the active window, if any.
QWidget *ActiveOwner();

// A bar's range 0..maximum. The toolkit draws 0..0 as "busy" (work going on
// at an unknown pace); a bar whose size is not known yet is empty and still.
void SetBarRange(QProgressBar *bar, int maximum);

} // namespace krv::setup
