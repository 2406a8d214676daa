#include "run_stop.h"

#include "files.h"
#include "log.h"
#include "paths.h"

#include <setup_process.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {

namespace {

struct Removal {
    std::string path;
    bool folder = false;
    bool identified = false; // a file removed only while it is this one
    dev_t device = 0;
    ino_t inode = 0;
    bool onlyEmpty = false; // a folder removed only when nothing is left in it
};

std::recursive_mutex &RemovalLock() {
    static std::recursive_mutex lock;
    return lock;
}

std::function<void()> &StopCleanUp() {
    static std::function<void()> cleanUp;
    return cleanUp;
}

std::vector<Removal> &Removals() {
    static std::vector<Removal> removals;
    return removals;
}

} // namespace

void UnlinkIfStill(const std::string &path, dev_t device, ino_t inode) {
    struct stat named {};
    if (::lstat(path.c_str(), &named) == 0 && named.st_dev == device && named.st_ino == inode)
        ::unlink(path.c_str());
}

std::unique_lock<std::recursive_mutex> HoldStopTakes() {
    return std::unique_lock(RemovalLock());
}

void AddRemovedOnStop(const std::string &path, bool folder) {
    if (path.empty())
        return;
    std::lock_guard guard(RemovalLock());
    Removals().push_back({path, folder});
}

void AddFileRemovedOnStop(const std::string &path, dev_t device, ino_t inode) {
    if (path.empty())
        return;
    std::lock_guard guard(RemovalLock());
    Removals().push_back({path, false, true, device, inode});
}

void AddEmptiedOnStop(const std::string &path) {
    if (path.empty())
        return;
    std::lock_guard guard(RemovalLock());
    Removals().push_back({path, true, false, 0, 0, true});
}

void SetStopCleanUp(std::function<void()> cleanUp) {
    std::lock_guard guard(RemovalLock());
    StopCleanUp() = std::move(cleanUp);
}

void DropRemovedOnStop(const std::string &path) {
    std::lock_guard guard(RemovalLock());
    auto &removals = Removals();
    removals.erase(std::remove_if(removals.begin(), removals.end(),
                                  [&](const Removal &removal) { return removal.path == path; }),
                   removals.end());
}

void RemoveWhatAStopTakes() {
    // Held to the end: the run's own thread cannot drop (and then reuse) a
    // path while it goes.
    std::lock_guard guard(RemovalLock());
    for (const Removal &removal : Removals()) {
        const std::string native = ToNativePath(removal.path);
        if (removal.onlyEmpty) {
            continue;
        } else if (removal.folder) {
            DeleteFolderTree(native);
            ::rmdir(native.c_str());
        } else if (removal.identified) {
            UnlinkIfStill(native, removal.device, removal.inode);
        } else {
            ::unlink(native.c_str());
        }
    }
    // Once the files in them went.
    for (const Removal &removal : Removals())
        if (removal.onlyEmpty)
            RemoveEmptyFolders(removal.path);
}

std::string StoppedBySignalLine(int signal) {
    return "Setup was stopped by signal " + std::to_string(signal) + " (" + ::strsignal(signal) +
           "); what it had started has ended.";
}

void EndRunsByStopAction() {
    platform::SetStopAction([](int signal) {
        // First, as the run's own end would: it may wait for the run's
        // thread to finish a step, which may register what it made.
        std::function<void()> cleanUp;
        {
            std::lock_guard guard(RemovalLock());
            cleanUp = StopCleanUp();
        }
        if (cleanUp)
            cleanUp();
        // Kept until the process ends: the run's own thread, which goes on
        // until then, cannot make what this end would have to take.
        HoldStopTakes().release();
        RemoveWhatAStopTakes();
        std::string code = "Code returned to Windows by setup:";
        AppendLogInt(code, 128 + signal);
        // The run's own thread may still log until the process ends: its
        // lines are dropped after these.
        EndLogForGood({StoppedBySignalLine(signal), code});
    });
}

} // namespace krv::setup
