#include "program_copy.h"

#include "files.h"
#include "log.h"
#include "paths.h"
#include "setup_runner.h"
#include "system.h"

#include <file_open.h>
#include <setup_process.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace krv::setup {

namespace flag = payload::container;

bool MountIsRemovable(const std::string &path, const std::string &mountTable,
                      const std::function<bool(const std::string &disk)> &diskRemovable) {
    std::string bestDevice, bestType;
    std::size_t bestLength = 0;
    for (const MountEntry &entry : ParseMountTable(mountTable)) {
        std::string prefix = entry.point;
        AddTrailingBackslash(prefix);
        if ((path.compare(0, prefix.size(), prefix) == 0 || path == entry.point) &&
            entry.point.size() >= bestLength) {
            bestLength = entry.point.size();
            bestDevice = entry.device;
            bestType = entry.type;
        }
    }
    if (bestType == "iso9660" || bestType == "udf")
        return true;
    if (bestDevice.compare(0, 5, "/dev/") != 0)
        return false;
    // The disk of a partition: sdb1 -> sdb (nvme and mmc names keep their
    // digits; their removable flag is on the partition's disk too).
    std::string disk = bestDevice.substr(5);
    while (!disk.empty() && std::isdigit(static_cast<unsigned char>(disk.back())))
        disk.pop_back();
    return diskRemovable && diskRemovable(disk);
}

bool IsOnRemovableMedia(SetupRunner &runner, const std::string &path) {
    if (!(runner.Package().ContainerFlags() & flag::kSeparateFiles))
        return false;
    if (path.size() <= 2 || IsUncPath(path))
        return false;
    return MountIsRemovable(ToNativePath(path), ReadMountTable(), [](const std::string &disk) {
        std::ifstream removable("/sys/block/" + disk + "/removable");
        int value = 0;
        return bool(removable >> value) && value == 1;
    });
}

namespace {

// Copies the program to `target` as a new file of this run's own; 0, or the
// errno of the step that failed. The temporary folder is shared: another
// user may have left a file or a link under that name, to be written through
// or swapped before the copy starts. So whatever stands there is removed
// first and the copy is created anew, never through a link; a name taken
// again in between fails the copy. The folder's sticky bit then keeps others
// from replacing the file.
int CopyProgramFile(const std::string &from, const std::string &target) {
    platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid())
        return errno;
    if (::unlink(target.c_str()) != 0 && errno != ENOENT)
        return errno;
    platform::UniqueFd out(
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700));
    if (!out.valid())
        return errno;
    int error = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        if (!platform::WriteFully(out.get(), buffer.data(), static_cast<std::size_t>(got))) {
            error = errno;
            break;
        }
    }
    if (::close(out.release()) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ::unlink(target.c_str());
    return error;
}

} // namespace

bool CopyAndRelaunch(SetupRunner &runner) {
    const std::string own = runner.OwnModulePath();
    const std::string target =
        GetTempFolder() + std::filesystem::path(ToNativePath(own)).filename().string();
    std::error_code ec;
    // Already the copy in the temporary folder: copying it onto itself and
    // starting it again would only start the same run again, without end.
    if (ToNativePath(own) == target || std::filesystem::equivalent(ToNativePath(own), target, ec)) {
        LogLine("The setup already runs from the temporary folder:" + target);
        return false;
    }
    if (const int error = CopyProgramFile(ToNativePath(own), target)) {
        LogLine("Failed to copy the setup to:" + target + " Error:" + std::strerror(error));
        runner.SetExitCode(1);
        return true;
    }
    SetSwitchValue(runner.Options(), switch_id::kOriginalPath, own);
    const std::string commandLine =
        platform::QuoteArgument(target) + " " + BuildCommandLine(runner.Options(), false);
    runner.Ui().HideStatusWindow();
    // The copy takes the lock of its own: this process lets it go first.
    runner.InstanceLock().Release();
    runner.SetExitCode(
        RunProcessAndWait(target, commandLine, nullptr, 0x8, false, runner.Programs()) ? 0 : 1);
    return true;
}

void SetDeferredDeletePaths(const std::string &path, DeferredDeleteRecord &record) {
    if (path.empty()) {
        record.shortPath.clear();
        record.longPath.clear();
        return;
    }
    // Linux has no short names: both are the path.
    record.shortPath = path;
    record.longPath = path;
}

void DeferredDelete(const DeferredDeleteRecord &record) {
    if (record.shortPath.empty())
        return;
    // The program file of a running process may be removed at once on
    // Linux; the folder form waits for nothing either.
    std::error_code ec;
    const std::string path = ToNativePath(record.longPath);
    if (record.folder)
        std::filesystem::remove_all(path, ec);
    else
        std::filesystem::remove(path, ec);
}

} // namespace krv::setup
