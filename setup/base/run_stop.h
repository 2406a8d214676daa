// How a run that is stopped from outside (SIGTERM, SIGINT, SIGHUP) ends
// while none of its programs runs: whatever step it is at (a dialog, a
// wizard page, the restart question, between two steps), it removes what
// only it uses, logs the stop and ends with 128 + the signal.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include <sys/types.h>

namespace krv::setup {

// Held across the making of a thing a stop takes and its registration
// below, so that the two are one step to a stop: a stop's end takes this
// hold before it removes anything and keeps it until the process ends, so
// nothing is made after its removal either (the maker waits for the end).
std::unique_lock<std::recursive_mutex> HoldStopTakes();

// A folder (with all it holds) or a file of this run that a stop takes
// away; registered while it exists, dropped again when the run removes or
// keeps it itself.
void AddRemovedOnStop(const std::string &path, bool folder);
// A file a stop removes only while the path still names that file (device
// and inode): one put in its place by someone else stays.
void AddFileRemovedOnStop(const std::string &path, dev_t device, ino_t inode);
// A folder a stop removes only when it is left empty (with the empty
// folders in it), after the removals above: the package's folder of
// resumable downloads, which outlives the run only with something in it.
void AddEmptiedOnStop(const std::string &path);
void DropRemovedOnStop(const std::string &path);
// Unlinks the file (a native path) only while the path names the one of
// that device and inode.
void UnlinkIfStill(const std::string &path, dev_t device, ino_t inode);
// Removes what was registered above (the stop action's first step).
void RemoveWhatAStopTakes();

// What a stop's end does before the removals above, on the stop's thread
// (what the run extracted, removed as its own end would); empty: nothing.
void SetStopCleanUp(std::function<void()> cleanUp);

// "Setup was stopped by signal N (name); what it had started has ended."
std::string StoppedBySignalLine(int signal);

// Sets the stop action of the process: removes what was registered above,
// logs StoppedBySignalLine and the exit code as the log's last lines. Safe
// beside the run's own thread, which goes on until the process ends but
// makes nothing more a stop would take, and writes no line after these.
void EndRunsByStopAction();

} // namespace krv::setup
