// The modeless window that asks the user to wait ("Подготовка..."), shown
// in the taskbar over its owner. Close works from any thread: from another
// thread the window is closed on its own thread and the caller waits until
// it is gone.
#pragma once

#include <QPointer>

#include <cstdint>
#include <string>

class QDialog;
class QLabel;
class QWidget;

namespace krv::setup {

class StatusWindow {
  public:
    StatusWindow() = default;
    ~StatusWindow();
    StatusWindow(const StatusWindow &) = delete;
    StatusWindow &operator=(const StatusWindow &) = delete;

    // Nothing when already shown.
    void Show(QWidget *owner);
    void SetText(uint32_t id);
    void SetCaption(const std::string &text);
    void Close();
    bool Shown() const { return m_shown; }
    QDialog *Window() const { return m_window; }

  private:
    QPointer<QDialog> m_window;
    QLabel *m_text = nullptr;
    bool m_shown = false;
};

} // namespace krv::setup
