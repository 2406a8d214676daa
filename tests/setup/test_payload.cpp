// Packages built with the package writer, opened and extracted: the footer
// search, the bounds of every table, stored, scrambled and compressed
// entries, hostile names and groups, keep modes, cancellation and the
// failures that must not leave partial files behind.
#include "package_writer.h"
#include "payload_archive.h"
#include "support_env.h"
#include "support_windows.h"

#include "extraction_progress.h"
#include "files.h"
#include "log.h"

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {
namespace {

using namespace payload;
using test::BinFolder;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

// Bytes that never repeat within a test's sizes.
std::string Bytes(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (std::size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        out[i] = static_cast<char>(state >> 24);
    }
    return out;
}

// A member of a hand-made tar.xz group; a link when target is set.
struct Member {
    std::string name;
    std::string content = {};
    std::string symlink = {};
    std::string hardlink = {};
};

std::string MakeGroup(const std::vector<Member> &members) {
    std::string out;
    struct archive *writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
    archive_write_add_filter_xz(writer);
    // xz may grow bytes that do not compress a little; a megabyte more than
    // the members hold is plenty.
    std::size_t room = 1 << 20;
    for (const Member &member : members)
        room += member.content.size();
    std::vector<char> buffer(room);
    std::size_t used = 0;
    archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
    for (const Member &member : members) {
        struct archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, member.name.c_str());
        archive_entry_set_perm(entry, 0644);
        if (!member.symlink.empty()) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, member.symlink.c_str());
        } else if (!member.hardlink.empty()) {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_hardlink(entry, member.hardlink.c_str());
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, static_cast<la_int64_t>(member.content.size()));
        }
        archive_write_header(writer, entry);
        if (!member.content.empty())
            archive_write_data(writer, member.content.data(), member.content.size());
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return std::string(buffer.data(), used);
}

// Runs a shell command line without a display; its exit status, -1 when
// it did not exit.
int RunWithoutDisplay(const std::string &command) {
    const int status = std::system(("env QT_QPA_PLATFORM= DISPLAY= WAYLAND_DISPLAY= timeout 60 " +
                                    command + " >/dev/null 2>&1")
                                       .c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PayloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        program = dir.path() + "/program";
        WriteFile(program, Bytes(5000, 1)); // stands for the setup program
        out = dir.path() + "/out/";
        fs::create_directories(out);
        library = BinFolder() + "/libkrv_extraction.so";
    }
    std::string Build(package::PackageWriter &writer, const std::string &name = "setup") {
        std::string error;
        const std::string path = dir.path() + "/" + name;
        EXPECT_TRUE(writer.Write(path, error)) << error;
        return path;
    }
    int Open(PayloadArchive &archive, const std::string &path) {
        archive.SetArchivePath(path);
        archive.SetExtractionFolder(out);
        return archive.OpenArchive();
    }
    // Every file below the folder, relative.
    std::vector<std::string> Listing(const std::string &folder) {
        std::vector<std::string> names;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
             it.increment(ec))
            names.push_back(it->path().lexically_relative(folder).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir{"payload"};
    std::string program, out, library;
};

TEST_F(PayloadTest, FooterSearchAcrossWindowsLaterFooterAndBadFiles) {
    package::PackageWriter writer(program);
    writer.SetContainerFlags(container::kExtractAllowed);
    writer.AddBytes(0, 1, "a.txt", Bytes(20000, 9));
    const std::string good = ReadFile(Build(writer));
    const std::string footer = good.substr(good.size() - kFooterSize);
    // A second footer behind the first, counting its distance from the same
    // payload base.
    std::string otherFlags = footer;
    otherFlags[60] = 0x42;
    PutU32(reinterpret_cast<unsigned char *>(otherFlags.data()) + 16,
           GetU32(reinterpret_cast<const unsigned char *>(footer.data()) + 16) + kFooterSize);
    std::string version99 = footer;
    version99[12] = 99;
    std::string hugeCount = footer;
    for (int i = 8; i < 12; ++i)
        hugeCount[i] = '\xFF';
    // A whole package shorter than one search window.
    const std::string tinyProgram = dir.path() + "/tiny_program";
    WriteFile(tinyProgram, Bytes(10, 1));
    package::PackageWriter tinyWriter(tinyProgram);
    tinyWriter.SetContainerFlags(container::kExtractAllowed);
    tinyWriter.AddBytes(0, 1, "a.txt", Bytes(50, 9));
    const std::string tiny = ReadFile(Build(tinyWriter, "tiny"));
    struct Case {
        const char *what;
        std::string file;
        int result;
        uint32_t flags;
    };
    const Case cases[] = {
        {"plain", good, 0, container::kExtractAllowed},
        // 1017 bytes after the footer put its magic across the first
        // window's start: only the overlapping second window sees it.
        {"magic across two windows", good + std::string(1017, 'z'), 0, container::kExtractAllowed},
        {"two footers, the later wins", good + otherFlags, 0, 0x42},
        {"version 99", good.substr(0, good.size() - kFooterSize) + version99, 5, 0},
        {"no package at all", Bytes(5000, 1), 2, 0},
        {"package shorter than a window", tiny, 0, container::kExtractAllowed},
        // The footer lies before the last whole window: the search ends with
        // a window clamped to the file's start.
        {"footer in the first bytes", tiny + std::string(1200, 'z'), 0, container::kExtractAllowed},
        {"file shorter than the magic", "PARVEX", 2, 0},
        {"empty file", "", 2, 0},
        {"footer cut off", good.substr(0, good.size() - 40), 2, 0},
        {"content cut out", good.substr(0, 15000) + good.substr(15000 + 10000), 2, 0},
        {"entry count beyond the file", good.substr(0, good.size() - kFooterSize) + hugeCount, 2,
         0},
    };
    for (const Case &c : cases) {
        const std::string path = dir.path() + "/case";
        WriteFile(path, c.file);
        PayloadArchive archive;
        EXPECT_EQ(Open(archive, path), c.result) << c.what;
        if (c.result == 0) {
            EXPECT_EQ(archive.ContainerFlags(), c.flags) << c.what;
        }
        if (c.result == 2) {
            EXPECT_NE(archive.GetArchiveErrorText().find(path), std::string::npos) << c.what;
        }
    }
}

// An entry's content may end exactly where the footer begins, never one
// byte later, whichever of its size and offset reaches past.
TEST_F(PayloadTest, EntryEndingAtTheFooterFitsAndOneBytePastIsRefused) {
    package::PackageWriter writer(program);
    writer.SetContainerFlags(container::kExtractAllowed);
    writer.AddBytes(0, 1, "a.bin", Bytes(3000, 4));
    const std::string good = ReadFile(Build(writer));
    const auto *footer =
        reinterpret_cast<const unsigned char *>(good.data()) + good.size() - kFooterSize;
    const uint32_t payloadSize = GetU32(footer + 16);
    const std::size_t record = good.size() - kFooterSize - payloadSize + GetU32(footer + 20);
    const uint32_t offset =
        GetU32(reinterpret_cast<const unsigned char *>(good.data()) + record + 16);
    struct Case {
        const char *what;
        uint32_t size;
        uint32_t offset;
        int result;
    };
    const Case cases[] = {
        {"as written", 3000, offset, payload_result::kOk},
        {"ends at the footer", payloadSize - offset, offset, payload_result::kOk},
        {"size one byte past", payloadSize - offset + 1, offset, payload_result::kReadFailed},
        {"offset one byte past", 3000, payloadSize - 3000 + 1, payload_result::kReadFailed},
        {"offset at the footer, empty", 0, payloadSize, payload_result::kOk},
        {"offset past the footer, empty", 0, payloadSize + 1, payload_result::kReadFailed},
    };
    for (const Case &c : cases) {
        std::string file = good;
        PutU32(reinterpret_cast<unsigned char *>(file.data()) + record + 12, c.size);
        PutU32(reinterpret_cast<unsigned char *>(file.data()) + record + 16, c.offset);
        const std::string path = dir.path() + "/case";
        WriteFile(path, file);
        fs::remove_all(out);
        fs::create_directories(out);
        PayloadArchive archive;
        ASSERT_EQ(Open(archive, path), c.result) << c.what;
        if (c.result != payload_result::kOk)
            continue;
        archive.SetKeepMode(archive_keep::kEverything);
        SilentExtractionProgress progress{test::QuietMessages()};
        ASSERT_EQ(archive.ExtractAll(progress.Parts()), 0) << c.what;
        EXPECT_EQ(ReadFile(out + "a.bin"),
                  file.substr(file.size() - kFooterSize - payloadSize + c.offset, c.size))
            << c.what;
    }
}

TEST_F(PayloadTest, TheBuiltProgramHoldsNoMagicAndFindsNoFooter) {
    const std::string bare = BinFolder() + "/TelmarSetup2.3";
    if (!fs::exists(bare))
        GTEST_SKIP() << "TelmarSetup2.3 not built";
    EXPECT_EQ(ReadFile(bare).find(PayloadMagic()), std::string::npos);
    PayloadArchive archive;
    EXPECT_EQ(Open(archive, bare), payload_result::kReadFailed);
}

TEST_F(PayloadTest, StoredScrambledEmptyAndGroupEntriesComeOutByteExact) {
    fs::create_directories(dir.path() + "/tree/sub");
    WriteFile(dir.path() + "/tree/sub/data.bin", Bytes(300000, 2));
    WriteFile(dir.path() + "/tree/top.txt", "top");
    fs::create_symlink("top.txt", dir.path() + "/tree/link");
    const std::string big = Bytes(200000, 3);
    package::PackageWriter writer(program);
    writer.SetContainerFlags(container::kExtractAllowed);
    writer.AddExtractionLibrary(library);
    writer.AddBytes(0, 1, "main.bin", big);
    writer.AddBytes(0, 1, "dir\\scrambled.bin", big, kEntryScrambled);
    writer.AddBytes(0, 1, "empty.txt", "");
    writer.AddGroup(7, 1, "group/g.tar.xz", dir.path() + "/tree");
    writer.AddGroup(7, 100, "sg/g.tar.xz", dir.path() + "/tree", kEntryScrambled);
    writer.AddBytes(0, 2, "not-extracted.txt", "x"); // set 2 is not extracted by /extract
    const std::string path = Build(writer);

    // The scrambled copy differs in its first 512 bytes only.
    const std::string file = ReadFile(path);
    const std::size_t plain = file.find(big.substr(0, 4096));
    const std::size_t scrambled = file.find(big.substr(512, 4096), plain + big.size());
    ASSERT_NE(plain, std::string::npos);
    ASSERT_NE(scrambled, std::string::npos);
    EXPECT_EQ(file.find(big.substr(0, 512), plain + big.size()), std::string::npos);
    EXPECT_EQ(scrambled, plain + big.size() + 512);

    PayloadArchive archive;
    ASSERT_EQ(Open(archive, path), 0);
    archive.SetKeepMode(archive_keep::kEverything);
    SilentExtractionProgress progress{test::QuietMessages()};
    ASSERT_EQ(archive.ExtractAll(progress.Parts()), 0) << archive.GetArchiveErrorText();
    EXPECT_TRUE(archive.UsedCarriedLibrary());
    EXPECT_EQ(ReadFile(out + "main.bin"), big);
    EXPECT_EQ(ReadFile(out + "dir/scrambled.bin"), big);
    EXPECT_TRUE(fs::exists(out + "empty.txt"));
    EXPECT_EQ(fs::file_size(out + "empty.txt"), 0u);
    for (const char *group : {"group/", "sg/"}) {
        EXPECT_EQ(ReadFile(out + group + "sub/data.bin"), Bytes(300000, 2)) << group;
        EXPECT_EQ(fs::read_symlink(out + group + "link"), "top.txt") << group;
    }
    EXPECT_FALSE(fs::exists(out + "not-extracted.txt"));
    archive.CleanUpExtraction();
    // The carried library goes; the extracted files stay with keep mode 3.
    EXPECT_FALSE(fs::exists(out + "libkrv_extraction.so"));
    EXPECT_TRUE(fs::exists(out + "main.bin"));
}

TEST_F(PayloadTest, LibraryThatCannotLoadFallsBackAndAMissingOneIsReported) {
    fs::create_directories(dir.path() + "/tree");
    WriteFile(dir.path() + "/tree/f.txt", "payload");
    const std::string notALibrary = dir.path() + "/broken.so";
    WriteFile(notALibrary, "not an ELF file");
    for (bool withLibrary : {true, false}) {
        package::PackageWriter writer(program);
        writer.SetContainerFlags(container::kExtractAllowed);
        if (withLibrary)
            writer.AddExtractionLibrary(notALibrary);
        writer.AddGroup(7, 1, "g.tar.xz", dir.path() + "/tree");
        PayloadArchive archive;
        ASSERT_EQ(Open(archive, Build(writer)), 0);
        const int result = archive.ExtractAll();
        EXPECT_EQ(result, withLibrary ? 0 : payload_result::kLibraryMissing);
        EXPECT_FALSE(archive.UsedCarriedLibrary());
        EXPECT_EQ(fs::exists(out + "f.txt"), withLibrary);
    }
}

// A package built without the integrity check whose carried library was
// damaged on the way never loads it (a damaged library can crash the loader):
// the file no longer matches its package id, and the program's own copy
// runs the group instead.
TEST_F(PayloadTest, DamagedCarriedLibraryIsNotLoaded) {
    fs::create_directories(dir.path() + "/tree");
    WriteFile(dir.path() + "/tree/f.txt", "payload");
    const std::string image = ReadFile(library);
    ASSERT_GT(image.size(), 8192u);
    for (const bool damaged : {false, true}) {
        package::PackageWriter writer(program);
        writer.SetContainerFlags(container::kExtractAllowed);
        writer.AddExtractionLibrary(library);
        writer.AddGroup(7, 1, "g.tar.xz", dir.path() + "/tree");
        const std::string path = Build(writer);
        if (damaged) {
            std::string bytes = ReadFile(path);
            const std::size_t at = bytes.find(image.substr(4096, 4096));
            ASSERT_NE(at, std::string::npos);
            bytes[at + 100] = static_cast<char>(bytes[at + 100] ^ 0x10);
            WriteFile(path, bytes);
        }
        PayloadArchive archive;
        ASSERT_EQ(Open(archive, path), 0);
        EXPECT_EQ(archive.ExtractAll(), 0) << damaged;
        EXPECT_EQ(archive.UsedCarriedLibrary(), !damaged);
        EXPECT_EQ(ReadFile(out + "f.txt"), "payload") << damaged;
        archive.CleanUpExtraction();
        fs::remove_all(out);
    }
}

TEST_F(PayloadTest, HostileNamesAndGroupsWriteNothingOutsideTheFolder) {
    const std::string outside = dir.path() + "/outside";
    fs::create_directories(outside);
    struct Case {
        const char *what;
        std::string entryName; // a stored entry, or
        std::vector<Member> group;
    };
    const std::vector<Case> cases = {
        {"stored ..", "../evil.txt", {}},
        {"stored absolute", "/tmp/krv-evil.txt", {}},
        {"stored drive", "C:\\evil.txt", {}},
        {"stored inner ..", "a\\..\\..\\evil.txt", {}},
        {"group ..", "", {{"ok.txt", "fine"}, {"../evil.txt", "bad"}}},
        {"group absolute", "", {{outside + "/evil.txt", "bad"}}},
        {"group link out", "", {{"up", "", "../outside"}}},
        {"group absolute link", "", {{"abs", "", outside}}},
        {"group write through link", "", {{"d", "", "."}, {"d/../../outside/evil.txt", "bad"}}},
        {"group hardlink out", "", {{"h", "", "", "../outside/evil.txt"}}},
    };
    for (const Case &c : cases) {
        package::PackageWriter writer(program);
        writer.SetContainerFlags(container::kExtractAllowed);
        writer.AddExtractionLibrary(library);
        if (c.group.empty()) {
            writer.AddBytes(0, 1, c.entryName, "bad");
        } else {
            const std::string group = dir.path() + "/hostile.tar.xz";
            WriteFile(group, MakeGroup(c.group));
            writer.AddGroup(7, 1, "g.tar.xz", group);
        }
        PayloadArchive archive;
        ASSERT_EQ(Open(archive, Build(writer)), 0) << c.what;
        SilentExtractionProgress progress{test::QuietMessages()};
        EXPECT_EQ(archive.ExtractAll(progress.Parts()), payload_result::kTargetFailed) << c.what;
        EXPECT_TRUE(Listing(outside).empty()) << c.what;
        EXPECT_FALSE(fs::exists(dir.path() + "/evil.txt")) << c.what;
        EXPECT_FALSE(fs::exists("/tmp/krv-evil.txt")) << c.what;
        archive.CleanUpExtraction();
        // Members written before the refusal go with the clean-up.
        EXPECT_TRUE(Listing(out).empty()) << c.what;
        fs::remove_all(out);
        fs::create_directories(out);
    }
}

TEST_F(PayloadTest, WorkFoldersBelowTheSharedTemporaryFolderMustBeOurOwn) {
    // The rows stand below the test's own folder, itself in /tmp.
    struct stat tmp {};
    if (::stat("/tmp", &tmp) != 0 || !(tmp.st_mode & S_IWOTH))
        GTEST_SKIP() << "/tmp is not a folder others may write";
    const std::string base = dir.path() + "/";
    fs::create_directory(base + "ours");
    fs::permissions(base + "ours", fs::perms::owner_all);
    for (const char *name : {"open", "group", "target", "theirs", "sticky"})
        fs::create_directory(base + name);
    fs::permissions(base + "open", fs::perms::all);
    fs::permissions(base + "sticky", fs::perms::all | fs::perms::sticky_bit);
    fs::permissions(base + "group", fs::perms::owner_all | fs::perms::group_all);
    fs::create_directory_symlink(base + "target", base + "link");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((base + "theirs").c_str(), 65534, 65534), 0);
    }
    struct Case {
        const char *what;
        std::string folder;  // the extraction folder
        std::string refused; // the folder the log names; empty: accepted
        const char *why;
    } cases[] = {
        {"made by this run", base + "new/deeper", "", ""},
        {"ours, 0700", base + "ours", "", ""},
        {"writable by others", base + "open", base + "open", "is writable by other users"},
        {"in a temporary folder of ours", base + "sticky/sub", "", ""},
        {"writable by its group", base + "group/sub", base + "group", "is writable by other users"},
        {"a link in its place", base + "link", base + "link", "is a symbolic link"},
        {"another user's parent", base + "theirs/sub", base + "theirs", "is owned by another user"},
    };
    package::PackageWriter writer(program);
    writer.SetContainerFlags(container::kExtractAllowed);
    writer.AddBytes(0, 1, "Telmar23.msi", "package");
    writer.AddBytes(4, 100, "krv-msiexec/install", "#!/bin/sh\n");
    const std::string path = Build(writer);
    const std::string logPath = base + "setup.log";
    SetupLog &log = TheSetupLog();
    for (const Case &c : cases) {
        if (c.folder.find("theirs") != std::string::npos && !root)
            continue; // only root can give a folder away
        CloseLog(log, false);
        fs::remove(logPath);
        SetLogFilePath(log, logPath);
        LoggingEnabled = true;
        PayloadArchive archive;
        archive.SetArchivePath(path);
        archive.SetExtractionFolder(c.folder);
        ASSERT_EQ(archive.OpenArchive(), 0) << c.what;
        archive.SetKeepMode(archive_keep::kEverything);
        SilentExtractionProgress progress{test::QuietMessages()};
        const int result = archive.ExtractAll(progress.Parts());
        LoggingEnabled = false;
        CloseLog(log, false);
        if (c.refused.empty()) {
            EXPECT_EQ(result, 0) << c.what;
            EXPECT_EQ(ReadFile(c.folder + "/krv-msiexec/install"), "#!/bin/sh\n") << c.what;
            // What this run makes below /tmp is closed to everyone else.
            for (const std::string &made : {c.folder, c.folder + "/krv-msiexec"})
                EXPECT_EQ(fs::status(made).permissions() & fs::perms::mask, fs::perms::owner_all)
                    << c.what << " " << made;
            continue;
        }
        EXPECT_EQ(result, payload_result::kTargetFailed) << c.what;
        EXPECT_NE(ReadFile(logPath).find("The folder " + c.refused + " " + c.why),
                  std::string::npos)
            << c.what << "\n"
            << ReadFile(logPath);
        const std::string seen = c.refused == base + "link" ? base + "target" : c.refused;
        EXPECT_TRUE(Listing(seen).empty()) << c.what;
    }
}

TEST_F(PayloadTest, KeepModesDecideWhatTheCleanUpRemovesAtTheEndAndAtAStop) {
    package::PackageWriter writer(program);
    writer.SetContainerFlags(container::kExtractAllowed);
    writer.AddBytes(0, 1, "m/main.bin", "main", kEntryKeep);
    writer.AddBytes(0, 1, "m/member.bin", "member");
    writer.AddBytes(4, 100, "p/prereq.bin", "prereq");
    writer.AddBytes(12, 0, "1049.dll", "language");
    const std::string path = Build(writer);
    struct Case {
        int mode;
        bool main, member, prereq;
    };
    const Case cases[] = {
        {archive_keep::kDefault, true, false, false},
        {archive_keep::kMinimum, true, true, false},
        {archive_keep::kComplete, true, true, true},
        {archive_keep::kEverything, true, true, true},
        {archive_keep::kDeleteMain, false, false, false},
        {archive_keep::kPrereqs, true, false, true},
    };
    // A stop's end takes what the run's own end would, by the mode it is
    // handed or, handed none, by the run's.
    enum class End { kRun, kStopWithMode, kStopWithRunsMode };
    for (const Case &c : cases) {
        for (const End end : {End::kRun, End::kStopWithMode, End::kStopWithRunsMode}) {
            SCOPED_TRACE("mode " + std::to_string(c.mode) + ", end " +
                         std::to_string(static_cast<int>(end)));
            PayloadArchive archive;
            ASSERT_EQ(Open(archive, path), 0);
            ASSERT_EQ(archive.ExtractEntries({0, 1, 100}), 0);
            std::string dll;
            ASSERT_EQ(archive.ExtractNumberedDll(1049, dll), 0);
            if (end == End::kRun) {
                archive.SetKeepMode(c.mode);
                archive.CleanUpExtraction();
            } else if (end == End::kStopWithMode) {
                archive.CleanUpOnStop(c.mode);
            } else {
                archive.SetKeepMode(c.mode);
                archive.CleanUpOnStop(std::nullopt);
            }
            EXPECT_EQ(fs::exists(out + "m/main.bin"), c.main);
            EXPECT_EQ(fs::exists(out + "m/member.bin"), c.member);
            EXPECT_EQ(fs::exists(out + "p/prereq.bin"), c.prereq);
            EXPECT_FALSE(fs::exists(dll)) << "language libraries always go";
            EXPECT_EQ(fs::exists(out + "m"), c.main || c.member);
            fs::remove_all(out);
            fs::create_directories(out);
        }
    }
}

TEST_F(PayloadTest, ANewFolderAfterExtractionSchedulesTheOldCopies) {
    package::PackageWriter writer(program);
    writer.AddBytes(0, 1, "a.bin", "first");
    PayloadArchive archive;
    ASSERT_EQ(Open(archive, Build(writer)), 0);
    ASSERT_EQ(archive.ExtractEntries({1}), 0);
    const std::string second = dir.path() + "/second";
    archive.SetExtractionFolder(second);
    ASSERT_EQ(archive.DeletionList().size(), 1u);
    EXPECT_EQ(archive.DeletionList()[0], out + "a.bin");
    ASSERT_EQ(archive.ExtractEntries({1}), 0); // extracted again, into the new folder
    EXPECT_EQ(ReadFile(second + "/a.bin"), "first");
    archive.SetKeepMode(archive_keep::kMinimum);
    archive.CleanUpExtraction();
    EXPECT_FALSE(fs::exists(out + "a.bin"));
    EXPECT_TRUE(fs::exists(second + "/a.bin"));
}

// Cancels at the first progress report.
class CancellingSink : public ExtractionProgressSink {
  public:
    bool Progress(uint64_t) override { return m_cancelled = true; }
    bool IsCancelled() override { return m_cancelled; }

  private:
    bool m_cancelled = false;
};

TEST_F(PayloadTest, CancelledShortReadAndFailedWriteLeaveNoPartialFile) {
    fs::create_directories(dir.path() + "/tree");
    WriteFile(dir.path() + "/tree/big.bin", Bytes(3 << 20, 4));
    package::PackageWriter writer(program);
    writer.AddExtractionLibrary(library);
    writer.AddBytes(0, 1, "stored.bin", Bytes(300000, 5));
    writer.AddGroup(7, 100, "g.tar.xz", dir.path() + "/tree");
    const std::string path = Build(writer);

    for (uint32_t set : {1u, 100u}) {
        PayloadArchive archive;
        ASSERT_EQ(Open(archive, path), 0);
        CancellingSink sink;
        ExtractionDialogParts parts;
        parts.extraction = &sink;
        // ShowModal of this sink returns at once; the worker does not wait.
        EXPECT_EQ(archive.ExtractEntries({set}, parts), payload_result::kCancelled) << set;
        EXPECT_FALSE(fs::exists(out + "stored.bin"));
        EXPECT_FALSE(fs::exists(out + "big.bin"));
    }

    // The package shrinks after it was opened: the copy reads short.
    {
        const std::string copy = dir.path() + "/shrinking";
        fs::copy_file(path, copy);
        PayloadArchive archive;
        ASSERT_EQ(Open(archive, copy), 0);
        fs::resize_file(copy, 5000 + 100000);
        EXPECT_EQ(archive.ExtractEntries({1}), payload_result::kReadFailed);
        EXPECT_NE(archive.GetArchiveErrorText().find(copy), std::string::npos);
        EXPECT_FALSE(fs::exists(out + "stored.bin"));
    }

    // A write that fails (file size limit) is a failure with the target's text.
    {
        PayloadArchive archive;
        ASSERT_EQ(Open(archive, path), 0);
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        struct rlimit small = saved;
        small.rlim_cur = 100000;
        setrlimit(RLIMIT_FSIZE, &small);
        const int result = archive.ExtractEntries({1});
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(result, payload_result::kReadFailed);
        EXPECT_NE(archive.GetArchiveErrorText().find(out + "stored.bin"), std::string::npos);
        EXPECT_FALSE(fs::exists(out + "stored.bin"));
    }
}

// A group whose xz stream breaks off inside a large member: the extraction
// fails, and of that member nothing is left; the member before it, which
// came out whole, is the clean-up's.
TEST_F(PayloadTest, GroupBrokenInsideALargeMemberLeavesNoPartOfIt) {
    const std::string whole =
        MakeGroup({{"first.txt", "complete"}, {"big.bin", Bytes(4 << 20, 6)}});
    // Cut well inside big.bin's compressed bytes (random bytes do not
    // shrink), past several blocks the reader hands on.
    const std::string cut = whole.substr(0, whole.size() * 3 / 5);
    WriteFile(dir.path() + "/broken.txz", cut);
    package::PackageWriter writer(program);
    writer.AddExtractionLibrary(library);
    writer.AddGroup(7, 100, "g.tar.xz", dir.path() + "/broken.txz");
    const std::string path = Build(writer);

    PayloadArchive archive;
    ASSERT_EQ(Open(archive, path), 0);
    EXPECT_NE(archive.ExtractEntries({100}), payload_result::kOk);
    EXPECT_FALSE(fs::exists(out + "big.bin"));
    EXPECT_EQ(ReadFile(out + "first.txt"), "complete");
    archive.SetKeepMode(0);
    archive.CleanUpExtraction();
    EXPECT_FALSE(fs::exists(out + "first.txt"));
}

TEST_F(PayloadTest, DeletingTheMainPackageFilesSparesOtherFilesInItsFolder) {
    fs::create_directories(dir.path() + "/tree/sub");
    WriteFile(dir.path() + "/tree/sub/g.txt", "group member");
    package::PackageWriter writer(program);
    writer.SetContainerFlags(container::kMainPackageMsi | container::kExtractAllowed);
    writer.AddExtractionLibrary(library);
    writer.AddGroup(7, 3, "product.txz", dir.path() + "/tree");
    writer.AddBytes(0, 3, "product.msi.txt", "stored");
    const std::string path = Build(writer);
    WriteFile(out + "users-own.txt", "keep me");
    {
        PayloadArchive archive;
        ASSERT_EQ(Open(archive, path), 0);
        std::string main;
        ASSERT_EQ(archive.ExtractMainPackage(main), 0);
        EXPECT_EQ(main, out + "product.msi");
        EXPECT_TRUE(fs::exists(out + "sub/g.txt"));
        archive.SetKeepMode(archive_keep::kEverything);
    }
    // A later run (/deletelzma) finds the files from the package itself.
    PayloadArchive archive;
    ASSERT_EQ(Open(archive, path), 0);
    archive.DeleteExtractedFiles();
    EXPECT_EQ(Listing(out), std::vector<std::string>{"users-own.txt"});
}

// The program with a package of a tree appended: /extract puts the tree in
// place byte for byte and /deletelzma takes it away again; the bare program
// reports the missing package.
TEST_F(PayloadTest, ProgramExtractsItsOwnPackageAndDeletesItAgain) {
    const std::string bare = BinFolder() + "/TelmarSetup2.3";
    if (!fs::exists(bare))
        GTEST_SKIP() << "TelmarSetup2.3 not built";
    const std::string tree = dir.path() + "/tree";
    fs::create_directories(tree + "/bin");
    WriteFile(tree + "/bin/tool", Bytes(70000, 6));
    fs::permissions(tree + "/bin/tool", fs::perms::owner_exec, fs::perm_options::add);
    fs::create_symlink("tool", tree + "/bin/tool.link");
    package::PackageWriter writer(bare);
    writer.SetContainerFlags(container::kExtractAllowed | container::kMainPackageMsi);
    writer.AddExtractionLibrary(library);
    writer.AddGroup(7, 3, "tree.txz", tree);
    const std::string setup = Build(writer, "TelmarSetup2.3");
    const auto run = RunWithoutDisplay;
    EXPECT_EQ(run("'" + setup + "' /exenoui /extract '" + out + "'"), 0);
    EXPECT_EQ(ReadFile(out + "bin/tool"), Bytes(70000, 6));
    EXPECT_TRUE(fs::status(out + "bin/tool").permissions() != fs::perms::none &&
                (fs::status(out + "bin/tool").permissions() & fs::perms::owner_exec) !=
                    fs::perms::none);
    EXPECT_EQ(fs::read_symlink(out + "bin/tool.link"), "tool");
    EXPECT_EQ(Listing(out), (std::vector<std::string>{"bin", "bin/tool", "bin/tool.link"}));
    EXPECT_EQ(run("'" + bare + "' /exenoui /extract '" + out + "'"), 1);

    // /deletelzma works on the package's own folder (no settings here: the
    // extraction folder is the temporary folder, so point it at ours).
    test::ScopedEnv env;
    env.Set("TMPDIR", out);
    EXPECT_EQ(run("'" + setup + "' /deletelzma"), 0);
    EXPECT_TRUE(Listing(out).empty());
}

// The builder's command line and the program's refusals: a package that
// does not allow /extract is left alone (exit 0), a missing folder is
// made.
TEST_F(PayloadTest, BuilderCommandLineAndExtractRules) {
    const std::string bare = BinFolder() + "/TelmarSetup2.3";
    const std::string builder = BinFolder() + "/krv-package-builder";
    if (!fs::exists(bare) || !fs::exists(builder))
        GTEST_SKIP() << "programs not built";
    const auto run = RunWithoutDisplay;
    WriteFile(dir.path() + "/a.txt", "alpha");
    const std::string locked = dir.path() + "/locked/TelmarSetup2.3";
    const std::string open = dir.path() + "/open/TelmarSetup2.3";
    fs::create_directories(dir.path() + "/locked");
    fs::create_directories(dir.path() + "/open");
    struct Case {
        std::string arguments;
        int exitCode;
    };
    const Case builds[] = {
        {"--program '" + bare + "' --out '" + locked + "' --stored 0 1 a.txt '" + dir.path() +
             "/a.txt'",
         0},
        {"--program '" + bare + "' --out '" + open + "' --flags 0x10 --keep --stored 0 1 a.txt '" +
             dir.path() + "/a.txt'",
         0},
        {"--program '" + bare + "' --out '" + dir.path() + "/x' --stored 0 one a.txt b", 2},
        {"--program '" + bare + "' --out '" + dir.path() + "/x' --stored 0 1 a.txt '" + dir.path() +
             "/missing'",
         1},
        {"--out '" + dir.path() + "/x'", 2},
    };
    for (const Case &c : builds)
        EXPECT_EQ(run("'" + builder + "' " + c.arguments), c.exitCode) << c.arguments;
    EXPECT_FALSE(fs::exists(dir.path() + "/x"));
    EXPECT_FALSE(fs::exists(dir.path() + "/x.part"));

    EXPECT_EQ(run("'" + locked + "' /extract '" + out + "'"), 0);
    EXPECT_FALSE(fs::exists(out + "a.txt")); // not allowed: nothing done
    // A missing folder is made with its parents; one that cannot be made
    // ends the run. Either way nothing lands beside the program.
    EXPECT_EQ(run("'" + locked + "' /extract '" + dir.path() + "/not-made'"), 0);
    EXPECT_FALSE(fs::exists(dir.path() + "/not-made")); // not allowed: nothing done
    const struct {
        std::string folder;
        int exitCode;
    } folders[] = {{dir.path() + "/no-such/folder", 0}, {"/proc/krv-no-such/folder", 1}};
    for (const auto &c : folders) {
        EXPECT_EQ(run("'" + open + "' /extract '" + c.folder + "'"), c.exitCode) << c.folder;
        EXPECT_EQ(fs::exists(c.folder + "/a.txt"), c.exitCode == 0) << c.folder;
        EXPECT_FALSE(fs::exists(dir.path() + "/open/a.txt")) << c.folder;
    }
    PayloadArchive archive;
    ASSERT_EQ(Open(archive, open), 0);
    EXPECT_EQ(archive.Entries().at(0).flags, kEntryKeep);
}

} // namespace
} // namespace krv::setup
