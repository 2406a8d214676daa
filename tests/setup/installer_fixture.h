// What the installer tests share: packages of a small tree or of hand-made
// entries, a machine of its own under a setup root, runs of the installer
// with their log, and the whole tree below a folder for comparisons.
#pragma once

#include "installer_engine.h"
#include "installer_package.h"
#include "support_env.h"

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

namespace krv::setup {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

inline std::map<std::string, std::string>
Properties(const std::string &code, const std::string &version, const std::string &packageCode) {
    return {{"ProductCode", code},
            {"ProductVersion", version},
            {"PackageCode", packageCode},
            {"UpgradeCode", "{UPGRADE-0001}"},
            {"ProductName", "Telmar 2.3"},
            {"ProductLanguage", "1049"},
            {"INSTALLDIR", "[ProgramFilesFolder]Telmar\\Telmar 2.3\\"}};
}

// A raw archive with hand-made entries, for packages the writer never makes.
struct RawEntry {
    std::string name;
    mode_t type = AE_IFREG;
    std::string data;
    std::string link;
    int perm = 0644;
};
inline void WriteRawPackage(const std::string &path, const std::vector<RawEntry> &entries) {
    archive *a = archive_write_new();
    archive_write_add_filter_xz(a);
    archive_write_set_filter_option(a, "xz", "compression-level", "1");
    archive_write_set_format_pax_restricted(a);
    ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK);
    for (const RawEntry &e : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.c_str());
        archive_entry_set_filetype(entry, e.type);
        archive_entry_set_perm(entry, e.perm);
        archive_entry_set_size(entry, la_int64_t(e.data.size()));
        if (!e.link.empty())
            archive_entry_set_symlink(entry, e.link.c_str());
        archive_write_header(a, entry);
        if (!e.data.empty())
            archive_write_data(a, e.data.data(), e.data.size());
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
}

class InstallerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(m_root.empty());
        m_env.Set("KRV_SETUP_ROOT", m_root);
        m_env.Unset("KRV_REGISTRY_ROOT");
    }

    // A package of a small tree: bin/tool (executable), lib/a.so, and the
    // given extra file.
    std::string MakePackage(const std::string &name, const std::string &version,
                            const std::string &packageCode, const std::string &extra = "",
                            const std::string &code = "{PRODUCT-0001}") {
        const std::string tree = m_root + "/trees/" + name;
        WriteFile(tree + "/bin/tool", "#!/bin/sh\necho " + version + "\n");
        fs::permissions(tree + "/bin/tool", fs::perms::owner_exec, fs::perm_options::add);
        WriteFile(tree + "/lib/a.so", "library " + version);
        if (!extra.empty())
            WriteFile(tree + "/" + extra, "extra " + version);
        const std::string path = m_root + "/" + name + ".pkg";
        EXPECT_EQ(WriteInstallerPackage(path, Properties(code, version, packageCode),
                                        {{"inst1", "{PRODUCT-0002}"}}, tree),
                  "");
        return path;
    }

    int Run(std::vector<std::string> arguments, std::function<bool()> cancelled = {}) {
        InstallerRequest request;
        std::string error;
        EXPECT_TRUE(ParseInstallerArguments(arguments, request, error)) << error;
        InstallerContext context;
        context.cancelled = std::move(cancelled);
        context.log = [this](std::string_view line) { m_log += std::string(line) + "\n"; };
        context.step = m_step;
        return RunInstaller(request, context);
    }

    std::string Installed() const { return m_root + "/opt/Telmar/Telmar 2.3"; }

    // A machine with nothing installed and an empty store; then the package
    // installed, when one is named.
    void Afresh(const std::string &package = "") {
        fs::remove_all(m_root + "/opt");
        fs::remove_all(m_root + "/registry");
        if (!package.empty()) {
            ASSERT_EQ(Run({"/i", package}), installer_exit::kSuccess) << m_log;
        }
    }

    test::TempDir m_tmp{"installer"};
    const std::string m_root = m_tmp.path();
    test::ScopedEnv m_env;
    std::string m_log;
    std::function<void(std::string_view)> m_step; // handed to each run
};

// The whole tree below a folder, links never followed: each path with its
// type and mode, and a file's content or a link's text.
inline std::map<std::string, std::string> Tree(const std::string &folder) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        struct stat st {};
        ::lstat(it->path().c_str(), &st);
        std::string item = std::to_string(st.st_mode) + ":";
        if (S_ISREG(st.st_mode))
            item += ReadFile(it->path());
        else if (S_ISLNK(st.st_mode))
            item += fs::read_symlink(it->path()).string();
        out[it->path().lexically_relative(folder).string()] = item;
    }
    return out;
}

} // namespace krv::setup
