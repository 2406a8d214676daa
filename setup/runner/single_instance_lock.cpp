#include "single_instance_lock.h"

#include "files.h"
#include "log.h"
#include "run_stop.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {

bool SingleInstanceLock::TryAcquire(const std::string &name) {
    Release();
    // In a folder only this user can write: in the shared temporary folder
    // another user could make the file first and hold it.
    const std::string folder = UserLockFolder();
    if (folder.empty()) {
        LogLine("Cannot guard against a second setup: no runtime folder of this user.");
        return true;
    }
    const std::string path = folder + "/" + name + ".lock";
    // The run that held the file may have removed it between our open and
    // our lock: a lock on a file no longer at the path guards nothing, so the
    // file at the path is opened again.
    constexpr int kMaxTries = 100;
    int error = 0;
    for (int tries = 0; tries < kMaxTries; ++tries) {
        // Made and registered in one step: a stop's end never falls between.
        const auto hold = HoldStopTakes();
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            error = errno;
            break;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(m_fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            m_path = path;
            m_device = held.st_dev;
            m_inode = held.st_ino;
            AddFileRemovedOnStop(path, m_device, m_inode);
            return true;
        }
        ::close(m_fd);
        m_fd = -1;
        error = ENOENT;
    }
    if (m_fd >= 0 && error == EWOULDBLOCK)
        return false;
    LogLine("Cannot guard against a second setup: " + path + ": " + std::strerror(error));
    Release();
    return true;
}

void SingleInstanceLock::Release() {
    if (m_fd >= 0) {
        // Removed while still held: a run waiting on this file finds it gone
        // and opens the path again. A file put at the path after ours was
        // deleted is another run's, whose lock it is.
        if (!m_path.empty()) {
            UnlinkIfStill(m_path, m_device, m_inode);
            DropRemovedOnStop(m_path);
        }
        ::close(m_fd);
    }
    m_fd = -1;
    m_path.clear();
}

} // namespace krv::setup
