#include "launch_list.h"

#include "files.h"
#include "interboot_context.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "resume.h"
#include "system.h"
#include "ui_dispatcher.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>

namespace krv::setup {
namespace {

constexpr std::chrono::milliseconds kSettlingPause{2000};
constexpr uint32_t kRebootQuestionId = 216;
constexpr uint32_t kRebootCaptionId = 217;

// A checked download is started only while its path names the same file
// under the same terms: what the path names is looked at again right before
// the start, so a file put in its place since the check is never run.
bool StillTheCheckedFile(const LaunchItem &item) {
    if (!item.checkedFile)
        return true;
    const OwnFile now = OpenOwnFile(item.file, true);
    if (now && now.device == item.checkedFile->device && now.inode == item.checkedFile->inode)
        return true;
    std::string line = "The file to start is no longer the one that was checked:";
    AppendLogText(line, item.file);
    if (now.refusal)
        AppendLogText(line, std::string(" (") + now.refusal + ")");
    LogLine(line);
    return false;
}

} // namespace

uint32_t LaunchExitCode(const platform::ProcessResult &result) {
    if (!result.started || !result.waited)
        return 0;
    // A signal is not an exit status: reported in the failure range, so the
    // rules for failed setups apply to it.
    if (result.signal > 0)
        return kSignalExitBase + static_cast<uint32_t>(result.signal);
    return result.exitCode;
}

bool NeedsSettlingPause(uint32_t exitCode) {
    return exitCode == kExitRestartRequired || exitCode >= kSignalExitBase;
}

LaunchList::LaunchList(RegistryValue *resultStore, LaunchPause pause,
                       platform::ProcessLauncher programs, platform::RebootRequester reboot,
                       SetupMessages messages)
    : m_store(resultStore), m_pause(std::move(pause)), m_programs(std::move(programs)),
      m_reboot(std::move(reboot)), m_messages(std::move(messages)) {}

LaunchList::~LaunchList() {
    WaitLaunchThread();
}

void LaunchList::AddLaunchItem(LaunchItem item) {
    m_items.push_back(std::move(item));
}

void LaunchList::ClearLaunchList() {
    WaitLaunchThread();
    m_items.clear();
    std::lock_guard guard(m_notStartedLock);
    m_notStarted.clear();
}

bool LaunchList::SetupDidNotStart(int32_t prerequisiteIndex) const {
    std::lock_guard guard(m_notStartedLock);
    return std::find(m_notStarted.begin(), m_notStarted.end(), prerequisiteIndex) !=
           m_notStarted.end();
}

bool LaunchList::RunLaunchItem(std::size_t index) {
    if (index >= m_items.size())
        return false;
    const LaunchItem &item = m_items[index];
    std::string line = "Launching file:";
    AppendLogText(line, item.file);
    LogLine(line);
    const std::string arguments = ExpandReferences(item.commandLine);
    // A setup file the package did not have leaves no path: nothing is
    // handed to the desktop's opener in its place.
    platform::ProcessResult result;
    if (item.file.empty())
        result.startError = ENOENT;
    else if (platform::TerminationSignal())
        result.startError = EINTR; // the run was stopped: nothing starts any more
    else if (!StillTheCheckedFile(item))
        result.startError = EPERM;
    else
        result = ShellExecuteProcess(item.file, arguments, true, false, m_programs);
    const uint32_t exitCode = LaunchExitCode(result);
    {
        std::lock_guard guard(m_notStartedLock);
        std::erase(m_notStarted, item.prerequisiteIndex);
        if (!result.started)
            m_notStarted.push_back(item.prerequisiteIndex);
    }
    if (!result.started) {
        m_lastError = static_cast<uint32_t>(result.startError);
        line = "Launch failed. Error:";
        AppendLogText(line, GetInternetErrorText(m_lastError));
        LogLine(line);
    }
    line = "Return code of launched file:";
    AppendLogULong(line, exitCode);
    LogLine(line);
    // A setup without a result property has nowhere for its code to go; one
    // that never started has no code, and a 0 stored for it would tell the
    // installer that it succeeded.
    if (m_store && result.started && !item.retValPropName.empty())
        m_store->SetInt(item.retValPropName, static_cast<int32_t>(exitCode));
    if (NeedsSettlingPause(exitCode)) {
        if (m_pause)
            m_pause(kSettlingPause);
        else
            std::this_thread::sleep_for(kSettlingPause);
    }
    // A stop while the setup ran, or in the pause after it, may be the
    // shutdown it started: the run, if it still ends by itself, keeps the
    // way back. (A stop before the start found nothing started: EINTR.)
    if (result.started && platform::TerminationSignal())
        m_stopWhileRunning = true;
    return result.started;
}

int LaunchList::RunLaunchItemWithReboot(std::size_t index, bool silent) {
    if (!RunLaunchItem(index))
        return launch_result::kFailed;
    // A stopped run asks for no restart: the stop may be that restart
    // already, or the user ending the setup.
    if (!m_items[index].rebootFlag || platform::TerminationSignal())
        return launch_result::kRan;
    LogLine("Rebooting machine...");
    m_rebootRequired = true;
    AskReboot(silent);
    return launch_result::kReboot;
}

bool LaunchList::AskReboot(bool silent) {
    if (!silent) {
        // Owned by the window that was active when the list started (the
        // active one now when none was kept). The list may run on a worker,
        // and windows are only touched on the user-interface thread.
        const int answer = UiDispatcher::Ask(QCoreApplication::instance(), [this] {
            return m_messages.MessageBoxForeground(m_owner.data(), kRebootQuestionId,
                                                   UiTextOrId(kRebootCaptionId),
                                                   mb::kIconInformation | mb::kYesNo);
        });
        if (answer == answer::kNo) {
            m_rebootRefused = true;
            return false;
        }
    }
    const bool restarting = RebootMachine(m_reboot);
    m_rebootInProgress = restarting;
    return restarting;
}

void LaunchList::StartLaunchThread(ProgressSink *sink) {
    WaitLaunchThread();
    m_rebootRefused = false;
    m_rebootRequired = false;
    m_rebootInProgress = false;
    m_sink = sink;
    m_thread = std::thread([this] { LaunchThread(); });
}

void LaunchList::WaitLaunchThread() {
    if (m_thread.joinable())
        m_thread.join();
}

void LaunchList::LaunchThread() {
    if (m_sink)
        m_sink->BeginItem(m_items.size(), {});
    for (std::size_t i = 0; i < m_items.size() && !platform::TerminationSignal(); ++i) {
        const LaunchItem &item = m_items[i];
        if (m_sink)
            m_sink->SetStatus({0, SkipLongPathPrefix(item.file)});
        if (RunLaunchItem(i)) {
            if (m_sink)
                m_sink->Advance(0);
            if (item.rebootFlag && !platform::TerminationSignal()) {
                m_rebootRequired = true;
                AskReboot(item.fromInstallPass);
                break;
            }
        } else if (m_sink) {
            m_sink->OnError({}, m_lastError);
        }
    }
    if (m_sink)
        m_sink->EndItem(1);
}

} // namespace krv::setup
