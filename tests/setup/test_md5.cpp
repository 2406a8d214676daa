#include "md5.h"
#include "support_env.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace krv::setup;
namespace fs = std::filesystem;

namespace {

class FileMd5 : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(m_dir.empty()); }
    std::string Write(const std::string &name, const std::string &content) {
        std::string path = m_dir + "/" + name;
        krv::setup::test::WriteFile(path, content);
        return path;
    }
    std::string Hex(const std::string &path, uint64_t trailing) {
        std::string hex;
        EXPECT_TRUE(ComputeFileMd5Hex(path, trailing, hex));
        return hex;
    }

    krv::setup::test::TempDir m_tmp{"md5"};
    const std::string m_dir = m_tmp.path();
};

} // namespace

TEST_F(FileMd5, KnownDigests) {
    // RFC 1321 test suite.
    EXPECT_EQ(Hex(Write("a", "a"), 0), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Hex(Write("abc", "abc"), 0), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(
        Hex(Write(
                "digits",
                "12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            0),
        "57edf4a22be3c955ac49da2e2107b67a");
    Md5Digest raw{};
    ASSERT_TRUE(ComputeFileMd5(m_dir + "/abc", 0, raw));
    EXPECT_EQ(raw[0], 0x90);
    EXPECT_EQ(raw[15], 0x72);
}

TEST_F(FileMd5, TrailingBytesAreLeftOut) {
    // "abc" followed by a 76-byte footer hashes like "abc".
    std::string footer(76, '\xAB');
    std::string path = Write("package", "abc" + footer);
    EXPECT_EQ(Hex(path, 76), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_NE(Hex(path, 0), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_TRUE(VerifyFileMd5(path, "900150983CD24FB0D6963F7D28E17F72", 76));
}

TEST_F(FileMd5, LimitAcrossReadBlocks) {
    // The cut falls inside the second 64 KiB block.
    std::string body(65536 + 1000, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7 + 3);
    std::string whole = Write("body", body);
    std::string padded = Write("padded", body + std::string(5000, 'x'));
    EXPECT_EQ(Hex(padded, 5000), Hex(whole, 0));
    // A limit exactly at a block boundary.
    std::string exact = Write("exact", std::string(65536, 'e') + "tail");
    std::string plain = Write("plain", std::string(65536, 'e'));
    EXPECT_EQ(Hex(exact, 4), Hex(plain, 0));
}

TEST_F(FileMd5, FileNoLongerThanTheTrailingBytesCannotBeHashed) {
    std::string path = Write("short", std::string(76, 'f'));
    std::string hex;
    EXPECT_FALSE(ComputeFileMd5Hex(path, 76, hex));
    EXPECT_FALSE(ComputeFileMd5Hex(path, 100, hex));
    EXPECT_TRUE(ComputeFileMd5Hex(path, 75, hex));
    EXPECT_FALSE(ComputeFileMd5Hex(Write("empty", ""), 0, hex));
    EXPECT_FALSE(ComputeFileMd5Hex(m_dir + "/missing", 0, hex));
    EXPECT_FALSE(ComputeFileMd5Hex(m_dir, 0, hex));
}

TEST_F(FileMd5, VerifyComparesThirtyTwoDigitsInAnyCase) {
    std::string path = Write("abc", "abc");
    EXPECT_TRUE(VerifyFileMd5(path, "900150983cd24fb0d6963f7d28e17f72", 0));
    EXPECT_TRUE(VerifyFileMd5(path, "900150983CD24FB0D6963F7D28E17F72", 0));
    // Characters after the 32nd are not looked at.
    EXPECT_TRUE(VerifyFileMd5(path, "900150983cd24fb0d6963f7d28e17f72 trailing", 0));
    EXPECT_FALSE(VerifyFileMd5(path, "900150983cd24fb0d6963f7d28e17f7", 0));
    EXPECT_FALSE(VerifyFileMd5(path, "", 0));
    EXPECT_FALSE(VerifyFileMd5(path, "900150983cd24fb0d6963f7d28e17f73", 0));
    // Only A..F fold; other upper-case letters never match a digest digit.
    EXPECT_FALSE(VerifyFileMd5(path, "9OO150983cd24fb0d6963f7d28e17f72", 0));
    EXPECT_FALSE(VerifyFileMd5(m_dir + "/missing", "900150983cd24fb0d6963f7d28e17f72", 0));
}
