// How a run that is stopped from outside (SIGTERM, SIGINT, SIGHUP) ends
// while none of its programs runs: whatever step it is at (a dialog, a
// wizard page, the restart question, between two steps), it removes what
// only it uses, logs the stop and ends with 128 + the signal.
#pragma once

#include <string>

namespace krv::setup {

// A folder (with all it holds) or a file of this run that a stop takes
// away; registered while it exists, dropped again when the run removes or
// keeps it itself.
void AddRemovedOnStop(const std::string &path, bool folder);
void DropRemovedOnStop(const std::string &path);
// Removes what was registered above (the stop action's first step).
void RemoveWhatAStopTakes();

// "Setup was stopped by signal N (name); what it had started has ended."
std::string StoppedBySignalLine(int signal);

// Sets the stop action of the process: removes what was registered above,
// logs StoppedBySignalLine and the exit code, closes the log. Safe beside
// the run's own thread, which goes on until the process ends.
void EndRunsByStopAction();

} // namespace krv::setup
