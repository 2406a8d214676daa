#include "setup_ui.h"

#include "extraction_progress_dialog.h"
#include "log.h"
#include "program.h"
#include "progress_window.h"
#include "status_window.h"
#include "system.h"
#include "ui_strings.h"

namespace krv::setup {

SetupUi::SetupUi() = default;
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

namespace {

bool WindowsShown() {
    return UiVisible && QtDisplayAvailable();
}

} // namespace

void SetupUi::ShowStatusText(uint32_t id) {
    if (!UiVisible)
        return;
    m_statusText = LoadUiString(id);
    m_statusShown = true;
    if (!WindowsShown())
        return;
    if (!m_statusWindow)
        m_statusWindow = std::make_unique<StatusWindow>();
    m_statusWindow->Show(ActiveOwner());
    m_statusWindow->SetCaption(GetSetupCaption());
    m_statusWindow->SetText(id);
}

void SetupUi::HideStatusWindow() {
    m_statusShown = false;
    if (m_statusWindow)
        m_statusWindow->Close();
}

int SetupUi::ShowMessageOnActiveWindow(const UiTextOrId &text,
                                       const std::optional<UiTextOrId> &caption, unsigned flags) {
    return MessageBoxForeground(nullptr, text, caption, flags);
}

ExtractionDialogParts SetupUi::GetExtractionProgressDialog() {
    if (!m_extraction) {
        if (WindowsShown())
            m_extraction = std::make_unique<ExtractionProgressDialog>(GetSetupCaption());
        else
            m_extraction = std::make_unique<SilentExtractionProgress>();
    }
    return m_extraction->Parts();
}

void SetupUi::ReleaseExtractionProgressDialog() {
    m_extraction.reset();
}

} // namespace krv::setup
