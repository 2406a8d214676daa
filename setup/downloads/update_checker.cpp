#include "update_checker.h"

#include "command_line.h"
#include "command_line_text.h"
#include "credentials.h"
#include "download_session.h"
#include "files.h"
#include "log.h"
#include "md5.h"
#include "messages.h"
#include "paths.h"
#include "setup_ui.h"
#include "step_progress_dialogs.h"
#include "system.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"

#include <setup_process.h>

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

namespace krv::setup {

namespace {

constexpr std::string_view kFileScheme = "file://";
constexpr std::string_view kDownloadsFolderId = "{374DE290-123F-4565-9164-39C4925E467B}";
// An updates file is a few sections of text; anything far larger is not one.
constexpr uint64_t kUpdatesFileLimit = 4u << 20;
// "The operation was canceled." of the internet error texts.
constexpr uint32_t kOperationCancelled = 12017;

// One item of UpdatedApplicationVersions: an optional operator and a
// version; an item whose version does not parse never holds.
bool VersionItemHolds(std::string_view item, const VersionQuad &running) {
    enum class Op { kEqual, kLess, kLessEqual, kGreater, kGreaterEqual } op = Op::kEqual;
    if (item.starts_with("<=")) {
        op = Op::kLessEqual;
        item.remove_prefix(2);
    } else if (item.starts_with(">=")) {
        op = Op::kGreaterEqual;
        item.remove_prefix(2);
    } else if (item.starts_with("=")) {
        item.remove_prefix(1);
    } else if (item.starts_with("<")) {
        op = Op::kLess;
        item.remove_prefix(1);
    } else if (item.starts_with(">")) {
        op = Op::kGreater;
        item.remove_prefix(1);
    }
    VersionQuad version;
    if (!ParseVersion(item, version))
        return false;
    const int c = CompareVersions(running, version);
    switch (op) {
    case Op::kEqual:
        return c == 0;
    case Op::kLess:
        return c < 0;
    case Op::kLessEqual:
        return c <= 0;
    case Op::kGreater:
        return c > 0;
    case Op::kGreaterEqual:
        return c >= 0;
    }
    return false;
}

// The last piece of a path or URL path, before any query.
std::string LastPiece(std::string_view text) {
    const std::size_t cut = text.find_first_of("?#");
    if (cut != std::string_view::npos)
        text = text.substr(0, cut);
    const std::size_t slash = text.find_last_of("/\\");
    if (slash != std::string_view::npos)
        text.remove_prefix(slash + 1);
    return std::string(text);
}

bool BeginsWithElfMagic(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    return in.read(magic, 4) && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' &&
           magic[3] == 'F';
}

std::optional<uint64_t> FileSize64(const std::string &path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(ToNativePath(path), ec);
    if (ec)
        return std::nullopt;
    return static_cast<uint64_t>(size);
}

void RemoveFile(const std::string &path) {
    ::unlink(ToNativePath(path).c_str());
}

// Stops the updates file's download as soon as it is larger than the limit
// (by the size the server announces, or by the bytes that came): a body that
// large is not an updates file, and no more of it is written.
class SizeCap : public ProgressSink {
  public:
    explicit SizeCap(uint64_t limit) : m_limit(limit) {}
    void BeginItem(uint64_t size, std::string_view) override { m_exceeded |= size > m_limit; }
    void Advance(uint64_t amount) override {
        m_received += amount;
        m_exceeded |= m_received > m_limit;
    }
    bool IsCancelled() override { return m_exceeded; }
    // Read after the download's Wait: the worker set it.
    bool Exceeded() const { return m_exceeded; }

  private:
    const uint64_t m_limit;
    uint64_t m_received = 0;
    bool m_exceeded = false;
};

void LogUpdatesTooLarge() {
    LogLine("Downloading of updates stopped: the updates file is larger than " +
            std::to_string(kUpdatesFileLimit) + " bytes.");
}

} // namespace

// The download's sink: reports to the dialog and to the caller's sink, and
// holds the cancel flag of one attempt.
class UpdateChecker::AttemptSink : public ProgressSink {
  public:
    AttemptSink(ProgressSink &dialog, ProgressSink *forward, std::atomic<bool> &cancelled)
        : m_sinks{&dialog, forward}, m_cancelled(cancelled) {}
    void BeginItem(uint64_t size, std::string_view name) override {
        Each([&](ProgressSink &s) { s.BeginItem(size, name); });
    }
    void EndItem(int result) override {
        Each([&](ProgressSink &s) { s.EndItem(result); });
    }
    void SetStatus(const ProgressStatus &status) override {
        Each([&](ProgressSink &s) { s.SetStatus(status); });
    }
    void Advance(uint64_t amount) override {
        Each([&](ProgressSink &s) { s.Advance(amount); });
    }
    bool IsCancelled() override {
        return m_cancelled || m_sinks[0]->IsCancelled() ||
               (m_sinks[1] && m_sinks[1]->IsCancelled());
    }
    bool IsPaused() override { return m_sinks[1] && m_sinks[1]->IsPaused(); }
    void OnError(std::string_view text, uint32_t code) override {
        Each([&](ProgressSink &s) { s.OnError(text, code); });
    }

  private:
    template <typename Call> void Each(Call call) {
        for (ProgressSink *sink : m_sinks)
            if (sink)
                call(*sink);
    }
    ProgressSink *m_sinks[2];
    std::atomic<bool> &m_cancelled;
};

// The newer program as the download dialog's one item.
class UpdateChecker::NewerVersionJob : public DownloadJob {
  public:
    explicit NewerVersionJob(UpdateChecker &checker) : m_checker(checker) {}
    uint32_t ItemCount() const override { return 1; }
    bool DownloadItem(uint32_t, ProgressSink &dialog) override {
        AttemptSink sink(dialog, m_checker.m_forward, m_checker.m_cancelled);
        DownloadSession session(m_checker.m_credentials, std::string(), &sink,
                                m_checker.m_ui.Messages());
        session.SetRetryWait(std::chrono::milliseconds(m_checker.m_retryWaitMs));
        code = session.Start(m_checker.m_offer.url, m_checker.m_target, nullptr, true,
                             std::string(), false);
        if (code == 0)
            code = session.Wait();
        return code == 0;
    }
    uint32_t code = 0;

  private:
    UpdateChecker &m_checker;
};

std::string FileUrlToPath(std::string_view url) {
    if (!url.starts_with(kFileScheme))
        return {};
    return std::string(url.substr(kFileScheme.size()));
}

std::string GetUrlHostName(std::string_view url) {
    UrlParts parts;
    if (!CrackUrl(std::string(url), parts))
        return {};
    return parts.host;
}

bool SelectUpdateSection(const IniSection &section, const VersionQuad &current) {
    if (const std::string *flags = FindIniValue(section, "Flags");
        flags && flags->find("IsPatch") != std::string::npos)
        return false;
    const std::string *offered = FindIniValue(section, "ProductVersion");
    if (!offered)
        return false;
    VersionQuad version;
    ParseVersion(*offered, version);
    if (CompareVersions(version, current) <= 0)
        return false;
    const std::string *applies = FindIniValue(section, "UpdatedApplicationVersions");
    if (!applies)
        return true;
    std::string_view rest = *applies;
    for (;;) {
        const std::size_t semicolon = rest.find(';');
        if (VersionItemHolds(rest.substr(0, semicolon), current))
            return true;
        if (semicolon == std::string_view::npos)
            return false;
        rest.remove_prefix(semicolon + 1);
    }
}

std::string UpdateFileName(std::string_view serverFileName, std::string_view url) {
    std::string name = LastPiece(serverFileName);
    if (name.empty()) {
        UrlParts parts;
        if (CrackUrl(std::string(url), parts))
            name = LastPiece(parts.path);
    }
    SanitizeFileName(name);
    if (name.empty() || name == "." || name == "..")
        return {};
    return name;
}

UpdateChecker::UpdateChecker(SetupUi &ui, std::string updatesUrl, std::string_view currentVersion,
                             std::string commandLine, platform::ProcessLauncher launcher,
                             CredentialProvider *credentials)
    : m_ui(ui), m_updatesUrl(std::move(updatesUrl)), m_commandLine(std::move(commandLine)),
      m_launcher(std::move(launcher)), m_credentials(credentials) {
    ParseVersion(currentVersion, m_current);
    if (!FindSwitch(ParseCommandLine(m_commandLine), switch_id::kExeNoUpdates))
        m_commandLine = m_commandLine.empty() ? "/exenoupdates" : "/exenoupdates " + m_commandLine;
}

UpdateChecker::~UpdateChecker() {
    if (!m_updatesFolder.empty()) {
        DeleteFolderTree(m_updatesFolder);
        ::rmdir(ToNativePath(m_updatesFolder).c_str());
    }
    if (!m_newerFolder.empty() && !m_started) {
        DeleteFolderTree(m_newerFolder);
        ::rmdir(ToNativePath(m_newerFolder).c_str());
    }
}

bool UpdateChecker::Run() {
    if (!FetchUpdatesFile() || !ParseUpdatesFile() || !AskUser() || !DownloadNewerVersion() ||
        !VerifyNewerVersion())
        return false;
    if (StartNewerVersion())
        return true;
    // Nothing was started: this run goes on and installs its own version.
    m_ui.Messages().ReportError("Cannot start the newer version of the setup: " + m_target, false);
    return false;
}

bool UpdateChecker::FetchUpdatesFile() {
    // A folder of our own: a name in the shared temporary folder could be
    // taken by someone else's link between choosing it and writing it.
    if (m_updatesFolder.empty()) {
        m_updatesFolder = MakePrivateTempFolder("upd");
        if (m_updatesFolder.empty())
            return false;
    }
    m_updatesFile = m_updatesFolder + "/updates.ini";
    if (const std::string local = FileUrlToPath(m_updatesUrl); !local.empty()) {
        if (const auto size = FileSize64(local); size && *size > kUpdatesFileLimit) {
            LogUpdatesTooLarge();
            return false;
        }
        std::error_code ec;
        std::filesystem::copy_file(ToNativePath(local), ToNativePath(m_updatesFile),
                                   std::filesystem::copy_options::overwrite_existing, ec);
        if (ec)
            LogLine("Downloading of updates failed. Error:" +
                    GetInternetErrorText(static_cast<uint32_t>(ec.value())));
        return !ec;
    }
    SizeCap cap(kUpdatesFileLimit);
    DownloadSession session(m_credentials, std::string(), &cap, m_ui.Messages());
    session.SetRetryWait(std::chrono::milliseconds(m_retryWaitMs));
    if (session.Start(m_updatesUrl, m_updatesFile, nullptr, true, std::string(), false) != 0)
        return false;
    const uint32_t code = session.Wait();
    if (cap.Exceeded()) {
        RemoveFile(m_updatesFile + ".part");
        LogUpdatesTooLarge();
        return false;
    }
    if (code != 0) {
        LogLine("Downloading of updates failed. Error:" + GetInternetErrorText(code));
        return false;
    }
    return true;
}

bool UpdateChecker::ParseUpdatesFile() {
    const std::optional<uint64_t> size = FileSize64(m_updatesFile);
    if (!size || *size == 0 || *size > kUpdatesFileLimit)
        return false;
    std::string text;
    if (!ReadTextFile(m_updatesFile, text) || text.empty())
        return false;
    IniDocument document;
    ParseIniText(document, text);
    for (const IniSection &section : document.sections) {
        if (!SelectUpdateSection(section, m_current))
            continue;
        const std::string *url = FindIniValue(section, "URL");
        const std::string *sizeText = FindIniValue(section, "Size");
        if (!url || !sizeText)
            continue;
        const std::optional<uint64_t> bytes = ParseDecimal64(*sizeText);
        if (!bytes)
            continue;
        m_offer = UpdateOffer{};
        m_offer.url = *url;
        m_offer.size = *bytes;
        if (const std::string *name = FindIniValue(section, "ServerFileName"))
            m_offer.serverFileName = *name;
        if (const std::string *md5 = FindIniValue(section, "MD5"))
            m_offer.md5 = *md5;
        m_offer.version = *FindIniValue(section, "ProductVersion");
        LogLine("Found a newer version on server. Version found:" + m_offer.version);
        return true;
    }
    LogLine("No newer version found.");
    return false;
}

bool UpdateChecker::AskUser() {
    if (!UiVisible)
        return false;
    const std::string text =
        FormatUiString(kNewerVersionQuestionId, m_ui.GetProductName(), m_offer.version);
    m_ui.HideStatusWindow();
    const int answer = m_ui.ShowMessageOnActiveWindow(text, m_ui.GetSetupCaption(),
                                                      mb::kYesNo | mb::kIconInformation);
    if (answer == answer::kYes) {
        LogLine("User accepted to install a newer version.");
        return true;
    }
    LogLine("User refused to install a newer version.");
    return false;
}

uint32_t UpdateChecker::DownloadOnce() {
    m_cancelled = false;
    NewerVersionJob job(*this);
    // A new dialog for every attempt: a Cancel of the last one must not
    // cancel the retry the user asked for. Its window belongs to the
    // user-interface thread, so it is made, run and destroyed there.
    auto attempt = [&] {
        DownloadProgressDialog dialog(job, m_ui.GetSetupCaption(), m_ui.MakeWorkerWindow());
        return dialog.Run();
    };
    const int result = QCoreApplication::instance() ? UiDispatcher::Ask(qApp, attempt) : attempt();
    if (job.code != 0 && job.code != download_code::kCancelled)
        return job.code;
    return result == dialog_result::kFinished ? 0 : kOperationCancelled;
}

bool UpdateChecker::DownloadNewerVersion() {
    m_attempts = 0;
    m_downloaded = false;
    if (const std::string local = FileUrlToPath(m_offer.url); !local.empty()) {
        m_target = local;
        LogLine("Newer version is at a local URL.");
        return true;
    }
    std::string folder = m_folderOverride;
    if (folder.empty() && !GetKnownFolderPath(kDownloadsFolderId, folder)) {
        // Not under a name of the shared temporary folder, which another
        // user could hold or link elsewhere: a folder of this check's own.
        if (m_newerFolder.empty())
            m_newerFolder = MakePrivateTempFolder("TelmarSetup-new-");
        folder = m_newerFolder;
    }
    AddTrailingBackslash(folder);
    // The name the file is saved under is the name it is checked and
    // started under.
    const std::string name = UpdateFileName(m_offer.serverFileName, m_offer.url);
    if (folder.empty() || name.empty()) {
        LogLine("Failed to download a newer version. Error:no file name");
        return false;
    }
    m_target = folder + name;
    CreateFolderTree(m_target, false);
    for (;;) {
        ++m_attempts;
        const uint32_t code = DownloadOnce();
        std::string error;
        if (code != 0) {
            error = GetInternetErrorText(code);
        } else if (const auto size = FileSize64(m_target); !size || *size != m_offer.size) {
            error = "size " + (size ? std::to_string(*size) : std::string("?")) + " instead of " +
                    std::to_string(m_offer.size);
        } else {
            m_downloaded = true;
            return true;
        }
        RemoveFile(m_target);
        RemoveFile(m_target + ".part");
        // After a stop signal nobody is asked to try again.
        if (m_attempts == 1 && !platform::TerminationSignal()) {
            const int answer = m_ui.ShowMessageOnActiveWindow(
                FormatUiString(kNewerDownloadFailedId, error), m_ui.GetSetupCaption(),
                mb::kRetryCancel | mb::kIconInformation);
            if (answer != answer::kCancel)
                continue;
        }
        LogLine("Failed to download a newer version. Error:" + error);
        return false;
    }
}

bool UpdateChecker::VerifyNewerVersion() {
    if (m_offer.md5.empty() || VerifyFileMd5(m_target, m_offer.md5, 0))
        return true;
    LogLine("The MD5 of the newer version does not match. File:" + m_target);
    // Only a file this check downloaded is deleted; a local one is not ours.
    if (m_downloaded) {
        RemoveFile(m_target);
        m_ui.Messages().ReportMessageId(kCorruptDownloadId, false);
    }
    return false;
}

bool UpdateChecker::StartNewerVersion() {
    const std::string native = ToNativePath(m_target);
    const bool program =
        EqualsIgnoreCase(GetExtension(m_target), ".exe") || BeginsWithElfMagic(native);
    if (program && m_downloaded)
        MakeOwnerExecutable(m_target);
    m_started = ShellExecuteAndWait(m_target, program ? m_commandLine : std::string(), nullptr,
                                    false, m_launcher);
    return m_started;
}

} // namespace krv::setup
