// Version notes read from files without loading them.
#include "version_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string DriverPath() {
    const char *bin = std::getenv("KRV_TEST_BIN");
    return std::string(bin ? bin : ".") + "/libKRV_T100DRV.so";
}

std::string WriteTemp(const std::vector<char> &bytes) {
    char name[] = "/tmp/krv-version-XXXXXX";
    int fd = ::mkstemp(name);
    EXPECT_GE(fd, 0);
    if (!bytes.empty()) {
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    ::close(fd);
    return name;
}

} // namespace

TEST(VersionInfo, TheDriverCarriesItsVersion) {
    auto version = krv::platform::ReadFileVersion(DriverPath());
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->major, 2);
    EXPECT_EQ(version->minor, 0);
    EXPECT_EQ(version->release, 2);
}

TEST(VersionInfo, MissingForeignAndCutFilesHaveNoVersion) {
    EXPECT_FALSE(krv::platform::ReadFileVersion("/nonexistent/libnothing.so"));
    std::string text = WriteTemp({'h', 'e', 'l', 'l', 'o'});
    EXPECT_FALSE(krv::platform::ReadFileVersion(text));
    ::unlink(text.c_str());

    // The driver cut short at every few hundred bytes: never a read past the end.
    std::ifstream in(DriverPath(), std::ios::binary);
    std::vector<char> whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(whole.size(), 1000u);
    for (size_t cut : {size_t{16}, size_t{64}, whole.size() / 2, whole.size() - 1}) {
        std::string path =
            WriteTemp(std::vector<char>(whole.begin(), whole.begin() + static_cast<long>(cut)));
        (void)krv::platform::ReadFileVersion(path);
        ::unlink(path.c_str());
    }
    // An executable of ours without a note.
    EXPECT_FALSE(krv::platform::ReadFileVersion("/proc/self/exe"));
}

TEST(VersionInfo, PipesAndDevicesAreNotRead) {
    char dir[] = "/tmp/krv-version-dir-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string fifo = std::string(dir) + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(krv::platform::ReadFileVersion(fifo)) << "must not wait for a writer";
    EXPECT_FALSE(krv::platform::ReadFileVersion("/dev/zero")) << "must not read without end";
    ::unlink(fifo.c_str());
    ::rmdir(dir);
}
