// One setup of a package at a time, per user: the lock file
// "<name>.lock" in the user's lock folder, held with flock.
#pragma once

#include <string>

#include <sys/types.h>

namespace krv::setup {

// The single-instance lock "Parvext_<package id>": taken by the first run,
// held until the run ends or Release.
class SingleInstanceLock {
  public:
    SingleInstanceLock() = default;
    ~SingleInstanceLock() { Release(); }
    // One owner of the descriptor: a copy would let the lock go twice.
    SingleInstanceLock(const SingleInstanceLock &) = delete;
    SingleInstanceLock &operator=(const SingleInstanceLock &) = delete;

    // True when this run holds the lock now; false when another run of this
    // user holds it. The lock file lies in the user's runtime folder
    // (UserLockFolder). A lock that cannot be made or taken for another
    // reason is logged and gives true: the run goes on unguarded rather than
    // refusing to start. The file goes again with Release (and with a stop
    // that ends the run): it is removed only while held and only while the
    // path still names the file held (one made by a later run after ours
    // was deleted stays), and a run that locked a file which was removed
    // meanwhile takes the new one, so two runs never hold locks on
    // different files of the same name.
    bool TryAcquire(const std::string &name);
    void Release();

  private:
    int m_fd = -1;
    std::string m_path;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

} // namespace krv::setup
