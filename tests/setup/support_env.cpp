#include "support_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace krv::setup::test {

TempDir::TempDir(const char *stem) {
    std::string pattern = std::string("/tmp/krv-") + stem + "-XXXXXX";
    if (::mkdtemp(pattern.data()))
        m_path = pattern;
}

TempDir::~TempDir() {
    if (m_path.empty())
        return;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_path, ec);
}

ScopedEnv::~ScopedEnv() {
    // Newest first, so a variable touched twice ends with its first value.
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    }
}

void ScopedEnv::Save(const char *name) {
    const char *value = std::getenv(name);
    m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
}

void ScopedEnv::Set(const char *name, const std::string &value) {
    Save(name);
    ::setenv(name, value.c_str(), 1);
}

void ScopedEnv::Unset(const char *name) {
    Save(name);
    ::unsetenv(name);
}

std::string BinFolder() {
    const char *bin = std::getenv("KRV_TEST_BIN");
    if (bin && *bin)
        return bin;
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &content) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    out << content;
}

int StatusOfChild(const std::function<int()> &body) {
    const pid_t child = ::fork();
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        return -1;
    }
    if (child == 0)
        ::_exit(body());
    int status = 0;
    if (::waitpid(child, &status, 0) != child) {
        ADD_FAILURE() << "waitpid failed";
        return -1;
    }
    return status;
}

} // namespace krv::setup::test
