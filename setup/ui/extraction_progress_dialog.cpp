#include "extraction_progress_dialog.h"

#include "progress_window.h"
#include "ui_dispatcher.h"

#include <QProgressBar>

namespace krv::setup {

ExtractionProgressDialog::ExtractionProgressDialog(std::string caption, SetupMessages messages)
    : ExtractionProgress(std::move(messages)), m_caption(std::move(caption)) {
    m_window = new ProgressWindow(ActiveOwner());
    m_window->setWindowTitle(QString::fromStdString(m_caption));
    m_window->SetCancelHandler([this] { Cancel(); });
    m_window->SetReadyHandler([this] { WindowReady(); });
}

ExtractionProgressDialog::~ExtractionProgressDialog() {
    if (m_window) {
        if (m_window->isVisible())
            m_window->done(dialog_result::kFinished);
        delete m_window.data();
    }
}

int ExtractionProgressDialog::RunWindow() {
    if (!m_window)
        return dialog_result::kCancelled;
    SetBarRange(m_window->Bar(), static_cast<int>(std::min<uint32_t>(m_range, INT32_MAX)));
    m_window->Bar()->setValue(0);
    m_window->SetCancellable(!NotCancellable());
    m_window->TextLine()->SetFullText(QString());
    m_shown = true;
    const int result = m_window->RunModal();
    m_shown = false;
    return result;
}

void ExtractionProgressDialog::EndWindow(int result) {
    if (!m_shown)
        return;
    QPointer<ProgressWindow> window = m_window;
    UiDispatcher::Post(window, [window, result] {
        if (window && window->isVisible())
            window->done(result);
    });
}

void ExtractionProgressDialog::ShowRange(uint32_t range) {
    m_range = range;
    QPointer<ProgressWindow> window = m_window;
    UiDispatcher::Post(window, [window, range] {
        if (window)
            SetBarRange(window->Bar(), static_cast<int>(std::min<uint32_t>(range, INT32_MAX)));
    });
}

void ExtractionProgressDialog::ShowPosition(uint32_t position) {
    QPointer<ProgressWindow> window = m_window;
    UiDispatcher::Post(window, [window, position] {
        if (window)
            window->Bar()->setValue(static_cast<int>(std::min<uint32_t>(position, INT32_MAX)));
    });
}

void ExtractionProgressDialog::ShowTexts(const Texts &texts) {
    QPointer<ProgressWindow> window = m_window;
    const QString line = QString::fromStdString(texts.line);
    const QString tip = QString::fromStdString(texts.tooltip);
    UiDispatcher::Post(window, [window, line, tip] {
        if (!window)
            return;
        window->TextLine()->SetFullText(line);
        window->TextLine()->setToolTip(tip);
    });
}

} // namespace krv::setup
