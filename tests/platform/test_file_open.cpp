// The one way a file is opened: whatever stands at the path, the open never
// blocks, only a regular file opens, and whole reads keep to their bound.
#include "file_open.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>

using namespace krv::platform;
namespace fs = std::filesystem;

namespace {

class FileOpenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/krv-fileopen-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Make(const char *name, const std::string &content) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string dir;
};

} // namespace

TEST_F(FileOpenTest, WholeReadsTakeOnlyRegularFilesWithinTheirBound) {
    const std::string pipe = dir + "/pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string zero = dir + "/zero";
    fs::create_symlink("/dev/zero", zero);
    const std::string huge = Make("huge", "x");
    fs::resize_file(huge, 3ull << 30); // sparse: 3 GB that take no room
    struct Case {
        std::string path;
        uint64_t bound;
        FileError error;
        std::string text;
    } cases[] = {
        {Make("small", "a\nb\r\n"), 100, FileError::None, "a\nb\r\n"},
        {Make("empty", ""), 100, FileError::None, ""},
        {Make("exact", "12345"), 5, FileError::None, "12345"},
        {Make("over", "123456"), 5, FileError::TooLarge, ""},
        {huge, 16u << 20, FileError::TooLarge, ""},
        {dir + "/missing", 100, FileError::Missing, ""},
        {dir + "/missing/below", 100, FileError::Missing, ""},
        {dir, 100, FileError::NotRegular, ""},
        {pipe, 100, FileError::NotRegular, ""},
        {zero, 1u << 20, FileError::NotRegular, ""},
    };
    const auto start = std::chrono::steady_clock::now();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        std::string text = "stale";
        EXPECT_EQ(ReadRegularFile(c.path, c.bound, text), c.error);
        EXPECT_EQ(text, c.text);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5))
        << "nothing blocks, nothing is read past its bound";
    // A file of the kernel tells a size of 0 and is still read to its end.
    std::string status;
    EXPECT_EQ(ReadRegularFile("/proc/self/status", 1u << 20, status), FileError::None);
    EXPECT_NE(status.find("Pid:"), std::string::npos);
    EXPECT_EQ(ReadRegularFile("/proc/self/status", 16, status), FileError::TooLarge);
}

TEST_F(FileOpenTest, HandsOverABlockingDescriptorThatNoChildInherits) {
    EXPECT_EQ(OpenRegularFile(dir, O_WRONLY | O_APPEND | O_CREAT).error, FileError::NotRegular);
    OpenedFile log = OpenRegularFile(dir + "/new.log", O_WRONLY | O_APPEND | O_CREAT, 0600);
    ASSERT_TRUE(log);
    EXPECT_EQ(log.error, FileError::None);
    const int flags = ::fcntl(log.fd.get(), F_GETFL);
    EXPECT_EQ(flags & O_NONBLOCK, 0);
    EXPECT_NE(flags & O_APPEND, 0);
    EXPECT_NE(::fcntl(log.fd.get(), F_GETFD) & FD_CLOEXEC, 0);
    ASSERT_EQ(::write(log.fd.get(), "x", 1), 1);
    UniqueFd moved = std::move(log.fd);
    EXPECT_FALSE(log.fd.valid());
    EXPECT_TRUE(moved.valid());
}

TEST_F(FileOpenTest, ReplacingAFileLeavesTheNewTextAndNoTemporaryBehind) {
    const std::string path = Make("values", "old text");
    ASSERT_TRUE(ReplaceFileAtomically(path, "new text", 0600));
    std::string text;
    ASSERT_EQ(ReadRegularFile(path, 64, text), FileError::None);
    EXPECT_EQ(text, "new text");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777 & ~0600, 0u);
    EXPECT_FALSE(ReplaceFileAtomically(dir + "/missing/values", "x"));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator(dir))
        ++entries;
    EXPECT_EQ(entries, 1u); // no temporary file left
}
