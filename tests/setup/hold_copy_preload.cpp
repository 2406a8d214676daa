// Preloaded into the setup program by the end-to-end test of a stop during
// an extraction (never part of the program): the kernel copy that would
// add to a file already holding bytes first names that file in
// $KRV_TEST_HELD and waits until $KRV_TEST_RELEASE exists, once per
// process. The test stops the setup in between, while the extraction is
// certainly under way.
#include <atomic>
#include <climits>
#include <cstdlib>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using CopyFileRange = ssize_t (*)(int, off64_t *, int, off64_t *, size_t, unsigned int);

std::atomic<bool> g_held{false};

void HoldOnce(int out) {
    const char *held = std::getenv("KRV_TEST_HELD");
    const char *release = std::getenv("KRV_TEST_RELEASE");
    struct stat info {};
    if (!held || !release || ::fstat(out, &info) != 0 || info.st_size == 0 || g_held.exchange(true))
        return;
    char path[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(out);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path);
    const std::string temporary = std::string(held) + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        if (length > 0 && ::write(fd, path, static_cast<size_t>(length)) != length)
            ::unlink(temporary.c_str());
        ::close(fd);
        ::rename(temporary.c_str(), held);
    }
    // At most a minute, so a test that never releases does not leave the
    // setup waiting for ever.
    for (int i = 0; i < 6000 && ::access(release, F_OK) != 0; ++i)
        ::usleep(10000);
}

} // namespace

extern "C" ssize_t copy_file_range(int in, off64_t *inOffset, int out, off64_t *outOffset,
                                   size_t length, unsigned int flags) {
    static const auto real = reinterpret_cast<CopyFileRange>(::dlsym(RTLD_NEXT, "copy_file_range"));
    HoldOnce(out);
    return real(in, inOffset, out, outOffset, length, flags);
}
