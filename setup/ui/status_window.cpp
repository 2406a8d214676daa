#include "status_window.h"

#include "program_icon.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"

#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QVBoxLayout>

namespace krv::setup {

namespace {
constexpr uint32_t kPreparingId = 220;
}

StatusWindow::~StatusWindow() {
    Close();
}

void StatusWindow::Show(QWidget *owner) {
    if (m_shown)
        return;
    m_window = new QDialog(owner, Qt::Window | Qt::WindowTitleHint);
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->setWindowTitle(QString::fromUtf8("Установка"));
    SetProgramIcon(*m_window);
    auto *layout = new QVBoxLayout(m_window);
    m_text = new QLabel(QString::fromStdString(LoadUiString(kPreparingId)), m_window);
    m_text->setObjectName("text1001");
    m_text->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_text);
    const QFontMetrics metrics(m_window->font());
    m_window->resize(190 * metrics.averageCharWidth() / 4 + 8, 49 * metrics.height() / 8 + 16);
    m_window->show();
    m_shown = true;
}

void StatusWindow::SetText(uint32_t id) {
    if (m_window)
        m_text->setText(QString::fromStdString(LoadUiString(id)));
}

void StatusWindow::SetCaption(const std::string &text) {
    if (m_window)
        m_window->setWindowTitle(QString::fromStdString(text));
}

void StatusWindow::Close() {
    if (!m_shown)
        return;
    QPointer<QDialog> window = m_window;
    // On the window's own thread directly; from another one the caller
    // waits until the window has gone.
    UiDispatcher::Ask(window, [window] { delete window.data(); });
    m_text = nullptr;
    m_shown = false;
}

} // namespace krv::setup
