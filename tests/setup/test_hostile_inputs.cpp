// Damaged and hostile inputs against the setup's readers: a package with
// its fields, tables and footer mutated or cut, compressed groups whose
// members try to leave their folder, installer packages with bad names and
// tables, language modules cut anywhere or far too large. Every mutation is
// drawn from a fixed seed; each must end in a result code, with nothing
// written or removed outside the sandbox.
#include "group_reader.h"
#include "installed_products.h"
#include "installer_engine.h"
#include "installer_package.h"
#include "language_module.h"
#include "package_writer.h"
#include "payload_archive.h"
#include "pipe_channel.h"
#include "setup_ui.h"
#include "support_env.h"
#include "support_windows.h"
#include "update_checker.h"

#include <setup_process.h>

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace krv::setup {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

// A small deterministic generator (xorshift64).
struct Random {
    uint64_t state;
    explicit Random(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    std::size_t Below(std::size_t n) { return n ? static_cast<std::size_t>(Next() % n) : 0; }
};

std::string LibraryPath() {
    return test::BinFolder() + "/libkrv_extraction.so";
}

// Every path below the folder (links not followed), relative, with the
// content of regular files.
std::map<std::string, std::string> Snapshot(const std::string &folder) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string relative = it->path().lexically_relative(folder).string();
        out[relative] = it->is_regular_file() && !it->is_symlink() ? ReadFile(it->path()) : "";
    }
    return out;
}

// A tar.xz stream built member by member.
class TarXz {
  public:
    TarXz() : m_archive(archive_write_new()) {
        archive_write_add_filter_xz(m_archive);
        archive_write_set_format_pax_restricted(m_archive);
        archive_write_open_memory(m_archive, m_buffer.data(), m_buffer.size(), &m_used);
    }
    ~TarXz() { archive_write_free(m_archive); }
    TarXz &Add(const std::string &name, mode_t type, const std::string &data = {},
               const std::string &link = {}, bool hard = false) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        archive_entry_set_filetype(entry, type);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, type == AE_IFREG ? static_cast<la_int64_t>(data.size()) : 0);
        if (!link.empty()) {
            if (hard)
                archive_entry_set_hardlink(entry, link.c_str());
            else
                archive_entry_set_symlink(entry, link.c_str());
        }
        archive_write_header(m_archive, entry);
        if (!data.empty())
            archive_write_data(m_archive, data.data(), data.size());
        archive_entry_free(entry);
        return *this;
    }
    std::string Finish() {
        archive_write_close(m_archive);
        return std::string(m_buffer.data(), m_used);
    }

  private:
    std::vector<char> m_buffer = std::vector<char>(1 << 20);
    size_t m_used = 0;
    archive *m_archive;
};

// Runs the extraction library over a group file into `out`.
int ExtractGroupFile(const std::string &group, const std::string &out) {
    const int fd = ::open(group.c_str(), O_RDONLY);
    if (fd < 0)
        return -1;
    ExtractionContext context{};
    context.sourceFile = fd;
    context.groupSize = fs::file_size(group);
    std::memcpy(context.outputFolder, out.c_str(), out.size() + 1);
    int result = extraction::Init(&context);
    if (result == KRV_EXTRACT_OK) {
        extraction::TotalSize(&context);
        extraction::ListMembers(&context, [](const std::string &) {});
        result = extraction::ExtractAll(&context);
    }
    extraction::End(&context);
    ::close(fd);
    return result;
}

// Members that leave the folder fail the whole group, and no file appears
// (or goes) outside it, whatever the member order.
TEST(HostileGroups, MembersThatLeaveTheFolderFailTheGroup) {
    struct Case {
        const char *what;
        std::string group;
        int result;
    };
    const Case cases[] = {
        {"plain", TarXz().Add("a/b.txt", AE_IFREG, "b").Finish(), KRV_EXTRACT_OK},
        {"dot dot", TarXz().Add("../escaped", AE_IFREG, "x").Finish(), KRV_EXTRACT_FAILED},
        {"inner dot dot", TarXz().Add("a/../../escaped", AE_IFREG, "x").Finish(),
         KRV_EXTRACT_FAILED},
        {"absolute", TarXz().Add("/tmp/escaped", AE_IFREG, "x").Finish(), KRV_EXTRACT_FAILED},
        {"absolute link", TarXz().Add("l", AE_IFLNK, "", "/").Finish(), KRV_EXTRACT_FAILED},
        {"link up", TarXz().Add("d/l", AE_IFLNK, "", "../..").Finish(), KRV_EXTRACT_FAILED},
        {"write through a link",
         TarXz().Add("d", AE_IFDIR).Add("l", AE_IFLNK, "", "d").Add("l/f", AE_IFREG, "f").Finish(),
         KRV_EXTRACT_FAILED},
        // "y" is the folder itself, so "y/.." is its parent: lexically
        // inside, physically outside; in either order.
        {"link through a link",
         TarXz().Add("y", AE_IFLNK, "", ".").Add("x", AE_IFLNK, "", "y/..").Finish(),
         KRV_EXTRACT_FAILED},
        {"link through a later link",
         TarXz()
             .Add("x", AE_IFLNK, "", "y/..")
             .Add("y", AE_IFLNK, "", ".")
             .Add("x/victim", AE_IFREG, "x")
             .Finish(),
         KRV_EXTRACT_FAILED},
        {"hard link out", TarXz().Add("h", AE_IFREG, "", "../sentinel", true).Finish(),
         KRV_EXTRACT_FAILED},
        {"hard link absolute", TarXz().Add("h", AE_IFREG, "", "/etc/hostname", true).Finish(),
         KRV_EXTRACT_FAILED},
        {"fifo", TarXz().Add("p", AE_IFIFO).Finish(), KRV_EXTRACT_FAILED},
        {"device", TarXz().Add("c", AE_IFCHR).Finish(), KRV_EXTRACT_FAILED},
        {"duplicated and empty",
         TarXz().Add("a", AE_IFREG, "one").Add("a", AE_IFREG, "two").Add("z", AE_IFREG).Finish(),
         KRV_EXTRACT_OK},
        {"not xz", std::string(600, 'x'), KRV_EXTRACT_FAILED},
        {"empty", std::string(), KRV_EXTRACT_FAILED},
    };
    for (const Case &c : cases) {
        TempDir dir("hostile-group");
        WriteFile(dir.path() + "/sentinel", "keep");
        WriteFile(dir.path() + "/g.txz", c.group);
        const std::string out = dir.path() + "/out/";
        fs::create_directories(out);
        const auto before = Snapshot(dir.path());
        EXPECT_EQ(ExtractGroupFile(dir.path() + "/g.txz", out), c.result) << c.what;
        auto after = Snapshot(dir.path());
        std::erase_if(after, [](const auto &item) { return item.first.starts_with("out/"); });
        EXPECT_EQ(after, before) << c.what;
        // Every link that stayed resolves below the folder.
        for (const auto &item : Snapshot(out)) {
            std::error_code ec;
            const fs::path real = fs::weakly_canonical(out + item.first, ec);
            EXPECT_TRUE(real.string().starts_with(fs::canonical(out).string()))
                << c.what << ": " << item.first << " -> " << real;
        }
    }
}

// The package behind a program: every footer and table field set to edge
// values, random bit flips and cuts at every length. Opening and extracting
// each must give a result code, write only below the sandbox's folders, and
// leave the sentinel beside them.
class HostilePackage : public ::testing::Test {
  protected:
    void SetUp() override {
        program = dir.path() + "/program";
        std::string noise(1500, '\0');
        Random random(7);
        for (char &c : noise)
            c = static_cast<char>(random.Next());
        WriteFile(program, noise);
        fs::create_directories(dir.path() + "/tree/sub");
        WriteFile(dir.path() + "/tree/sub/member.txt", "member");
        WriteFile(dir.path() + "/tree/top.txt", "top");
        package::PackageWriter writer(program);
        writer.SetContainerFlags(payload::container::kMainPackageMsi);
        writer.AddSettings("[GeneralOptions]\r\nKeepFiles=minimum\r\n");
        writer.AddBytes(0, 1, "main.msi", "main package");
        writer.AddBytes(4, 100, "prereq/setup.bin", std::string(700, 'p'),
                        payload::kEntryScrambled);
        writer.AddGroup(7, 3, "group.txz", dir.path() + "/tree", payload::kEntryScrambled);
        writer.AddBytes(12, 0, "1049.dll", "KRV-LANGUAGE-MODULE 1\nS\t1\tx\n");
        writer.AddName(payload::name_key::kMainPackage, "main.msi");
        // A library that does not load: the program then runs the groups
        // with its linked-in copy, and the package stays small.
        WriteFile(dir.path() + "/not-a-library.so", "not a library");
        writer.AddExtractionLibrary(dir.path() + "/not-a-library.so");
        std::string error;
        ASSERT_TRUE(writer.Write(dir.path() + "/valid", error)) << error;
        valid = ReadFile(dir.path() + "/valid");
        fs::create_directories(dir.path() + "/sandbox");
        WriteFile(dir.path() + "/sandbox/sentinel", "keep");
    }

    // One run of a mutated package; the result of opening, or of extracting
    // when it opened.
    int Run(const std::string &bytes) {
        const std::string sandbox = dir.path() + "/sandbox/";
        WriteFile(sandbox + "setup", bytes);
        int result;
        {
            PayloadArchive archive;
            archive.SetArchivePath(sandbox + "setup");
            archive.SetExtractionFolder(sandbox + "out");
            archive.SetSecondFolder(sandbox + "second");
            result = archive.OpenArchive();
            if (result == payload_result::kOk)
                result = archive.ExtractAll();
        }
        ++runs;
        results.insert(result);
        auto after = Snapshot(sandbox);
        std::erase_if(after, [](const auto &item) {
            return item.first == "setup" || item.first.starts_with("out") ||
                   item.first.starts_with("second");
        });
        const std::map<std::string, std::string> expected{{"sentinel", "keep"}};
        EXPECT_EQ(after, expected) << "run " << runs;
        fs::remove_all(sandbox + "out");
        fs::remove_all(sandbox + "second");
        return result;
    }

    TempDir dir{"hostile-package"};
    std::string program, valid;
    int runs = 0;
    std::set<int> results;
};

TEST_F(HostilePackage, MutatedFieldsBitFlipsAndCutsFailCleanly) {
    ASSERT_EQ(Run(valid), payload_result::kOk);
    const std::size_t programSize = fs::file_size(program);
    const std::size_t size = valid.size();
    // The tables and the footer: the last bytes after the entries' contents.
    const std::size_t tables = size - 300;
    const uint32_t edges[] = {0u, 0xFFFFFFFFu, static_cast<uint32_t>(size - programSize)};
    for (std::size_t at = tables; at + 4 <= size; at += 4) {
        for (uint32_t value : edges) {
            std::string bytes = valid;
            payload::PutU32(reinterpret_cast<unsigned char *>(bytes.data() + at), value);
            Run(bytes);
        }
    }
    Random random(11);
    for (int i = 0; i < 60; ++i) {
        std::string bytes = valid;
        const std::size_t flips = 1 + random.Below(4);
        for (std::size_t f = 0; f < flips; ++f) {
            const std::size_t at = programSize + random.Below(size - programSize);
            bytes[at] = static_cast<char>(bytes[at] ^ (1u << random.Below(8)));
        }
        Run(bytes);
    }
    for (std::size_t length = size - 1; length > 0 && length + 60 > size; --length)
        Run(valid.substr(0, length));
    for (std::size_t length = 0; length < size; length += 211)
        Run(valid.substr(0, length));
    // The package twice over, and a footer that names itself as the package.
    Run(valid + valid.substr(programSize));
    {
        std::string bytes = valid;
        payload::PutU32(reinterpret_cast<unsigned char *>(bytes.data() + size - 76 + 16), 0);
        Run(bytes);
    }
    for (int result : results)
        EXPECT_TRUE(result == payload_result::kOk || result == payload_result::kReadFailed ||
                    result == payload_result::kBadFooter ||
                    result == payload_result::kTargetFailed ||
                    result == payload_result::kLibraryMissing)
            << result;
}

// Entry names that leave the folder are refused before anything is
// written; duplicates and empty entries extract.
TEST_F(HostilePackage, EntryNamesThatLeaveTheFolderAreRefused) {
    struct Case {
        const char *name;
        int result;
    };
    const Case cases[] = {{"../escaped", payload_result::kTargetFailed},
                          {"a/../../escaped", payload_result::kTargetFailed},
                          {"/tmp/escaped", payload_result::kTargetFailed},
                          {"..\\escaped", payload_result::kTargetFailed},
                          {"C:\\escaped", payload_result::kTargetFailed},
                          {"", payload_result::kTargetFailed},
                          {"ok/empty", payload_result::kOk}};
    for (const Case &c : cases) {
        package::PackageWriter writer(program);
        writer.AddBytes(0, 1, c.name, "");
        writer.AddBytes(0, 1, "twice", "one");
        writer.AddBytes(0, 1, "twice", "two");
        std::string error;
        ASSERT_TRUE(writer.Write(dir.path() + "/named", error)) << error;
        EXPECT_EQ(Run(ReadFile(dir.path() + "/named")), c.result) << c.name;
    }
}

// A pipe or a folder already under an entry's name in the (shared)
// extraction folder fails that entry at once; nothing waits for a reader.
TEST_F(HostilePackage, NoRegularFileAtTheTargetFailsWithoutWaiting) {
    const std::string sandbox = dir.path() + "/sandbox/";
    for (const bool pipe : {true, false}) {
        fs::create_directories(sandbox + "out");
        if (pipe)
            ASSERT_EQ(::mkfifo((sandbox + "out/main.msi").c_str(), 0600), 0);
        else
            fs::create_directories(sandbox + "out/main.msi");
        WriteFile(sandbox + "setup", valid);
        {
            PayloadArchive archive;
            archive.SetArchivePath(sandbox + "setup");
            archive.SetExtractionFolder(sandbox + "out");
            ASSERT_EQ(archive.OpenArchive(), payload_result::kOk);
            EXPECT_EQ(archive.ExtractAll(), payload_result::kReadFailed) << pipe;
        }
        fs::remove_all(sandbox + "out");
    }
}

// A link another user planted in the shared extraction folder for one of
// our subfolders is never followed: neither a stored entry's folders nor a
// group's output folder lead outside, and nothing is written there.
TEST_F(HostilePackage, PlantedLinksForSubfoldersAreNotFollowed) {
    struct Case {
        const char *entry;  // the entry's name in the package
        const char *real;   // a real folder already there, or ""
        const char *linked; // the planted link
        bool group;
    };
    const Case cases[] = {{"sub/file.txt", "", "sub", false},
                          {"a/b/c/file.txt", "a", "a/b", false},
                          {"grp/group.txz", "", "grp", true},
                          {"a/grp/group.txz", "a", "a/grp", true}};
    const std::string sandbox = dir.path() + "/sandbox/";
    const std::string elsewhere = dir.path() + "/elsewhere";
    for (const Case &c : cases) {
        package::PackageWriter writer(program);
        writer.SetContainerFlags(payload::container::kMainPackageMsi);
        writer.AddBytes(0, 1, "main.msi", "main");
        if (c.group)
            writer.AddGroup(7, 3, c.entry, dir.path() + "/tree");
        else
            writer.AddBytes(0, 1, c.entry, "data");
        writer.AddExtractionLibrary(LibraryPath());
        std::string error;
        ASSERT_TRUE(writer.Write(dir.path() + "/planted", error)) << error;
        fs::create_directories(elsewhere);
        fs::create_directories(sandbox + "out/" + c.real);
        fs::create_directory_symlink(elsewhere, sandbox + "out/" + c.linked);
        WriteFile(sandbox + "setup", ReadFile(dir.path() + "/planted"));
        {
            PayloadArchive archive;
            archive.SetArchivePath(sandbox + "setup");
            archive.SetExtractionFolder(sandbox + "out");
            ASSERT_EQ(archive.OpenArchive(), payload_result::kOk) << c.entry;
            EXPECT_EQ(archive.ExtractAll(), payload_result::kTargetFailed) << c.entry;
            archive.DeleteExtractedFiles();
        }
        EXPECT_TRUE(fs::is_empty(elsewhere)) << c.entry;
        EXPECT_TRUE(fs::is_symlink(sandbox + "out/" + c.linked)) << c.entry;
        fs::remove_all(sandbox + "out");
        fs::remove_all(elsewhere);
    }
    // Without the links the same packages extract, so the refusals above
    // come from the links alone.
    package::PackageWriter writer(program);
    writer.SetContainerFlags(payload::container::kMainPackageMsi);
    writer.AddBytes(0, 1, "main.msi", "main");
    writer.AddBytes(0, 1, "a/b/c/file.txt", "data");
    writer.AddGroup(7, 3, "a/grp/group.txz", dir.path() + "/tree");
    writer.AddExtractionLibrary(LibraryPath());
    std::string error;
    ASSERT_TRUE(writer.Write(dir.path() + "/plain", error)) << error;
    WriteFile(sandbox + "setup", ReadFile(dir.path() + "/plain"));
    PayloadArchive archive;
    archive.SetArchivePath(sandbox + "setup");
    archive.SetExtractionFolder(sandbox + "out");
    ASSERT_EQ(archive.OpenArchive(), payload_result::kOk);
    EXPECT_EQ(archive.ExtractAll(), payload_result::kOk);
    EXPECT_EQ(ReadFile(sandbox + "out/a/b/c/file.txt"), "data");
    EXPECT_EQ(ReadFile(sandbox + "out/a/grp/sub/member.txt"), "member");
}

// A group whose links leave the folder fails, and the clean-up of what it
// listed removes nothing outside the folder.
TEST_F(HostilePackage, GroupLinksThatLeaveTheFolderRemoveNothingOutside) {
    WriteFile(dir.path() + "/sandbox/victim", "keep");
    WriteFile(dir.path() + "/evil.txz", TarXz()
                                            .Add("y", AE_IFLNK, "", ".")
                                            .Add("x", AE_IFLNK, "", "y/..")
                                            .Add("x/victim", AE_IFREG, "overwritten")
                                            .Finish());
    package::PackageWriter writer(program);
    writer.SetContainerFlags(payload::container::kMainPackageMsi);
    writer.AddBytes(0, 1, "main.msi", "main");
    writer.AddGroup(7, 1, "group.txz", dir.path() + "/evil.txz");
    writer.AddExtractionLibrary(LibraryPath());
    std::string error;
    ASSERT_TRUE(writer.Write(dir.path() + "/evil", error)) << error;
    const std::string sandbox = dir.path() + "/sandbox/";
    WriteFile(sandbox + "setup", ReadFile(dir.path() + "/evil"));
    {
        PayloadArchive archive;
        archive.SetArchivePath(sandbox + "setup");
        archive.SetExtractionFolder(sandbox + "out");
        ASSERT_EQ(archive.OpenArchive(), payload_result::kOk);
        EXPECT_EQ(archive.ExtractAll(), payload_result::kTargetFailed);
        archive.DeleteExtractedFiles();
    }
    EXPECT_EQ(ReadFile(sandbox + "victim"), "keep");
    EXPECT_EQ(ReadFile(sandbox + "sentinel"), "keep");
}

// Installer packages: damaged streams, names that leave the folder, links,
// tables given twice or far too large.
TEST(HostileInstallerPackage, BadEntriesAndDamagedStreamsFailCleanly) {
    TempDir dir("hostile-installer");
    fs::create_directories(dir.path() + "/tree/bin");
    WriteFile(dir.path() + "/tree/bin/tool", "tool");
    WriteFile(dir.path() + "/tree/readme", "readme");
    const std::string package = dir.path() + "/valid.pkg";
    ASSERT_EQ(WriteInstallerPackage(package, {{"ProductCode", "{X}"}, {"ProductName", "N"}},
                                    {{"Second", "{Y}"}}, dir.path() + "/tree"),
              "");
    const std::string valid = ReadFile(package);
    const std::string property = "ProductCode\t{X}\n";
    struct Case {
        const char *what;
        std::string bytes;
        bool opens, extracts;
    };
    std::vector<Case> cases = {
        {"valid", valid, true, true},
        {"dot dot",
         TarXz()
             .Add("Property", AE_IFREG, property)
             .Add("files/../escaped", AE_IFREG, "x")
             .Finish(),
         true, false},
        {"absolute", TarXz().Add("Property", AE_IFREG, property).Add("/escaped", AE_IFREG).Finish(),
         true, false},
        {"link",
         TarXz().Add("Property", AE_IFREG, property).Add("files/l", AE_IFLNK, "", "/etc").Finish(),
         true, false},
        {"twice",
         TarXz()
             .Add("Property", AE_IFREG, property)
             .Add("files/a", AE_IFREG, "1")
             .Add("files/a", AE_IFREG, "2")
             .Finish(),
         true, false},
        {"property twice",
         TarXz().Add("Property", AE_IFREG, property).Add("Property", AE_IFREG, property).Finish(),
         false, true},
        {"huge table",
         TarXz().Add("Property", AE_IFREG, std::string(kPackageTableLimit + 1, 'a')).Finish(),
         false, true},
        {"no table", TarXz().Add("files/a", AE_IFREG, "1").Finish(), false, true},
        {"empty file", std::string(), false, false},
    };
    Random random(5);
    for (int i = 0; i < 60; ++i) {
        std::string bytes = valid;
        const std::size_t at = random.Below(bytes.size());
        bytes[at] = static_cast<char>(bytes[at] ^ (1u << random.Below(8)));
        cases.push_back({"bit flip", bytes, false, false});
    }
    for (std::size_t length = 0; length < valid.size(); length += 37)
        cases.push_back({"cut", valid.substr(0, length), false, false});
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        const std::string path = dir.path() + "/sandbox/p.pkg";
        WriteFile(path, c.bytes);
        WriteFile(dir.path() + "/sandbox/sentinel", "keep");
        const bool mutated = i >= 9;
        const auto database = OpenPackageDatabase(path);
        const PackageExtraction extraction =
            ExtractPackageFiles(path, dir.path() + "/sandbox/target");
        if (!mutated) {
            EXPECT_EQ(database.has_value(), c.opens) << c.what;
            EXPECT_EQ(extraction.ok, c.extracts) << c.what;
        }
        EXPECT_TRUE(extraction.ok || !extraction.error.empty()) << c.what;
        auto after = Snapshot(dir.path() + "/sandbox");
        std::erase_if(after, [](const auto &item) { return item.first.starts_with("target"); });
        EXPECT_EQ(after,
                  (std::map<std::string, std::string>{{"p.pkg", c.bytes}, {"sentinel", "keep"}}))
            << c.what << " " << i;
        fs::remove_all(dir.path() + "/sandbox");
    }
    // A pipe or a device in the package's place is refused without waiting
    // for a writer.
    const std::string pipe = dir.path() + "/pipe.pkg";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string &path : {pipe, std::string("/dev/zero")}) {
        EXPECT_FALSE(OpenPackageDatabase(path)) << path;
        EXPECT_FALSE(ExtractPackageFiles(path, dir.path() + "/target").ok) << path;
    }
    // The tables' text cut at every length parses or is refused.
    const std::string tableText = "A\t1\nB\t2\nC\t\n";
    for (std::size_t length = 0; length <= tableText.size(); ++length) {
        ParsePropertyTable(tableText.substr(0, length));
        ParseInstanceTable(tableText.substr(0, length));
    }
}

// An installer package whose links chain back to its own folder ("d0" ->
// ".", "d0/d1" -> "." ... "d0/d1/d2/d3/d4/up" -> "../../../../..", then
// "up/X.txt") writes nothing through them, and install folders that climb
// out of their place are refused: under the setup root every folder stays
// below the root, without one a ".." may not leave the folder a reference
// names. Nothing the package holds lands anywhere but its install folder.
TEST(HostileInstallerPackage, LinkChainsAndInstallFoldersStayInside) {
    TempDir dir("hostile-folders");
    // Deep enough that a chain climbing five folders from the staging folder
    // still lands in the sandbox.
    const std::string root = dir.path() + "/a/b/c/root";
    test::ScopedEnv env;
    env.Set("TMPDIR", dir.path() + "/tmp");
    fs::create_directories(dir.path() + "/tmp");
    TarXz chain;
    chain.Add("Property", AE_IFREG, "ProductCode\t{EVIL}\nINSTALLDIR\t[ProgramFilesFolder]Evil\n")
        .Add("files/ok.txt", AE_IFREG, "ok")
        .Add("files/d0", AE_IFLNK, "", ".");
    std::string link = "files/d0";
    for (const char *next : {"/d1", "/d2", "/d3", "/d4"}) {
        link += next;
        chain.Add(link, AE_IFLNK, "", ".");
    }
    chain.Add(link + "/up", AE_IFLNK, "", "../../../../..").Add("files/up/X.txt", AE_IFREG, "x");
    const auto package = [](const std::string &installDir) {
        return TarXz()
            .Add("Property", AE_IFREG, "ProductCode\t{EVIL}\nINSTALLDIR\t" + installDir + "\n")
            .Add("files/ok.txt", AE_IFREG, "ok")
            .Finish();
    };
    struct Case {
        const char *what;
        bool underRoot;
        std::string bytes;
        std::string argument; // a property on the command line
        int code;
        std::string installedIn; // empty when refused
        const char *logged;
    };
    const Case cases[] = {
        {"link chain", true, chain.Finish(), "", installer_exit::kFailure, "", "through a link"},
        {"reference climbs out", true, package("[ProgramFilesFolder]..\\..\\..\\x"), "",
         installer_exit::kFailure, "", "[ProgramFilesFolder]..\\..\\..\\x"},
        {"absolute package folder", true, package(dir.path() + "/krv"), "", 0,
         root + dir.path() + "/krv", ""},
        {"absolute user folder", true, package("[ProgramFilesFolder]Evil"),
         "INSTALLDIR=" + dir.path() + "/outside", 0, root + dir.path() + "/outside", ""},
        {"folder named under the root", true, package("[ProgramFilesFolder]Evil"),
         "INSTALLDIR=" + root + "/opt/y", 0, root + "/opt/y", ""},
        {"user folder climbs out", true, package("[ProgramFilesFolder]Evil"),
         "INSTALLDIR=" + root + "/opt/../../x", installer_exit::kFailure, "", "/opt/../../x"},
        {"no root: user folder honoured", false, package("[TempFolder]Evil"),
         "INSTALLDIR=" + dir.path() + "/plain/../user", 0, dir.path() + "/user", ""},
        {"no root: reference climbs out", false, package("[TempFolder]..\\x"), "",
         installer_exit::kFailure, "", "[TempFolder]..\\x"},
    };
    for (const Case &c : cases) {
        if (c.underRoot) {
            env.Set("KRV_SETUP_ROOT", root);
            env.Unset("KRV_REGISTRY_ROOT");
        } else {
            env.Unset("KRV_SETUP_ROOT");
            env.Set("KRV_REGISTRY_ROOT", dir.path() + "/registry");
        }
        const std::string path = dir.path() + "/p.pkg";
        WriteFile(path, c.bytes);
        InstallerRequest request;
        std::string error;
        ASSERT_TRUE(ParseInstallerArguments(
            c.argument.empty() ? std::vector<std::string>{"/i", path, "/qn"}
                               : std::vector<std::string>{"/i", path, "/qn", c.argument},
            request, error));
        std::string log;
        InstallerContext context;
        context.log = [&log](std::string_view line) { log += std::string(line) + "\n"; };
        EXPECT_EQ(RunInstaller(request, context), c.code) << c.what << "\n" << log;
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.what << "\n" << log;
        // The package's two files, wherever they went.
        std::set<std::string> found;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(dir.path(), ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->path().filename() == "ok.txt" || it->path().filename() == "X.txt")
                found.insert(it->path().string());
        EXPECT_EQ(found, c.installedIn.empty() ? std::set<std::string>{}
                                               : std::set<std::string>{c.installedIn + "/ok.txt"})
            << c.what;
        if (c.code == 0) {
            request.action = InstallerAction::Uninstall;
            request.target = "{EVIL}";
            EXPECT_EQ(RunInstaller(request, context), 0) << c.what;
        }
        for (const std::string &file : found)
            fs::remove(file);
    }
}

// Language modules cut at every length or bit-flipped parse or are
// refused; a module far past the limit is refused without being read
// whole, and a name that is not a regular file never blocks.
TEST(HostileLanguageModule, CutsFlipsHugeFilesAndPipes) {
    const std::string valid = "KRV-LANGUAGE-MODULE 1\r\nS\t101\tHello\\n\\tworld\\\r\n"
                              "D\t7\t0\tTitle\nD\t7\t99999999999\tx\nS\t\t\nS\t4294967295\t\\\n";
    for (std::size_t length = 0; length <= valid.size(); ++length) {
        ResourceModule module;
        ParseLanguageModule(valid.substr(0, length), module);
    }
    Random random(3);
    for (int i = 0; i < 500; ++i) {
        std::string text = valid;
        const std::size_t at = random.Below(text.size());
        text[at] = static_cast<char>(text[at] ^ (1u << random.Below(8)));
        ResourceModule module;
        ParseLanguageModule(text, module);
    }
    TempDir dir("hostile-language");
    const std::string huge = dir.path() + "/1049.dll";
    WriteFile(huge, valid);
    ASSERT_EQ(::truncate(huge.c_str(), 100 << 20), 0);
    EXPECT_EQ(LoadLanguageModuleFile(huge, 1049), nullptr);
    const std::string pipe = dir.path() + "/1033.dll";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(LoadLanguageModuleFile(pipe, 1033), nullptr);
    EXPECT_EQ(LoadLanguageModuleFile(dir.path(), 1033), nullptr);
}

// Odd argument lines, split as the program's own starter splits them: each
// is read or refused with a text, never taken half.
TEST(HostileInstallerArguments, OddLinesAreReadOrRefused) {
    struct Case {
        std::string line;
        bool ok;
    };
    const Case cases[] = {
        {"", false},
        {"   ", false},
        {"/i", false},
        {"/i \"unbalanced", true},
        {"/i a PROPERTY=", true},
        {"/i a =value", false},
        {"/i a \"  =value\"", false},
        {"/i a /zzz", false},
        {"/i a / -", false},
        {"/i a /x b", false},
        {"/i a /l", false},
        {"/i a /n", false},
        {"/f", false},
        {"/i " + std::string(100000, 'A') + " P=" + std::string(100000, '"'), true},
        {"/i a \\\\\\\"\"\"\" \"\"", false},
    };
    for (const Case &c : cases) {
        InstallerRequest request;
        std::string error;
        const bool ok = ParseInstallerArguments(platform::SplitCommandLine(c.line), request, error);
        EXPECT_EQ(ok, c.ok) << c.line.substr(0, 40) << ": " << error;
        EXPECT_EQ(error.empty(), ok) << c.line.substr(0, 40);
        for (const auto &property : request.properties)
            EXPECT_FALSE(property.first.empty()) << c.line.substr(0, 40);
    }
}

// Updates files cut, flipped, huge or no regular file: the check finds an
// offer or none, and an offer's file name never leaves the download folder.
TEST(HostileUpdatesFile, DamagedFilesGiveAnOfferOrNone) {
    TempDir dir("hostile-updates");
    test::ScopedEnv env;
    env.Set("TMPDIR", dir.path());
    env.Set("KRV_SETUP_ROOT", dir.path());
    SetupUi ui(nullptr, test::QuietMessages());
    const std::string valid = "[Older]\r\nProductVersion=2.0\r\nURL=http://127.0.0.1/o\r\n"
                              "Size=1\r\n[Newer]\r\nProductVersion=3.0.0.1\r\n"
                              "UpdatedApplicationVersions=>=2.0;<3\r\nURL=http://127.0.0.1/"
                              "../x/new.bin?q=/..\r\nSize=18446744073709551615\r\n"
                              "ServerFileName=..\\..\\evil.bin\r\nMD5=00\r\n";
    auto check = [&](const std::string &path, const std::string &what) {
        UpdateChecker checker(ui, "file://" + path, "2.5");
        if (!checker.FetchUpdatesFile() || !checker.ParseUpdatesFile())
            return false;
        const std::string name =
            UpdateFileName(checker.Offer().serverFileName, checker.Offer().url);
        EXPECT_EQ(name.find_first_of("/\\"), std::string::npos) << what << ": " << name;
        EXPECT_NE(name, "..") << what;
        return true;
    };
    const std::string file = dir.path() + "/updates.txt";
    WriteFile(file, valid);
    EXPECT_TRUE(check(file, "valid"));
    for (std::size_t length = 0; length < valid.size(); ++length) {
        WriteFile(file, valid.substr(0, length));
        check(file, "cut " + std::to_string(length));
    }
    Random random(29);
    for (int i = 0; i < 300; ++i) {
        std::string text = valid;
        const std::size_t at = random.Below(text.size());
        text[at] = static_cast<char>(text[at] ^ (1u << random.Below(8)));
        WriteFile(file, text);
        check(file, "flip " + std::to_string(i));
    }
    WriteFile(file, valid);
    ASSERT_EQ(::truncate(file.c_str(), 5 << 20), 0);
    EXPECT_FALSE(check(file, "huge"));
    const std::string pipe = dir.path() + "/pipe.txt";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_FALSE(check(pipe, "pipe"));
    EXPECT_FALSE(check("/dev/zero", "device"));
    EXPECT_FALSE(check(dir.path(), "folder"));
}

// Messages of any bytes and length on the caller's socket: each read gives
// a text (cut to the read limit), never more.
TEST(HostileCallerMessages, AnyBytesReadAsBoundedText) {
    TempDir dir("hostile-pipe");
    test::ScopedEnv env;
    env.Set("XDG_RUNTIME_DIR", dir.path());
    PipeChannel server;
    ASSERT_TRUE(server.Open(true, "hostile"));
    const int peer = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_GE(peer, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = PipeSocketPath("hostile");
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::connect(peer, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    Random random(31);
    std::vector<std::string> messages = {std::string(1, 'x'), std::string("\x00\xD8", 2),
                                         std::string("\x00\xDC\x00\xD8", 4),
                                         std::string(200000, '\xFF')};
    for (int i = 0; i < 200; ++i) {
        std::string bytes(random.Below(80) + 1, '\0');
        for (char &c : bytes)
            c = static_cast<char>(random.Next());
        messages.push_back(bytes);
    }
    for (const std::string &message : messages) {
        const std::size_t sent = message.size() <= 200000 ? message.size() : 0;
        if (::send(peer, message.data(), sent, MSG_NOSIGNAL) != static_cast<ssize_t>(sent))
            continue; // larger than the socket takes: refused by the kernel
        const std::string text = server.Read();
        // Each UTF-16 unit gives at most three UTF-8 bytes.
        EXPECT_LE(text.size(), std::min(message.size(), kPipeReadLimit) / 2 * 3);
    }
    ::close(peer);
    EXPECT_EQ(server.Read(), "");
}

// The installed-products store with no regular values file in a product's
// key (a pipe, a link to a device, a folder, a huge file): the product reads
// as damaged, is never rewritten, and nothing blocks.
TEST(HostileProductStore, ValuesThatAreNoRegularFileReadAsDamaged) {
    TempDir dir("hostile-store");
    test::ScopedEnv env;
    env.Set("KRV_REGISTRY_ROOT", dir.path());
    const std::string key = dir.path() + "/HKLM/Software/Krv/Installer/Products/{P}";
    const std::function<void(const std::string &)> damages[] = {
        [](const std::string &path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
        [](const std::string &path) { fs::create_symlink("/dev/zero", path); },
        [](const std::string &path) { fs::create_directories(path); },
        [](const std::string &path) {
            WriteFile(path, "KRVREG 1\n");
            ASSERT_EQ(::truncate(path.c_str(), 64 << 20), 0);
        },
    };
    for (const auto &damage : damages) {
        fs::remove_all(dir.path() + "/HKLM");
        fs::create_directories(key);
        damage(key + "/.values");
        EXPECT_FALSE(FindInstalledProduct("{P}"));
        EXPECT_EQ(ProductState("{P}"), install_state::kUnknown);
        EXPECT_FALSE(RelatedProduct("{U}", 0));
        InstalledProduct product;
        product.productCode = "{P}";
        EXPECT_FALSE(RegisterProduct(product));
        EXPECT_FALSE(UnregisterProduct("{P}"));
        EXPECT_TRUE(fs::exists(fs::symlink_status(key + "/.values")));
    }
}

} // namespace
} // namespace krv::setup
