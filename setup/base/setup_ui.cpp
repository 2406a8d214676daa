#include "setup_ui.h"

#include "log.h"
#include "program.h"
#include "system.h"
#include "ui_strings.h"

namespace krv::setup {

SetupUi::SetupUi(SetupWindows *windows, SetupMessages messages)
    : m_windows(windows), m_messages(std::move(messages)) {}
SetupUi::~SetupUi() {
    HideStatusWindow();
}

void SetupUi::SetProductName(std::string_view setupFilePath) {
    m_setupPath = std::string(setupFilePath);
    m_productNameRead = false;
    GetSetupCaption(true);
}

std::string SetupUi::GetSetupCaption(bool rebuild) {
    if (!m_caption.empty() && !rebuild)
        return m_caption;
    if (!m_productNameRead || rebuild) {
        std::string name = m_setupPath;
        if (name.empty() || !GetProductNameOfFile(name))
            name = ProgramBaseName(m_setupPath);
        m_productName = name;
        m_productNameRead = true;
    }
    m_caption = FormatUiString(kSetupCaptionId, m_productName);
    return m_caption;
}

void SetupUi::ShowStatusText(uint32_t id) {
    if (!UiVisible)
        return;
    m_statusText = LoadUiString(id);
    m_statusShown = true;
    if (m_windows)
        m_windows->ShowStatus(GetSetupCaption(), id);
}

void SetupUi::HideStatusWindow() {
    m_statusShown = false;
    if (m_windows)
        m_windows->HideStatus();
}

int SetupUi::ShowMessageOnActiveWindow(const UiTextOrId &text,
                                       const std::optional<UiTextOrId> &caption, unsigned flags) {
    return m_messages.MessageBoxForeground(nullptr, text, caption, flags);
}

ExtractionDialogParts SetupUi::GetExtractionProgressDialog() {
    if (!m_extraction) {
        if (m_windows)
            m_extraction = m_windows->MakeExtractionProgress(GetSetupCaption(), m_messages);
        if (!m_extraction)
            m_extraction = std::make_unique<SilentExtractionProgress>(m_messages);
    }
    return m_extraction->Parts();
}

void SetupUi::ReleaseExtractionProgressDialog() {
    m_extraction.reset();
}

} // namespace krv::setup
