// The prerequisites manager that the wizard pages, the basic progress
// dialog and the silent run share: it selects what needs action, downloads
// what must be downloaded (and checks it), opens the web sites of what the
// user fetches by hand, and installs the rest through a LaunchList.
#pragma once

#include "download_list.h"
#include "extraction_progress.h"
#include "files.h"
#include "launch_list.h"
#include "prerequisite_model.h"
#include "resume.h"
#include "settings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

class CredentialProvider;
class PayloadArchive;
class RegistryValue;
class SetupUi;
class SetupWindows;

// What the manager needs of the package: where a prerequisite's setup file
// will be extracted, and the extraction of the sets that hold them.
class PrerequisitePackage {
  public:
    virtual ~PrerequisitePackage() = default;
    // The set id of the package entry (setup file, else group) of that name,
    // -1 when there is none; outPath receives where it is (or will be).
    virtual int FindPrerequisiteFile(std::string_view name, std::string &outPath) = 0;
    // A result code (0 success).
    virtual int ExtractEntries(const std::vector<uint32_t> &setIds,
                               const ExtractionDialogParts &sinks) = 0;
    // The detection program a search names, extracted; empty when the
    // package does not carry it.
    virtual std::string DetectionProgramPath(const SearchRecord &search) = 0;
};

// The payload archive as the manager's package.
class ArchivePrerequisitePackage : public PrerequisitePackage {
  public:
    explicit ArchivePrerequisitePackage(PayloadArchive &archive) : m_archive(archive) {}
    int FindPrerequisiteFile(std::string_view name, std::string &outPath) override;
    int ExtractEntries(const std::vector<uint32_t> &setIds,
                       const ExtractionDialogParts &sinks) override;
    std::string DetectionProgramPath(const SearchRecord &search) override;

  private:
    PayloadArchive &m_archive;
};

// Writes an Internet shortcut for the URL (a ".url" file in the temporary
// folder, which stays) and opens the URL in the desktop's handler (started
// through `programs` when no windows take it). False when the shortcut
// cannot be written.
bool OpenInternetShortcut(const std::string &url, SetupWindows *windows = nullptr,
                          const platform::ProcessLauncher &programs = {});

// What the prerequisites are handed: detection, the pause after a setup
// that needs the system to settle, how setups start and a restart is asked
// for (empty members take the machine's own answers), and the command a
// restart runs, read when the resume is registered (empty: nothing to
// register). Every member starts empty, so callers name only what they
// hand in.
struct PrerequisiteServices {
    PrerequisiteProbe probe{};
    LaunchPause launchPause{};
    std::function<ResumeCommand()> resumeCommand{};
    platform::ProcessLauncher programs{}; // starts setups and the site opener
    platform::RebootRequester reboot{};   // the restart a setup asks for
    // What the downloads answer a server or proxy that asks (null: nothing).
    CredentialProvider *credentials = nullptr;
    SetupMessages messages{}; // errors and the restart question
};

class PrerequisiteInstaller {
  public:
    // Receives the selected indices ("0,2") before a run, to keep them for a
    // resume (the runner's /prereqs).
    using SelectionCallback = std::function<void(const std::string &list)>;

    // The package, the store and the user interface may be null. The
    // system's probe answers the detection after an install; without a
    // resolver of its own it finds detection programs in the package.
    PrerequisiteInstaller(SelectionCallback onSelection, SetupSettings &settings,
                          RegistryValue *resultStore, PrerequisitePackage *package, SetupUi *ui,
                          PrerequisiteServices system = {});
    virtual ~PrerequisiteInstaller();
    PrerequisiteInstaller(const PrerequisiteInstaller &) = delete;
    PrerequisiteInstaller &operator=(const PrerequisiteInstaller &) = delete;

    int GetPrerequisiteState(int index) const;
    bool IsSelected(int index) const;
    void SelectAllPrerequisites(bool onlyPackageFiles);
    bool AnyPrerequisiteToProcess() const;
    bool AnyPrerequisiteToOpenSite() const;
    bool AnyPrerequisiteToInstall() const;
    bool MandatoryPrerequisitesDone() const;
    // The indices of the mandatory prerequisites that are not installed:
    // still to be processed, deselected while still missing (a failed
    // download), or whose download, extraction or start failed.
    std::vector<int> MissingMandatoryPrerequisites() const;
    void SetPrerequisiteDownloadFolder(const std::string &folder);
    void PublishSelection();
    // Detects the record again; true when a version is now found.
    virtual bool RedetectPrerequisite(int index);

    // The three passes with one progress count; the sink may be null.
    int ProcessPrerequisites(ProgressSink *sink);
    // 0, or 5 when a downloaded file was rejected (wrong size or MD5).
    int DownloadPass(ProgressSink *sink);
    int OpenSitesPass(ProgressSink *sink);
    // launch_result of the last item run, or the extraction's result code.
    int InstallPass(ProgressSink *sink);
    // 0, or the extraction's result code.
    int BuildLaunchList(bool fromInstallPass);
    // The resume entry was written because setups were about to run: a
    // stop from then on may be the restart one of them started.
    bool ResumeEntryForLaunches() const { return m_resumeEntryForLaunches; }
    // The launches are over: unless a restart is pending or a stop came
    // while they ran, a stop again removes the entry written for them.
    void LaunchesEnded();

    // Stops the install pass before its next item.
    void Abort() { m_abort = true; }
    DownloadList &Downloads() { return m_downloads; }
    LaunchList &Launches() { return m_launches; }
    // How this run starts programs (its setups, the site opener).
    const platform::ProcessLauncher &Programs() const { return m_programs; }
    SetupSettings &Settings() { return m_settings; }

  private:
    // The download list's sink: passes on only cancel and pause.
    class RelaySink : public ProgressSink {
      public:
        explicit RelaySink(PrerequisiteInstaller &owner) : m_owner(owner) {}
        bool IsCancelled() override;
        bool IsPaused() override;

      private:
        PrerequisiteInstaller &m_owner;
    };

    void RefreshDownloaded(int index);
    std::string TargetPathOf(const PrerequisiteRecord &record) const;
    // The record's download on disk is this user's own (OpenOwnFile): with
    // checkContent, in a folder only this user writes and with its ExactSize
    // and MD5 (a download to skip); without, as it must be to be started.
    // The file taken, or none.
    OwnFile TrustedDownload(const PrerequisiteRecord &record, bool checkContent) const;
    void ReportRejectedDownload(const PrerequisiteRecord &record, bool wrongSize);
    void MarkFailed(int32_t index, bool failed);

    SelectionCallback m_onSelection;
    SetupSettings &m_settings;
    PrerequisitePackage *m_package;
    PrerequisiteProbe m_probe;
    std::function<ResumeCommand()> m_resumeCommand;
    platform::ProcessLauncher m_programs;
    SetupUi *m_ui;
    RelaySink m_relay{*this};
    DownloadList m_downloads;
    // The launches' pause after a setup, during which a stop keeps the
    // resume entry.
    LaunchPause SettlingPause(LaunchPause pause);
    LaunchList m_launches;
    std::atomic<ProgressSink *> m_outer{nullptr};
    RegistryValue *m_store;
    SetupMessages m_messages; // after the lists, which copy it first
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_resumeEntryForLaunches{false};
    std::string m_resumeEntryFile; // the entry written for the launches
    // Prerequisites whose download or extraction failed in this run.
    std::vector<bool> m_failed;
};

} // namespace krv::setup
