#include "ini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(ParseIniText, SectionsAndTrimmedPairs) {
    IniDocument doc;
    ParseIniText(doc, "ignored=before\r\n  [First] \r\n key = value \r\na=b=c\r\nno equals\r\n\r\n"
                      "[ spaced name ]\r\n;comment=kept\r\n\tx\t=\t1\t\r\n");
    ASSERT_EQ(doc.sections.size(), 2u);
    EXPECT_EQ(doc.sections[0].name, "First");
    EXPECT_EQ(doc.sections[0].pairs, (Pairs{{"key", "value"}, {"a", "b=c"}}));
    EXPECT_EQ(doc.sections[1].name, " spaced name ");
    EXPECT_EQ(doc.sections[1].pairs, (Pairs{{";comment", "kept"}, {"x", "1"}}));
}

TEST(ParseIniText, OnlyCrLfEndsALine) {
    IniDocument doc;
    ParseIniText(doc, "[S]\nkey=value\nother=1");
    EXPECT_TRUE(doc.sections.empty()); // one line, neither a section nor inside one
    ParseIniText(doc, "[S]\r\nkey=value\nother=1");
    ASSERT_EQ(doc.sections.size(), 1u);
    EXPECT_EQ(doc.sections[0].pairs, (Pairs{{"key", "value\nother=1"}}));
}

TEST(ParseIniText, ReplacesContentAndKeepsDuplicates) {
    IniDocument doc;
    ParseIniText(doc, "[Old]\r\na=1\r\n");
    ParseIniText(doc, "[S]\r\nk=1\r\nk=2\r\n[S]\r\nk=3\r\n[]\r\nz=0");
    ASSERT_EQ(doc.sections.size(), 3u);
    EXPECT_EQ(FindIniSection(doc, "Old"), nullptr);
    const IniSection *s = FindIniSection(doc, "S");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(*FindIniValue(*s, "k"), "1");
    EXPECT_EQ(FindIniValue(*s, "K"), nullptr);
    EXPECT_EQ(FindIniSection(doc, "s"), nullptr);
    EXPECT_EQ(doc.sections[2].name, "");
}

TEST(ParseIniText, SkipsAByteOrderMarkAtTheStart) {
    IniDocument doc;
    ParseIniText(doc, "\xEF\xBB\xBF[GeneralOptions]\r\nOptions=q");
    ASSERT_NE(FindIniSection(doc, "GeneralOptions"), nullptr);
}

class IniFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_path = std::filesystem::temp_directory_path() /
                 ("krv_ini_" + std::to_string(::getpid()) + ".bin");
        std::ofstream out(m_path, std::ios::binary);
        out << "GARBAGE[S]\r\nk=v\r\nTAIL";
    }
    void TearDown() override { std::filesystem::remove(m_path); }
    std::filesystem::path m_path;
};

TEST_F(IniFileTest, ReadsTheGivenRange) {
    IniDocument doc;
    EXPECT_EQ(ReadIniFromFile(doc, m_path.string(), 7, 10), 0);
    ASSERT_EQ(doc.sections.size(), 1u);
    EXPECT_EQ(doc.sections[0].pairs, (Pairs{{"k", "v"}}));
}

TEST_F(IniFileTest, SizeBeyondTheEndIsCutAndFailuresGiveTwo) {
    IniDocument doc;
    EXPECT_EQ(ReadIniFromFile(doc, m_path.string(), 7, 0xFFFFFFFFull), 0);
    EXPECT_EQ(*FindIniValue(*FindIniSection(doc, "S"), "k"), "v");
    EXPECT_EQ(ReadIniFromFile(doc, m_path.string(), 1000, 10), 2);
    EXPECT_EQ(ReadIniFromFile(doc, m_path.string(), 0, 0), 2);
    EXPECT_EQ(ReadIniFromFile(doc, m_path.string() + ".missing", 0, 10), 2);
    IniDocument empty;
    EXPECT_EQ(ReadIniFromFile(empty, "", 0, 10), 0);
    EXPECT_TRUE(empty.sections.empty());
}

// A settings file far past any real one, or something else than a file in
// its place, fails the read at once: no allocation of its size, no hang.
TEST_F(IniFileTest, HugeFilesAndPipesFailAtOnce) {
    const std::filesystem::path huge = m_path.string() + ".huge";
    { std::ofstream(huge) << "[S]\r\nk=v\r\n"; }
    std::filesystem::resize_file(huge, 3ull << 30);
    const std::filesystem::path pipe = m_path.string() + ".pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    IniDocument doc;
    EXPECT_EQ(ReadIniFromFile(doc, huge.string(), 0, 3ull << 30), 2);
    EXPECT_EQ(ReadIniFromFile(doc, huge.string(), 0, 12), 0) << "a small range of it still reads";
    EXPECT_EQ(ReadIniFromFile(doc, pipe.string(), 0, 10), 2);
    std::filesystem::remove(huge);
    std::filesystem::remove(pipe);
}

} // namespace
} // namespace krv::setup
