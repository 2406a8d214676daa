#include "run_stop.h"

#include "files.h"
#include "log.h"
#include "paths.h"

#include <setup_process.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include <unistd.h>

namespace krv::setup {

namespace {

struct Removal {
    std::string path;
    bool folder = false;
};

std::mutex &RemovalLock() {
    static std::mutex lock;
    return lock;
}

std::vector<Removal> &Removals() {
    static std::vector<Removal> removals;
    return removals;
}

} // namespace

void AddRemovedOnStop(const std::string &path, bool folder) {
    if (path.empty())
        return;
    std::lock_guard guard(RemovalLock());
    Removals().push_back({path, folder});
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
        if (removal.folder) {
            DeleteFolderTree(native);
            ::rmdir(native.c_str());
        } else {
            ::unlink(native.c_str());
        }
    }
}

std::string StoppedBySignalLine(int signal) {
    return "Setup was stopped by signal " + std::to_string(signal) + " (" + ::strsignal(signal) +
           "); what it had started has ended.";
}

void EndRunsByStopAction() {
    platform::SetStopAction([](int signal) {
        RemoveWhatAStopTakes();
        LogLine(StoppedBySignalLine(signal));
        if (LoggingEnabled) {
            std::string line = "Code returned to Windows by setup:";
            AppendLogInt(line, 128 + signal);
            WriteLogLine(line);
        }
        // The run's own thread may still log until the process ends.
        EndLogForGood();
    });
}

} // namespace krv::setup
