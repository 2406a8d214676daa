// A file descriptor that closes itself, and the one way the setup opens a
// file for reading.
#pragma once

#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace krv::setup {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) noexcept : m_fd(fd) {}
    ~UniqueFd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    UniqueFd(UniqueFd &&other) noexcept : m_fd(other.Release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = other.Release();
        }
        return *this;
    }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Hands the descriptor over; the holder no longer closes it.
    int Release() noexcept {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

  private:
    int m_fd;
};

// Opens a file for reading. Non-blocking, so that a named pipe standing
// where a file was expected fails its checks instead of hanging the open;
// reads of a regular file are not affected.
inline UniqueFd OpenForReading(const std::string &nativePath) {
    return UniqueFd(::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
}

} // namespace krv::setup
