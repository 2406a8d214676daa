// The package's parts on their own: the scrambling window across buffers,
// the footer's encoding and package id, entry and member name checks, the
// group size the extraction library reports, and the archive's lookups for
// settings, languages, prerequisites, separate files and the disk-space
// question.
#include "group_reader.h"
#include "md5.h"
#include "package_writer.h"
#include "payload_archive.h"
#include "support_env.h"
#include "support_windows.h"

#include "extraction_progress.h"
#include "files.h"

#include <setup_process.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krv::setup {
namespace {

using namespace payload;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

std::string Noise(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (char &c : out) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = static_cast<char>(state >> 24);
    }
    return out;
}

std::string LibraryPath() {
    return test::BinFolder() + "/libkrv_extraction.so";
}

TEST(PayloadWindowDescrambler, SameResultHoweverTheStreamIsCut) {
    const std::string plain = Noise(3000, 1);
    // Whole stream in one buffer: only the first 512 bytes change.
    std::string whole = plain;
    PayloadWindowDescrambler one;
    one.SetWindowLength(KRV_SCRAMBLE_WINDOW);
    one.Transform(reinterpret_cast<unsigned char *>(whole.data()), whole.size());
    EXPECT_NE(whole.substr(0, 512), plain.substr(0, 512));
    EXPECT_EQ(whole.substr(512), plain.substr(512));
    for (std::size_t cut : {1u, 7u, 511u, 512u, 513u, 1000u}) {
        std::string pieces = plain;
        PayloadWindowDescrambler split;
        split.SetWindowLength(KRV_SCRAMBLE_WINDOW);
        for (std::size_t at = 0; at < pieces.size(); at += cut)
            split.Transform(reinterpret_cast<unsigned char *>(pieces.data()) + at,
                            std::min(cut, pieces.size() - at));
        EXPECT_EQ(pieces, whole) << cut;
    }
    // Its own inverse; a new pass starts at position 0; a cleared window
    // changes nothing.
    one.SetWindowLength(KRV_SCRAMBLE_WINDOW);
    one.Transform(reinterpret_cast<unsigned char *>(whole.data()), whole.size());
    EXPECT_EQ(whole, plain);
    one.ClearWindowLength();
    one.Transform(reinterpret_cast<unsigned char *>(whole.data()), whole.size());
    EXPECT_EQ(whole, plain);
}

TEST(PayloadFormat, FooterRoundTripAndPackageIdIsTheMd5WithoutTheFooter) {
    PayloadFooter footer;
    footer.nameCount = 2;
    footer.nameTableOffset = 0x01020304;
    footer.entryCount = 3;
    footer.footerDistance = 0xA0B0C0D0;
    footer.entryTableOffset = 77;
    footer.flags = 0x1FFF;
    std::memcpy(footer.packageId.data(), "0123456789abcdef0123456789abcdef", kPackageIdSize);
    const auto bytes = EncodeFooter(footer);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&bytes[64]), 10), PayloadMagic());
    EXPECT_EQ(bytes[4], 0x04); // little-endian
    const PayloadFooter back = DecodeFooter(bytes.data());
    EXPECT_TRUE(back.magicPresent);
    EXPECT_EQ(back.nameTableOffset, footer.nameTableOffset);
    EXPECT_EQ(back.footerDistance, footer.footerDistance);
    EXPECT_EQ(back.flags, footer.flags);
    EXPECT_EQ(back.packageId, footer.packageId);

    TempDir dir("parts");
    const std::string program = dir.path() + "/program";
    WriteFile(program, Noise(3000, 2));
    package::PackageWriter writer(program);
    writer.AddBytes(0, 1, "a", "content");
    std::string error;
    ASSERT_TRUE(writer.Write(dir.path() + "/setup", error)) << error;
    EXPECT_FALSE(fs::exists(dir.path() + "/setup.part"));
    PayloadArchive archive;
    archive.SetArchivePath(dir.path() + "/setup");
    ASSERT_EQ(archive.OpenArchive(), 0);
    EXPECT_TRUE(VerifyFileMd5(dir.path() + "/setup", archive.GetPackageId(), kFooterSize));
    EXPECT_EQ(archive.GetPackageNameStem(), archive.GetPackageId().substr(0, 7));
    archive.SetPackageNameStem("ABCDEF1");
    EXPECT_EQ(archive.GetPackageNameStem(), "ABCDEF1");
}

TEST(PayloadNames, EntryNamesAndGroupMembersStayBelowTheirFolder) {
    struct Case {
        const char *name;
        const char *relative; // nullptr: refused
    };
    const Case cases[] = {
        {"a.txt", "a.txt"},
        {"dir\\sub/file", "dir/sub/file"},
        {"./a//b/", "a/b"},
        {"..", nullptr},
        {"a/../b", nullptr},
        {"/etc/passwd", nullptr},
        {"\\\\server\\x", nullptr},
        {"C:\\x", nullptr},
        {"", nullptr},
        {".", nullptr},
    };
    for (const Case &c : cases) {
        std::string relative;
        const bool ok = SafeEntryName(c.name, relative);
        EXPECT_EQ(ok, c.relative != nullptr) << c.name;
        if (c.relative) {
            EXPECT_EQ(relative, c.relative) << c.name;
        }
        // Group members follow the same rule, with "/" alone.
        if (std::string(c.name).find('\\') == std::string::npos && std::string(c.name) != ".") {
            EXPECT_EQ(extraction::SafeMemberName(c.name), c.relative != nullptr) << c.name;
        }
    }
    struct Link {
        const char *link;
        const char *target;
        bool safe;
    };
    const Link links[] = {{"a", "b", true},           {"d/a", "../b", true},
                          {"d/a", "../../b", false},  {"a", "/etc", false},
                          {"d/e/a", "../../y", true}, {"d/e/a", "../x/../../y", false},
                          {"a", "x/../..", false},    {"a", "", false}};
    for (const Link &l : links)
        EXPECT_EQ(extraction::SafeLinkTarget(l.link, l.target), l.safe)
            << l.link << " " << l.target;
}

// The library counts a group by its xz index, or by reading it when the
// index is not usable (a scrambled group whose tail is in the window, or
// data after the stream); both give the same total, which is what the
// extraction then reports at its end.
TEST(ExtractionLibrary, TotalSizeFromTheIndexOrByReadingAgree) {
    TempDir dir("parts");
    fs::create_directories(dir.path() + "/tree/d");
    WriteFile(dir.path() + "/tree/d/big.bin", Noise(200000, 3));
    WriteFile(dir.path() + "/tree/small.txt", "small");
    struct Case {
        const char *what;
        bool scrambled;
        std::string tail;
    };
    const Case cases[] = {{"plain", false, ""},
                          {"stream padding", false, std::string(8, '\0')},
                          {"junk after the stream", false, "junk"},
                          {"scrambled", true, ""}};
    uint64_t expected = 0;
    for (const Case &c : cases) {
        const std::string group = dir.path() + "/g.txz";
        {
            class ToFile : public package::EntryOutput {
              public:
                explicit ToFile(std::string &out) : m_out(out) {}
                bool Write(const void *data, std::size_t length) override {
                    m_out.append(static_cast<const char *>(data), length);
                    return true;
                }

              private:
                std::string &m_out;
            };
            std::string bytes;
            ToFile out(bytes);
            std::string error;
            ASSERT_TRUE(package::WriteTarXz(dir.path() + "/tree", out, error)) << error;
            bytes += c.tail;
            if (c.scrambled) {
                PayloadWindowDescrambler scrambler;
                scrambler.SetWindowLength(KRV_SCRAMBLE_WINDOW);
                scrambler.Transform(reinterpret_cast<unsigned char *>(bytes.data()), bytes.size());
            }
            WriteFile(group, bytes);
        }
        const int fd = ::open(group.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        PayloadWindowDescrambler descrambler;
        ExtractionContext context{};
        context.sourceFile = fd;
        context.groupSize = fs::file_size(group);
        const std::string out = dir.path() + "/out/";
        fs::create_directories(out);
        std::memcpy(context.outputFolder, out.c_str(), out.size() + 1);
        context.descrambler = c.scrambled ? descrambler.Table() : nullptr;
        uint64_t last = 0;
        context.progress = [](void *argument, const char *, uint64_t done) {
            *static_cast<uint64_t *>(argument) = done;
            return 0;
        };
        context.progressArgument = &last;
        ASSERT_EQ(extraction::Init(&context), KRV_EXTRACT_OK) << c.what;
        // Junk after the stream is not a tar.xz any more: no total, no
        // complete listing, and the extraction is refused.
        const bool junk = std::string(c.what) == "junk after the stream";
        const uint64_t total = extraction::TotalSize(&context);
        if (!expected)
            expected = total;
        EXPECT_EQ(total, junk ? 0 : expected) << c.what;
        EXPECT_GT(expected, 200000u) << c.what;
        std::vector<std::string> members;
        EXPECT_EQ(
            extraction::ListMembers(&context, [&](const std::string &m) { members.push_back(m); }),
            !junk)
            << c.what;
        if (!junk) {
            EXPECT_EQ(members, (std::vector<std::string>{"d", "d/big.bin", "small.txt"})) << c.what;
        }
        const int result = extraction::ExtractAll(&context);
        extraction::End(&context);
        ::close(fd);
        EXPECT_EQ(result, junk ? KRV_EXTRACT_FAILED : KRV_EXTRACT_OK) << c.what;
        if (!junk) {
            EXPECT_EQ(last, total) << c.what;
            EXPECT_EQ(ReadFile(out + "d/big.bin"), Noise(200000, 3)) << c.what;
        }
        fs::remove_all(out);
    }
}

TEST(ExtractionLibrary, GroupsThatDoNotFitTheFileAreRefusedAtInit) {
    TempDir dir("parts");
    WriteFile(dir.path() + "/f", std::string(100, 'x'));
    const int fd = ::open((dir.path() + "/f").c_str(), O_RDONLY);
    struct Case {
        uint64_t offset, size;
        int result;
    };
    const Case cases[] = {{0, 100, KRV_EXTRACT_OK},
                          {50, 51, KRV_EXTRACT_FAILED},
                          {101, 0, KRV_EXTRACT_FAILED},
                          {1, UINT64_MAX, KRV_EXTRACT_FAILED}};
    for (const Case &c : cases) {
        ExtractionContext context{};
        context.sourceFile = fd;
        context.groupOffset = c.offset;
        context.groupSize = c.size;
        EXPECT_EQ(extraction::Init(&context), c.result) << c.offset << "+" << c.size;
        extraction::End(&context);
    }
    ::close(fd);
}

class ArchiveLookups : public ::testing::Test {
  protected:
    void SetUp() override {
        program = dir.path() + "/program";
        WriteFile(program, Noise(2000, 4));
        out = dir.path() + "/out/";
    }
    std::string Build(package::PackageWriter &writer) {
        std::string error;
        EXPECT_TRUE(writer.Write(dir.path() + "/setup", error)) << error;
        return dir.path() + "/setup";
    }
    int Open(PayloadArchive &archive, const std::string &path) {
        archive.SetArchivePath(path);
        archive.SetExtractionFolder(out);
        return archive.OpenArchive();
    }
    TempDir dir{"lookups"};
    std::string program, out;
};

TEST_F(ArchiveLookups, SettingsLanguagesPrerequisitesAndSecondFolder) {
    package::PackageWriter writer(program);
    writer.AddSettings("[GeneralOptions]\r\nKeepFiles=minimum\r\n");
    writer.AddBytes(12, 0, "1049.dll", "ru");
    writer.AddBytes(12, 0, "1033.dll", "en");
    writer.AddBytes(9, 101, "setup9.bin", "group-typed"); // type 9 is looked up second
    writer.AddBytes(4, 100, "vcredist.bin", "prereq");
    writer.AddBytes(11, 0, "detect", "detector");
    PayloadArchive archive;
    ASSERT_EQ(Open(archive, Build(writer)), 0);
    const PayloadArchive::SettingsLocation settings = archive.GetSettingsLocation();
    EXPECT_EQ(settings.file, dir.path() + "/setup");
    EXPECT_EQ(ReadFile(settings.file).substr(settings.offset, settings.size),
              "[GeneralOptions]\r\nKeepFiles=minimum\r\n");
    EXPECT_EQ(archive.GetPackageLanguages(), (std::vector<uint16_t>{1049, 1033}));
    archive.SetSecondFolder(dir.path() + "/second");
    std::string path;
    EXPECT_EQ(archive.FindPrerequisiteFile("vcredist.bin", path), 100);
    EXPECT_EQ(path, dir.path() + "/second/vcredist.bin");
    EXPECT_EQ(archive.FindPrerequisiteFile("setup9.bin", path), 101);
    EXPECT_EQ(archive.FindPrerequisiteFile("missing", path), -1);
    ASSERT_EQ(archive.ExtractNamedEntry("detect", path), 0);
    EXPECT_EQ(ReadFile(path), "detector");
    EXPECT_EQ(path, out + "detect");
    ASSERT_EQ(archive.ExtractEntries({100}), 0);
    EXPECT_EQ(ReadFile(dir.path() + "/second/vcredist.bin"), "prereq");
    EXPECT_NE(archive.ExtractNumberedDll(1058, path), 0);
}

TEST_F(ArchiveLookups, SeparateFilesNextToTheProgram) {
    WriteFile(dir.path() + "/product.msi", "msi");
    WriteFile(dir.path() + "/settings.ini", "[GeneralOptions]\r\n");
    package::PackageWriter writer(program);
    writer.SetContainerFlags(container::kSeparateFiles);
    writer.AddName(name_key::kMainPackage, "product.msi");
    writer.AddName(name_key::kSettings, "settings.ini");
    PayloadArchive archive;
    ASSERT_EQ(Open(archive, Build(writer)), 0);
    std::string path;
    EXPECT_EQ(archive.ExtractMainPackage(path), 0);
    EXPECT_EQ(path, dir.path() + "/product.msi");
    EXPECT_EQ(archive.GetSettingsLocation().file, dir.path() + "/settings.ini");
    EXPECT_EQ(archive.GetSettingsLocation().size, 18u);
    EXPECT_EQ(archive.FindPrerequisiteFile("x.exe", path), -1);
    EXPECT_EQ(path, dir.path() + "/x.exe");
    EXPECT_EQ(archive.ExtractAll(), 0); // nothing to extract
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(ArchiveLookups, SeparateCompressedGroupsGoToTheStemFolder) {
    fs::create_directories(dir.path() + "/tree");
    WriteFile(dir.path() + "/tree/product.msi", "msi inside");
    class ToFile : public package::EntryOutput {
      public:
        explicit ToFile(const std::string &path) : m_path(path) {}
        bool Write(const void *data, std::size_t length) override {
            m_bytes.append(static_cast<const char *>(data), length);
            WriteFile(m_path, m_bytes);
            return true;
        }

      private:
        std::string m_path, m_bytes;
    };
    ToFile group(dir.path() + "/product.txz");
    std::string error;
    ASSERT_TRUE(package::WriteTarXz(dir.path() + "/tree", group, error)) << error;
    package::PackageWriter writer(program);
    writer.SetContainerFlags(container::kSeparateFiles | container::kSeparateGroups);
    writer.AddExtractionLibrary(LibraryPath());
    writer.AddName(name_key::kFirstGroup, "product.txz");
    PayloadArchive archive;
    ASSERT_EQ(Open(archive, Build(writer)), 0);
    archive.SetPackageNameStem("1234567");
    std::string path;
    ASSERT_EQ(archive.ExtractMainPackage(path), 0) << archive.GetArchiveErrorText();
    EXPECT_EQ(path, out + "1234567/product.msi");
    EXPECT_EQ(ReadFile(path), "msi inside");
    archive.CleanUpExtraction(); // keep mode 0 with 0x40: the stem folder goes
    EXPECT_FALSE(fs::exists(out + "1234567"));
}

// Answers the disk-space question as told and counts it.
class Prompt : public DiskSpacePrompt {
  public:
    explicit Prompt(bool goOn) : m_goOn(goOn) {}
    bool AskRetry(std::string_view, uint64_t needed) override {
        ++asked;
        lastNeeded = needed;
        return m_goOn;
    }
    int asked = 0;
    uint64_t lastNeeded = 0;

  private:
    bool m_goOn;
};

TEST_F(ArchiveLookups, AFullDiskAsksOnceAndStopsWhenTheUserDoes) {
    package::PackageWriter writer(program);
    writer.AddBytes(0, 1, "a.bin", std::string(5000, 'a'));
    const std::string path = Build(writer);
    for (bool goOn : {false, true}) {
        PayloadArchive archive;
        archive.SetFreeSpaceQuery([](const std::string &) { return std::optional<uint64_t>(100); });
        ASSERT_EQ(Open(archive, path), 0);
        Prompt prompt(goOn);
        ExtractionDialogParts sinks;
        sinks.diskSpace = &prompt;
        EXPECT_EQ(archive.ExtractEntries({1}, sinks), goOn ? 0 : payload_result::kNoDiskSpace);
        EXPECT_EQ(prompt.asked, 1);
        EXPECT_EQ(prompt.lastNeeded, 5000u);
        EXPECT_EQ(fs::exists(out + "a.bin"), goOn);
        archive.SetKeepMode(archive_keep::kEverything);
    }
    // A stop signal while the question waits ends the process at once:
    // nothing checks it before the answer. In a child: a stop stays.
    const int status = test::StatusOfChild([&] {
        platform::ForwardTerminationSignals();
        struct Stopping : DiskSpacePrompt {
            bool AskRetry(std::string_view, uint64_t) override { return ::raise(SIGTERM) == 0; }
        } stopping;
        PayloadArchive archive;
        archive.SetFreeSpaceQuery([](const std::string &) { return std::optional<uint64_t>(100); });
        ExtractionDialogParts sinks;
        sinks.diskSpace = &stopping;
        if (Open(archive, path) == 0)
            archive.ExtractEntries({1}, sinks);
        return 3;
    });
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

// Records what the extraction tells its window.
class RecordingSink : public SilentExtractionProgress {
  public:
    RecordingSink() : SilentExtractionProgress(test::QuietMessages()) {}
    uint64_t total = 0;

  protected:
    void ShowRange(uint32_t range) override { total = range; }
};

TEST_F(ArchiveLookups, TheWindowGetsTheSumOfEntriesAndGroups) {
    fs::create_directories(dir.path() + "/tree");
    WriteFile(dir.path() + "/tree/f.bin", Noise(50000, 5));
    package::PackageWriter writer(program);
    writer.AddExtractionLibrary(LibraryPath());
    writer.AddBytes(0, 1, "a.bin", std::string(1000, 'a'));
    writer.AddBytes(0, 1, "b.bin", std::string(2000, 'b'));
    writer.AddGroup(7, 1, "g.txz", dir.path() + "/tree");
    PayloadArchive archive;
    ASSERT_EQ(Open(archive, Build(writer)), 0);
    RecordingSink sink;
    ASSERT_EQ(archive.ExtractEntries({1}, sink.Parts()), 0);
    // Stored bytes plus the group's tar stream (its member, headers, end).
    EXPECT_GE(sink.total, 3000u + 50000u + 1024u);
    EXPECT_LE(sink.total, 3000u + 50000u + 20u * 1024u);
}

} // namespace
} // namespace krv::setup
