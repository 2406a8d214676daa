// Packed Java archives (".jar.pack") that the package carries inside its
// compressed groups are turned back into ".jar" files after extraction by
// the Java runtime's unpack200 program, one step of the step window per
// archive. Debian 12's Java runtimes no longer carry unpack200: a package
// with packed archives then stops with the runtime message.
#pragma once

#include "messages.h"
#include "progress_sinks.h"

#include <setup_process.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace krv::setup {

namespace jar_result {
inline constexpr int kOk = 0;
inline constexpr int kFailed = 14;
inline constexpr int kCancelled = 17;
} // namespace jar_result

inline constexpr uint32_t kJarUnpackFailedId = 202; // "...%s...%s": archive, unpack200's log
inline constexpr uint32_t kJavaRuntimeMissingId = 203;

// The program looked for in a Java runtime's "bin" folder.
inline constexpr const char *kUnpack200Name = "unpack200";

struct PackedArchive {
    std::string path;   // the ".jar.pack" file
    std::size_t folder; // index of the searched folder it came from
};

// Every file below the folder (depth first, in the order the system lists
// them) whose name ends in ".jar.pack" in any letter case.
void FindPackedArchives(const std::string &folder, std::size_t index,
                        std::vector<PackedArchive> &found);

class JarUnpacker {
  public:
    // unpack200 starts through `launcher` (empty: for real); a missing Java
    // runtime and failed archives are reported through the messages.
    JarUnpacker(std::vector<std::string> folders, SetupMessages messages,
                platform::ProcessLauncher launcher = {})
        : m_folders(std::move(folders)), m_messages(std::move(messages)),
          m_launcher(std::move(launcher)) {}

    // Searches the folders and unpacks what it finds on a worker while the
    // step window (when given) is shown: 0, 14 (failed) or 17 (cancelled);
    // 0 also when no folder was given.
    int Run(StepProgressSink *steps);

    // The unpack200 that ran last (empty until one was found).
    const std::string &Unpack200Path() const { return m_unpack200; }

  private:
    int Worker();
    int UnpackAll(const std::vector<PackedArchive> &work);
    bool UnpackOne(const std::string &packed, const std::string &logFile);

    std::vector<std::string> m_folders;
    SetupMessages m_messages;
    platform::ProcessLauncher m_launcher;
    std::string m_unpack200;
    StepProgressSink *m_steps = nullptr;
    AutoResetEvent *m_ready = nullptr;
};

} // namespace krv::setup
