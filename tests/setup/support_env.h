// What the setup tests share: a scratch directory that cleans up after
// itself, environment variables restored when a test ends, and whole-file
// reads and writes.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace krv::setup::test {

// A new directory /tmp/krv-<stem>-XXXXXX, removed with its contents (write
// rights a test took away are given back first). path() is empty when the
// directory could not be made.
class TempDir {
  public:
    explicit TempDir(const char *stem);
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return m_path; }

  private:
    std::string m_path;
};

// Sets and unsets environment variables; each one it touched gets its
// earlier value (or absence) back when the object goes.
class ScopedEnv {
  public:
    ScopedEnv() = default;
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

    void Set(const char *name, const std::string &value);
    void Unset(const char *name);

  private:
    void Save(const char *name);

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

// The folder of the programs and libraries the build made: $KRV_TEST_BIN
// (ctest sets it), else the folder of the running test executable.
std::string BinFolder();

// The file's bytes; empty when it cannot be read.
std::string ReadFile(const std::string &path);
// Replaces the file with `content`, creating its folders.
void WriteFile(const std::string &path, const std::string &content);

// Runs `body` in a forked child that exits with what it returns (a stop
// signal or a fault stays for that process only) and gives the child's wait
// status; -1, with a failure added, when no child could be made.
int StatusOfChild(const std::function<int()> &body);

} // namespace krv::setup::test
