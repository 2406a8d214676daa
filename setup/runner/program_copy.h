// A setup started from removable media runs from a copy in the temporary
// folder, so that the medium can be changed while it runs: whether the
// package lies on such a medium, the copy and its start, and the deletion of
// the copy when the run ends.
#pragma once

#include <functional>
#include <string>

namespace krv::setup {

class SetupRunner;

// The file to delete when the runner ends (a copy started from the
// temporary folder deletes itself).
struct DeferredDeleteRecord {
    std::string shortPath;
    std::string longPath;
    bool elevated = false;
    bool folder = false;
};

bool IsOnRemovableMedia(SetupRunner &runner, const std::string &path);
// The mount that holds the path (longest mount point of the table, in the
// form of /proc/self/mounts) is a CD or DVD file system, or a block device
// whose disk `diskRemovable` calls removable.
bool MountIsRemovable(const std::string &path, const std::string &mountTable,
                      const std::function<bool(const std::string &disk)> &diskRemovable);
// Copies the program into the temporary folder and starts the copy; true
// when this run ends with it (exit code 0 when the copy started, else 1).
// False, with nothing copied or started, when the program already is that
// copy.
bool CopyAndRelaunch(SetupRunner &runner);
void SetDeferredDeletePaths(const std::string &path, DeferredDeleteRecord &record);
void DeferredDelete(const DeferredDeleteRecord &record);

} // namespace krv::setup
