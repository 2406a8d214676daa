// The prerequisite setups of a run, started one after the other: each exit
// code is logged and stored under the prerequisite's result property, and a
// prerequisite that needs a restart stops the list and asks for one. The
// list runs on the caller's thread (install pass) or on a thread of its own
// (StartLaunchThread).
#pragma once

#include "messages.h"
#include "progress_sinks.h"

#include <setup_process.h>
#include <setup_reboot.h>

#include <QObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace krv::setup {

class RegistryValue;

struct LaunchItem {
    std::string file;
    std::string commandLine;
    std::string name;
    bool rebootFlag = false;      // Options contain "r"
    bool fromInstallPass = false; // built by the install pass (no question before a restart)
    std::string retValPropName;
    int32_t prerequisiteIndex = -1;
    // A download checked to be this user's own (OpenOwnFile), or a setup
    // file the run extracted itself: its device and inode, which the path
    // must still name as such a file at the start.
    struct CheckedFile {
        uint64_t device = 0;
        uint64_t inode = 0;
    };
    std::optional<CheckedFile> checkedFile;
};

namespace launch_result {
inline constexpr int kRan = 0;
inline constexpr int kFailed = 1;
inline constexpr int kReboot = 2;
} // namespace launch_result

// Exit codes at or above this (as unsigned) are failures of the Windows kind;
// a setup ended by a signal reports this plus the signal number.
inline constexpr uint32_t kSignalExitBase = 0xC0000000u;
// The restart code that prerequisite setups return.
inline constexpr uint32_t kExitRestartRequired = 3010;

// The exit code of a launched setup: its exit status, or kSignalExitBase plus
// the signal that ended it; 0 when it did not start.
uint32_t LaunchExitCode(const platform::ProcessResult &result);
// Codes after which the system is given time to settle: 3010 and the
// signal/failure range.
bool NeedsSettlingPause(uint32_t exitCode);

// The pause after such codes (2000 ms); an empty function sleeps.
using LaunchPause = std::function<void(std::chrono::milliseconds)>;

class LaunchList {
  public:
    // The setups start through `programs` and a restart goes to `reboot`
    // (empty: the machine's own); the restart question goes through the
    // messages.
    LaunchList(RegistryValue *resultStore, LaunchPause pause, platform::ProcessLauncher programs,
               platform::RebootRequester reboot, SetupMessages messages);
    // Waits for a thread run that is still going.
    ~LaunchList();
    LaunchList(const LaunchList &) = delete;
    LaunchList &operator=(const LaunchList &) = delete;

    void AddLaunchItem(LaunchItem item);
    void ClearLaunchList();
    const std::vector<LaunchItem> &Items() const { return m_items; }
    // The file the item's path must name when it starts (see LaunchItem).
    void SetCheckedFile(std::size_t index, LaunchItem::CheckedFile file) {
        if (index < m_items.size())
            m_items[index].checkedFile = file;
    }

    // Starts the item's file and waits for it; true when it started.
    bool RunLaunchItem(std::size_t index);
    // launch_result: 1 it did not start, 0 it ran and needs no restart, 2 a
    // restart was asked for (and the question put unless silent).
    int RunLaunchItemWithReboot(std::size_t index, bool silent);
    // Unless silent, asks the user (text 216, caption 217) on the
    // user-interface thread, which must be processing events when the list
    // runs on another; "No" sets reboot refused. Then the restart; true when
    // it is under way.
    bool AskReboot(bool silent);

    // Runs every item on a worker; the sink (may be null) hears the items
    // and the end (EndItem). The active window becomes the owner of the
    // restart question. Waits for a previous thread run first.
    void StartLaunchThread(ProgressSink *sink);
    // Waits for the thread run (nothing when none runs).
    void WaitLaunchThread();

    uint32_t LastError() const { return m_lastError; }
    // The setup of that prerequisite was on the list and could not be
    // started (until the list is cleared).
    bool SetupDidNotStart(int32_t prerequisiteIndex) const;
    bool RebootRefused() const { return m_rebootRefused; }
    bool RebootRequired() const { return m_rebootRequired; }
    bool RebootInProgress() const { return m_rebootInProgress; }
    // A stop signal came while one of the setups ran (it may be the restart
    // that setup started), not while none did.
    bool StopCameWhileASetupRan() const { return m_stopWhileRunning; }
    void SetOwnerWindow(QObject *owner) { m_owner = owner; }

  private:
    void LaunchThread();

    RegistryValue *m_store;
    LaunchPause m_pause;
    platform::ProcessLauncher m_programs;
    platform::RebootRequester m_reboot;
    SetupMessages m_messages;
    std::vector<LaunchItem> m_items;
    ProgressSink *m_sink = nullptr;
    std::atomic<uint32_t> m_lastError{0};
    std::atomic<bool> m_rebootRefused{false};
    std::atomic<bool> m_rebootRequired{false};
    std::atomic<bool> m_rebootInProgress{false};
    std::atomic<bool> m_stopWhileRunning{false};
    QPointer<QObject> m_owner; // read on the user-interface thread only
    mutable std::mutex m_notStartedLock;
    std::vector<int32_t> m_notStarted;
    std::thread m_thread;
};

} // namespace krv::setup
