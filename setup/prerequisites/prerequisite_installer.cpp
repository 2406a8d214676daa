#include "prerequisite_installer.h"

#include "credentials.h"
#include "file_open.h"
#include "files.h"
#include "interboot_context.h"
#include "log.h"
#include "md5.h"
#include "messages.h"
#include "paths.h"
#include "payload_archive.h"
#include "prerequisite_model.h"
#include "resume.h"
#include "run_stop.h"
#include "setup_ui.h"
#include "system.h"
#include "ui_strings.h"
#include "url_opener.h"

#include <algorithm>
#include <setup_process.h>
#include <thread>

#include <unistd.h>

namespace krv::setup {
namespace {

constexpr uint32_t kInstallingTextId = 153;  // "Запуск %s..."
constexpr uint32_t kOpeningTextId = 198;     // "Открытие %s..."
constexpr uint32_t kDownloadingTextId = 199; // "Загрузка %s"
constexpr uint32_t kErrorTextId = 215;       // "Ошибка: %s"
constexpr uint32_t kCorruptFileTextId = 139; // wrong MD5, file deleted
constexpr uint32_t kWrongSizeTextId = 186;   // "Неверный размер"
constexpr std::string_view kFileScheme = "file://";

bool NeedsAction(int32_t state) {
    return state == prereq_state::kFromPackage || state == prereq_state::kDownload ||
           state == prereq_state::kOpenSite || state == prereq_state::kDownloaded;
}

void LogPair(std::string_view label, std::string_view value) {
    std::string line(label);
    AppendLogText(line, value);
    LogLine(line);
}

bool Cancelled(ProgressSink *sink) {
    if (sink && sink->IsCancelled()) {
        LogLine("Download was canceled.");
        return true;
    }
    return false;
}

} // namespace

int ArchivePrerequisitePackage::FindPrerequisiteFile(std::string_view name, std::string &outPath) {
    return m_archive.FindPrerequisiteFile(name, outPath);
}

int ArchivePrerequisitePackage::ExtractEntries(const std::vector<uint32_t> &setIds,
                                               const ExtractionDialogParts &sinks) {
    return m_archive.ExtractEntries(setIds, sinks);
}

std::string ArchivePrerequisitePackage::DetectionProgramPath(const SearchRecord &search) {
    std::string path;
    if (m_archive.ExtractNamedEntry(search.searchString, path) != payload_result::kOk)
        return {};
    MakeOwnerExecutable(path);
    return path;
}

bool OpenInternetShortcut(const std::string &url, SetupWindows *windows,
                          const platform::ProcessLauncher &programs) {
    std::string path;
    if (!MakeTempFileNameWithPrefix("URL", path))
        return false;
    ::unlink(ToNativePath(path).c_str());
    path += ".url";
    if (!platform::ReplaceFileAtomically(ToNativePath(path),
                                         "[InternetShortcut]\r\nURL=" + url + "\r\n", 0600))
        return false;
    // The desktop's handler opens web addresses; the shortcut file is what
    // a Windows shell would have opened, kept beside it.
    OpenUrlInDesktop(url, windows, programs);
    return true;
}

bool PrerequisiteInstaller::RelaySink::IsCancelled() {
    return Cancelled(m_owner.m_outer.load());
}

bool PrerequisiteInstaller::RelaySink::IsPaused() {
    ProgressSink *outer = m_owner.m_outer.load();
    return outer && outer->IsPaused();
}

LaunchPause PrerequisiteInstaller::SettlingPause(LaunchPause pause) {
    return [this, pause = std::move(pause)](std::chrono::milliseconds length) {
        // The pause after a setup that may be shutting the machine down: a
        // stop in it is that shutdown's as much as one while the setup ran,
        // and keeps the entry.
        const bool entry = m_resumeEntryForLaunches && !m_resumeEntryFile.empty();
        if (entry)
            DropRemovedOnStop(m_resumeEntryFile);
        if (pause)
            pause(length);
        else
            std::this_thread::sleep_for(length);
        if (entry && !platform::TerminationSignal())
            AddRemovedOnStop(m_resumeEntryFile, false);
    };
}

PrerequisiteInstaller::PrerequisiteInstaller(SelectionCallback onSelection, SetupSettings &settings,
                                             RegistryValue *resultStore,
                                             PrerequisitePackage *package, SetupUi *ui,
                                             PrerequisiteServices system)
    : m_onSelection(std::move(onSelection)), m_settings(settings), m_package(package),
      m_probe(std::move(system.probe)), m_resumeCommand(std::move(system.resumeCommand)),
      m_programs(system.programs), m_ui(ui),
      m_downloads(GetDownloadFolder(settings), false, system.messages),
      m_launches(resultStore, SettlingPause(std::move(system.launchPause)),
                 std::move(system.programs), std::move(system.reboot), system.messages),
      m_store(resultStore), m_messages(std::move(system.messages)) {
    // The user's cache folder keeps downloads cut short for the next run.
    m_downloads.SetKeepPartOnStop(!settings.general.downloadBase.empty() &&
                                  settings.general.downloadFolder == settings.general.downloadBase);
    if (!m_probe.packageFile && m_package)
        m_probe.packageFile = [package](const SearchRecord &search) {
            return package->DetectionProgramPath(search);
        };
    // Detection after an install starts its programs as the setups start.
    if (!m_probe.programs)
        m_probe.programs = m_programs;
    m_downloads.SetCredentialProvider(system.credentials);
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i) {
        const int index = static_cast<int>(i);
        RefreshDownloaded(index);
        SelectPrerequisite(m_settings, index,
                           NeedsAction(EffectivePrerequisiteState(m_settings.prerequisites[i])));
    }
}

PrerequisiteInstaller::~PrerequisiteInstaller() {
    m_launches.WaitLaunchThread();
}

std::string PrerequisiteInstaller::TargetPathOf(const PrerequisiteRecord &record) const {
    return DownloadTargetPath(m_downloads.Folder(), record.folder, record.source);
}

void PrerequisiteInstaller::RefreshDownloaded(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_settings.prerequisites.size())
        return;
    PrerequisiteRecord &record = m_settings.prerequisites[static_cast<std::size_t>(index)];
    const int32_t state = EffectivePrerequisiteState(record);
    if (state != prereq_state::kDownload && state != prereq_state::kDownloaded)
        return;
    if (record.source.rfind(kFileScheme, 0) == 0) {
        record.downloaded = true;
        return;
    }
    record.downloaded = bool(TrustedDownload(record, true));
}

OwnFile PrerequisiteInstaller::TrustedDownload(const PrerequisiteRecord &record,
                                               bool checkContent) const {
    // A file found on disk is started as this user (root, for a machine
    // install): only a file nobody else can have placed or can change stands
    // for a download; anything else is fetched again.
    const std::string path = TargetPathOf(record);
    // Before a start, a file this run downloaded into a sticky folder (the
    // package's own, such as the temporary folder) is still its own.
    OwnFile file = OpenOwnFile(path, !checkContent);
    if (!file) {
        if (file.refusal && FileOrFolderExists(path))
            LogPair("A file found in place of a download is not used:",
                    path + " (" + file.refusal + ")");
        return file;
    }
    if (!checkContent)
        return file;
    if (record.exactSize != 0 && file.size != static_cast<uint32_t>(record.exactSize))
        return OwnFile();
    // Hashed from the file opened and checked, not from whatever the path
    // names by then.
    if (!record.md5.empty() && !VerifyOpenFileMd5(file.fd.get(), record.md5)) {
        LogPair("A file found in place of a download does not have its MD5:", path);
        return OwnFile();
    }
    return file;
}

int PrerequisiteInstaller::GetPrerequisiteState(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_settings.prerequisites.size())
        return prereq_state::kUndetected;
    return ManagerPrerequisiteState(m_settings.prerequisites[static_cast<std::size_t>(index)]);
}

bool PrerequisiteInstaller::IsSelected(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < m_settings.prerequisites.size() &&
           m_settings.prerequisites[static_cast<std::size_t>(index)].selected;
}

void PrerequisiteInstaller::SelectAllPrerequisites(bool onlyPackageFiles) {
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i) {
        const int index = static_cast<int>(i);
        const int32_t state = GetPrerequisiteState(index);
        if (state == prereq_state::kNotSelected || state == prereq_state::kExcluded)
            continue;
        if (onlyPackageFiles && !IsPackageSetupFile(m_settings, index))
            continue;
        DetectPrerequisite(m_settings, index, true, m_probe);
        RefreshDownloaded(index);
        SelectPrerequisite(m_settings, index,
                           NeedsAction(EffectivePrerequisiteState(m_settings.prerequisites[i])));
    }
}

bool PrerequisiteInstaller::AnyPrerequisiteToProcess() const {
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i)
        if (NeedsAction(GetPrerequisiteState(static_cast<int>(i))))
            return true;
    return false;
}

bool PrerequisiteInstaller::AnyPrerequisiteToOpenSite() const {
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i)
        if (GetPrerequisiteState(static_cast<int>(i)) == prereq_state::kOpenSite)
            return true;
    return false;
}

bool PrerequisiteInstaller::AnyPrerequisiteToInstall() const {
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i) {
        const int32_t state = GetPrerequisiteState(static_cast<int>(i));
        if (state == prereq_state::kFromPackage || state == prereq_state::kDownloaded)
            return true;
    }
    return false;
}

bool PrerequisiteInstaller::MandatoryPrerequisitesDone() const {
    return MissingMandatoryPrerequisites().empty();
}

std::vector<int> PrerequisiteInstaller::MissingMandatoryPrerequisites() const {
    std::vector<int> missing;
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i) {
        const PrerequisiteRecord &record = m_settings.prerequisites[i];
        if (!HasPrerequisiteOption(record, 'm'))
            continue;
        const int index = static_cast<int>(i);
        // A record deselected while it still needs action (its download
        // failed) is as missing as one still selected: "not selected" only
        // counts as done for what was found or does not apply here.
        const bool failed = (i < m_failed.size() && m_failed[i]) ||
                            m_launches.SetupDidNotStart(static_cast<int32_t>(index));
        if (failed || record.selected || NeedsAction(EffectivePrerequisiteState(record)))
            missing.push_back(index);
    }
    return missing;
}

void PrerequisiteInstaller::MarkFailed(int32_t index, bool failed) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_settings.prerequisites.size())
        return;
    if (m_failed.size() < m_settings.prerequisites.size())
        m_failed.resize(m_settings.prerequisites.size());
    m_failed[static_cast<std::size_t>(index)] = failed;
}

void PrerequisiteInstaller::SetPrerequisiteDownloadFolder(const std::string &folder) {
    m_downloads.SetFolder(folder);
    LogPair("Download folder set to:", folder);
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i)
        RefreshDownloaded(static_cast<int>(i));
}

void PrerequisiteInstaller::PublishSelection() {
    if (m_onSelection)
        m_onSelection(SelectedPrerequisiteList(m_settings));
}

bool PrerequisiteInstaller::RedetectPrerequisite(int index) {
    DetectPrerequisite(m_settings, index, true, m_probe);
    RefreshDownloaded(index);
    return index >= 0 && static_cast<std::size_t>(index) < m_settings.prerequisites.size() &&
           EffectivePrerequisiteState(m_settings.prerequisites[static_cast<std::size_t>(index)]) ==
               prereq_state::kFound;
}

int PrerequisiteInstaller::ProcessPrerequisites(ProgressSink *sink) {
    uint32_t steps = 0;
    for (const PrerequisiteRecord &record : m_settings.prerequisites) {
        const int32_t state = EffectivePrerequisiteState(record);
        if (state == prereq_state::kDownload)
            steps += 2;
        else if (state == prereq_state::kFromPackage || state == prereq_state::kOpenSite ||
                 state == prereq_state::kDownloaded)
            steps += 1;
    }
    if (sink) {
        sink->Begin(steps + 1, 0);
        sink->BeginItem(steps, {});
    }
    int result = DownloadPass(sink);
    if (sink && sink->IsCancelled())
        return result;
    result = OpenSitesPass(sink);
    if (sink && sink->IsCancelled())
        return result;
    result = InstallPass(sink);
    if (sink)
        sink->EndItem(1);
    return result;
}

void PrerequisiteInstaller::ReportRejectedDownload(const PrerequisiteRecord &record,
                                                   bool wrongSize) {
    // The pass stops here: say why, or the run would go on as if nothing
    // had been fetched for a reason nobody sees.
    const std::string reason = LoadUiString(wrongSize ? kWrongSizeTextId : kCorruptFileTextId);
    m_messages.ReportError(FormatUiString(kErrorTextId, record.name + ": " + reason), false);
}

int PrerequisiteInstaller::DownloadPass(ProgressSink *sink) {
    m_downloads.ClearDownloadList();
    if (sink)
        m_downloads.SetSink(&m_relay);
    m_outer = sink;
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i) {
        const PrerequisiteRecord &record = m_settings.prerequisites[i];
        if (EffectivePrerequisiteState(record) == prereq_state::kDownload)
            m_downloads.AddDownloadItem(record.source, static_cast<uint32_t>(record.exactSize),
                                        static_cast<int32_t>(i), download_item::kPending,
                                        record.folder);
    }
    const std::vector<DownloadItem> items = m_downloads.Items();
    for (std::size_t n = 0; n < items.size(); ++n) {
        const DownloadItem &item = items[n];
        PrerequisiteRecord &record =
            m_settings.prerequisites[static_cast<std::size_t>(item.prerequisiteIndex)];
        if (Cancelled(sink))
            return download_result::kOk;
        if (sink)
            sink->SetStatus({0, FormatUiString(kDownloadingTextId, record.name)});
        LogPair("Starting download of:", record.name);
        // Registered before the file can exist: a stop the moment it is
        // complete takes it, rather than leave it for the next run to use.
        const std::string path = m_downloads.GetDownloadTargetPath(item);
        if (m_settings.general.keepMode != keep_mode::kComplete &&
            m_settings.general.keepMode != keep_mode::kPrereqs)
            m_downloads.RecordFileForDeletion(path);
        const int downloaded = m_downloads.DownloadListItem(n);
        // A stop signal ends the pass as a Cancel does: the run is ending.
        if (platform::TerminationSignal()) {
            LogLine("Download was canceled.");
            return download_result::kOk;
        }
        // A download the user cancelled is no file to check (its ".part"
        // stays for the next run), not one of the wrong size.
        if (Cancelled(sink))
            return download_result::kOk;
        if (downloaded != download_result::kOk) {
            LogPair("Download failed. Error:", GetInternetErrorText(m_downloads.LastError()));
            MarkFailed(item.prerequisiteIndex, true);
            SelectPrerequisite(m_settings, item.prerequisiteIndex, false);
            continue;
        }
        LogLine("Download completed succesfully.");
        uint32_t size = 0;
        const bool wrongSize =
            item.expectedSize != 0 && (!QueryFileSize(path, size) || size != item.expectedSize);
        const bool wrongMd5 =
            !wrongSize && !record.md5.empty() && !VerifyFileMd5(path, record.md5, 0);
        if (wrongSize || wrongMd5) {
            DiscardDownloadedFile(path, m_downloads.Folder());
            LogLine("Downloaded file was rejected.(Invalid size or MD5).");
            MarkFailed(item.prerequisiteIndex, true);
            ReportRejectedDownload(record, wrongSize);
            return download_result::kFailed;
        }
        LogLine("Downloaded file was accepted.");
        MarkFailed(item.prerequisiteIndex, false);
        record.downloaded = true;
    }
    return download_result::kOk;
}

int PrerequisiteInstaller::OpenSitesPass(ProgressSink *sink) {
    // The user installs these by hand, and may restart the machine before
    // coming back: setup starts again by itself. Without a site to act on
    // there is nothing to come back for.
    if (AnyPrerequisiteToOpenSite())
        RegisterResumeCommand(m_resumeCommand ? m_resumeCommand() : ResumeCommand{});
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i) {
        const PrerequisiteRecord &record = m_settings.prerequisites[i];
        if (GetPrerequisiteState(static_cast<int>(i)) != prereq_state::kOpenSite)
            continue;
        if (sink && sink->IsCancelled())
            return 0;
        if (sink)
            sink->SetStatus({0, FormatUiString(kOpeningTextId, record.name)});
        LogPair("Launching URL:", record.source);
        OpenInternetShortcut(record.source, m_ui ? m_ui->Windows() : nullptr, m_programs);
    }
    return 0;
}

int PrerequisiteInstaller::BuildLaunchList(bool fromInstallPass) {
    const std::string PrerequisiteRecord::*line = &PrerequisiteRecord::commandLine;
    if (IsBasicUiMode(m_settings))
        line = &PrerequisiteRecord::basicUiCommandLine;
    else if (IsSilentMode(m_settings))
        line = &PrerequisiteRecord::noUiCommandLine;
    m_launches.ClearLaunchList();
    std::vector<uint32_t> sets;
    std::vector<int32_t> extracted; // the prerequisites of those sets
    std::vector<std::string> ownFiles;
    for (std::size_t i = 0; i < m_settings.prerequisites.size(); ++i) {
        const PrerequisiteRecord &record = m_settings.prerequisites[i];
        const int32_t state = GetPrerequisiteState(static_cast<int>(i));
        LaunchItem item;
        if (state == prereq_state::kFromPackage) {
            const int set =
                m_package ? m_package->FindPrerequisiteFile(record.source, item.file) : -1;
            if (set >= 0) {
                sets.push_back(static_cast<uint32_t>(set));
                extracted.push_back(static_cast<int32_t>(i));
                ownFiles.push_back(item.file);
            }
            item.commandLine = record.*line;
        } else if (state == prereq_state::kDownloaded) {
            if (record.source.rfind(kFileScheme, 0) == 0) {
                item.file = record.source.substr(kFileScheme.size());
            } else if (const OwnFile own = TrustedDownload(record, false)) {
                item.file = TargetPathOf(record);
                item.checkedFile = {own.device, own.inode};
                ownFiles.push_back(item.file);
            } else {
                // It changed hands since it was checked: never started.
                MarkFailed(static_cast<int32_t>(i), true);
                continue;
            }
            item.commandLine = ExpandReferences(record.*line);
        } else {
            continue;
        }
        item.name = record.name;
        item.rebootFlag = HasPrerequisiteOption(record, 'r');
        item.fromInstallPass = fromInstallPass;
        item.prerequisiteIndex = static_cast<int32_t>(i);
        item.retValPropName = record.retValPropName;
        m_launches.AddLaunchItem(std::move(item));
    }
    int result = 0;
    if (!sets.empty() && m_package) {
        ExtractionDialogParts sinks;
        if (!fromInstallPass && m_ui)
            sinks = m_ui->GetExtractionProgressDialog();
        result = m_package->ExtractEntries(sets, sinks);
    }
    for (const int32_t index : extracted)
        MarkFailed(index, result != 0);
    if (result == 0) {
        for (const std::string &file : ownFiles)
            MakeOwnerExecutable(file);
        // What was just extracted starts only as the file written: a file
        // put in its place later, or one reached through a link, does not.
        const std::vector<LaunchItem> &items = m_launches.Items();
        for (std::size_t n = 0; n < items.size(); ++n) {
            if (items[n].checkedFile || std::find(extracted.begin(), extracted.end(),
                                                  items[n].prerequisiteIndex) == extracted.end())
                continue;
            const OwnFile own = OpenOwnFile(items[n].file, true);
            m_launches.SetCheckedFile(n, own ? LaunchItem::CheckedFile{own.device, own.inode}
                                             : LaunchItem::CheckedFile{});
        }
        // A setup about to run may restart the machine itself: the next
        // login must find the way back. The shutdown stops this setup with
        // a signal, so from here on a stop keeps the entry. After a stop
        // nothing is started any more, and nothing brings the user back.
        if (!m_launches.Items().empty() && !platform::TerminationSignal()) {
            const ResumeCommand command = m_resumeCommand ? m_resumeCommand() : ResumeCommand{};
            // Written and registered in one step: a stop's end never falls
            // between.
            const auto hold = HoldStopTakes();
            if (RegisterResumeCommand(command)) {
                m_resumeEntryFile = ResumeEntryPath(command.bootstrapperPath);
                platform::SetFileRemovedOnStop("");
                // A stop that comes while none of them runs (between two,
                // before the first) is no restart of theirs: its end takes
                // the entry, and nothing brings the user back.
                AddRemovedOnStop(m_resumeEntryFile, false);
                m_resumeEntryForLaunches = true;
            }
        }
    }
    return result;
}

int PrerequisiteInstaller::InstallPass(ProgressSink *sink) {
    const int built = BuildLaunchList(true);
    if (built != 0)
        return built;
    int result = launch_result::kRan;
    const std::vector<LaunchItem> &items = m_launches.Items();
    for (std::size_t i = 0; i < items.size() && !m_abort && !platform::TerminationSignal(); ++i) {
        if (sink && sink->IsCancelled())
            break;
        if (sink)
            sink->SetStatus({0, FormatUiString(kInstallingTextId, items[i].name)});
        result = m_launches.RunLaunchItemWithReboot(i, sink == nullptr);
        if (result == launch_result::kFailed || result == launch_result::kReboot)
            break;
    }
    LaunchesEnded();
    return result;
}

void PrerequisiteInstaller::LaunchesEnded() {
    // With no restart to come and no stop while they ran, the setups need
    // the entry no more: a stop from here on removes it again.
    if (!m_resumeEntryForLaunches || m_launches.RebootRequired() || platform::TerminationSignal())
        return;
    m_resumeEntryForLaunches = false;
    platform::SetFileRemovedOnStop(m_resumeEntryFile);
}

} // namespace krv::setup
