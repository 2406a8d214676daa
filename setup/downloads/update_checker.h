// The check for a newer setup program: an updates file (settings text, one
// section per offered version) is fetched from the settings' UpdatesUrl; the
// first section that offers a newer version applicable to the running one
// is put to the user; on Yes the newer program is downloaded, its size and
// (when given) its MD5 checked, and it is started in place of this run.
//
// Everything read from the updates file is untrusted: the file name to save
// under is reduced to a plain name inside the download folder.
#pragma once

#include "ini.h"
#include "progress_sinks.h"
#include "version.h"

#include <setup_process.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace krv::setup {

class CredentialProvider;
class SetupUi;

// String ids of the checker's questions.
inline constexpr uint32_t kNewerVersionQuestionId = 256; // product name, version
inline constexpr uint32_t kNewerDownloadFailedId = 258;  // error text
inline constexpr uint32_t kCorruptDownloadId = 139;      // wrong MD5, file deleted

// The text after "file://" when the URL begins with exactly that; else empty.
std::string FileUrlToPath(std::string_view url);
// The host name of the URL; empty when it does not parse.
std::string GetUrlHostName(std::string_view url);
// True when the section offers a version newer than `current` that applies
// to it (no "IsPatch" flag, "UpdatedApplicationVersions" items such as
// "<2.0;=2.5").
bool SelectUpdateSection(const IniSection &section, const VersionQuad &current);
// The plain file name a download is saved under: the ServerFileName's last
// path piece, else the URL's, unsafe characters replaced; empty when neither
// gives a usable name ("", ".", "..").
std::string UpdateFileName(std::string_view serverFileName, std::string_view url);

// What the checker found in the updates file.
struct UpdateOffer {
    std::string version;
    std::string url;
    uint64_t size = 0;
    std::string serverFileName; // may be empty
    std::string md5;            // may be empty
};

class UpdateChecker {
  public:
    // `commandLine`: what the newer program is started with (the switches
    // of this run); /exenoupdates is added when missing, so the newer one
    // never checks again. The newer program starts through `launcher`.
    // `credentials`: what the downloads answer a server or proxy that asks
    // (null: nothing, the download fails there).
    UpdateChecker(SetupUi &ui, std::string updatesUrl, std::string_view currentVersion,
                  std::string commandLine = {}, platform::ProcessLauncher launcher = {},
                  CredentialProvider *credentials = nullptr);
    // Deletes the fetched updates file, and a newer version that was not
    // started when it lies in a folder the checker made.
    ~UpdateChecker();
    UpdateChecker(const UpdateChecker &) = delete;
    UpdateChecker &operator=(const UpdateChecker &) = delete;

    // Fetch, parse, ask, download, verify, start: true when the newer
    // program was started (the run then ends). A newer program that does
    // not start is reported, and the run goes on with this version (false).
    bool Run();

    bool FetchUpdatesFile();
    bool ParseUpdatesFile();
    bool AskUser();
    bool DownloadNewerVersion();
    // Checks the MD5 the section gave; a mismatch is reported and a
    // downloaded file deleted.
    bool VerifyNewerVersion();
    bool StartNewerVersion();

    // The download's progress goes to this sink too, beside the download
    // dialog (null: none).
    void SetProgressSink(ProgressSink *sink) { m_forward = sink; }
    // Stops the running download attempt (a user's Cancel).
    void CancelDownload() { m_cancelled = true; }
    // Where downloads go instead of the Downloads folder (tests).
    void SetDownloadFolder(std::string folder) { m_folderOverride = std::move(folder); }
    // The wait before a download retries an unreachable server.
    void SetRetryWaitMs(uint32_t ms) { m_retryWaitMs = ms; }

    const UpdateOffer &Offer() const { return m_offer; }
    const std::string &UpdatesFile() const { return m_updatesFile; }
    const std::string &Target() const { return m_target; }
    // Download attempts made by the last DownloadNewerVersion.
    int Attempts() const { return m_attempts; }

  private:
    class AttemptSink;
    class NewerVersionJob;
    uint32_t DownloadOnce();

    SetupUi &m_ui;
    std::string m_updatesUrl;
    VersionQuad m_current;
    std::string m_commandLine;
    platform::ProcessLauncher m_launcher;
    CredentialProvider *m_credentials;
    std::string m_updatesFolder; // private, made for the updates file
    std::string m_updatesFile;
    UpdateOffer m_offer;
    std::string m_target;
    // Without a Downloads folder: a private folder made for the newer
    // version, kept once that started from it.
    std::string m_newerFolder;
    bool m_started = false;
    bool m_downloaded = false; // the target is ours (not a file:// path)
    ProgressSink *m_forward = nullptr;
    std::atomic<bool> m_cancelled{false};
    std::string m_folderOverride;
    uint32_t m_retryWaitMs = 10000;
    int m_attempts = 0;
};

} // namespace krv::setup
