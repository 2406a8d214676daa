#include "support_windows.h"

#include "extraction_progress.h"
#include "instances.h"
#include "program_icon.h"

#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace krv::setup::test {

bool HasProgramIcon(const QWidget &window) {
    const QImage shown = window.windowIcon().pixmap(32, 32).toImage();
    return !shown.isNull() && shown == ProgramIcon().pixmap(32, 32).toImage();
}

std::vector<std::string> ScriptedWindows::OpenedUrls() const {
    std::lock_guard guard(m_lock);
    return m_opened;
}

std::unique_ptr<ExtractionProgress> ScriptedWindows::MakeExtractionProgress(const std::string &,
                                                                            const SetupMessages &) {
    return nullptr;
}

SetupMessages QuietMessages() {
    return SetupMessages(std::make_shared<ScriptedMessageBoxes>());
}

std::unique_ptr<WorkerWindow> ScriptedWindows::MakeWorkerWindow() {
    return worker ? worker() : nullptr;
}

std::optional<std::string> ScriptedWindows::AskPackagePassword(const std::string &caption) {
    return password ? password(caption) : std::nullopt;
}

int ScriptedWindows::SelectInstance(InstalledInstances &instances, const std::string &caption,
                                    const std::string &) {
    if (instance)
        return instance(instances, caption);
    return AcceptInstanceRow(instances, NewInstancePossible(instances), 0) ? 1 : 2;
}

LanguageDialogResult ScriptedWindows::ChooseLanguage(const std::vector<uint16_t> &available,
                                                     uint16_t suggested,
                                                     const std::string &caption) {
    if (language)
        return language(available, suggested, caption);
    return LanguageDialogResult{1, suggested};
}

bool ScriptedWindows::OpenUrl(const std::string &url, const platform::ProcessLauncher &) {
    std::lock_guard guard(m_lock);
    m_opened.push_back(url);
    return true;
}

} // namespace krv::setup::test
