#include "jar_unpacker.h"

#include "command_line_text.h"
#include "files.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
#include "system.h"
#include "ui_strings.h"

#include <setup_process.h>

#include <filesystem>
#include <future>
#include <string_view>
#include <thread>

#include <unistd.h>

namespace krv::setup {

namespace {

bool EndsWithNoCase(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() &&
           EqualsIgnoreCase(text.substr(text.size() - ending.size()), ending);
}

bool IsPackedArchiveName(std::string_view name) {
    if (!EndsWithNoCase(name, ".pack"))
        return false;
    name.remove_suffix(5);
    return EndsWithNoCase(name, ".jar");
}

} // namespace

void FindPackedArchives(const std::string &folder, std::size_t index,
                        std::vector<PackedArchive> &found) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> subfolders;
    for (fs::directory_iterator it(ToNativePath(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsPackedArchiveName(name))
            found.push_back({it->path().string(), index});
        // Links are not followed: a group cannot lead the search elsewhere.
        std::error_code statEc;
        if (it->is_directory(statEc) && !it->is_symlink(statEc))
            subfolders.push_back(it->path());
    }
    for (const fs::path &sub : subfolders)
        FindPackedArchives(sub.string(), index, found);
}

int JarUnpacker::Run(StepProgressSink *steps) {
    if (m_folders.empty())
        return jar_result::kOk;
    m_steps = steps;
    AutoResetEvent ready;
    if (steps) {
        m_ready = &ready;
        steps->SetReadyEvent(&ready);
    }
    std::packaged_task<int()> task([this] { return Worker(); });
    std::future<int> result = task.get_future();
    std::thread worker(std::move(task));
    if (steps)
        steps->ShowModal();
    worker.join();
    if (steps)
        steps->SetReadyEvent(nullptr);
    m_ready = nullptr;
    m_steps = nullptr;
    return result.get();
}

int JarUnpacker::Worker() {
    if (m_ready)
        m_ready->Wait();
    std::vector<PackedArchive> work;
    for (std::size_t i = 0; i < m_folders.size(); ++i)
        FindPackedArchives(m_folders[i], i, work);
    if (m_steps)
        m_steps->BeginSteps(static_cast<uint32_t>(work.size()));
    const int result = UnpackAll(work);
    // The window ends whatever happened, so a failure never leaves it open.
    if (m_steps)
        m_steps->Finish();
    return result;
}

int JarUnpacker::UnpackAll(const std::vector<PackedArchive> &work) {
    if (work.empty())
        return jar_result::kOk;
    std::string first = m_folders.front();
    AddTrailingBackslash(first);
    m_unpack200 = FindJavaHome(kUnpack200Name, "1.5", first + "jre", first + "jre64", true, false);
    if (m_unpack200.empty()) {
        m_messages.ReportMessageId(kJavaRuntimeMissingId, false);
        return jar_result::kFailed;
    }
    std::string logFile;
    if (!MakeTempFileNameWithPrefix("log", logFile))
        return jar_result::kFailed;
    for (const PackedArchive &entry : work) {
        if (m_steps && m_steps->IsCancelled())
            return jar_result::kCancelled;
        if (!UnpackOne(entry.path, logFile))
            return jar_result::kFailed;
    }
    return jar_result::kOk;
}

bool JarUnpacker::UnpackOne(const std::string &packed, const std::string &logFile) {
    const std::size_t dot = packed.rfind('.');
    const std::size_t slash = packed.find_last_of("/\\");
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || dot <= nameStart)
        return true;
    const std::string jar = packed.substr(0, dot);
    if (m_steps)
        m_steps->SetStepText(packed);
    using platform::QuoteArgument;
    const std::string commandLine =
        QuoteArgument(m_unpack200) + " --verbose " + QuoteArgument("--log-file=" + logFile) +
        " --remove-pack-file " + QuoteArgument(packed) + " " + QuoteArgument(jar);
    uint32_t exitCode = 0;
    RunProcessAndWait(m_unpack200, commandLine, &exitCode, 0x08000000 | 0x8, false, m_launcher);
    // Its exit code says nothing reliable: the archive it writes does.
    bool done = FileOrFolderExists(jar);
    if (done) {
        ::unlink(ToNativePath(packed).c_str());
    } else {
        std::string log;
        ReadTextFile(logFile, log);
        const std::string name = std::filesystem::path(jar).filename().string();
        m_messages.ReportError(FormatUiText(LoadUiString(kJarUnpackFailedId), {name, log}), false);
    }
    ::unlink(ToNativePath(logFile).c_str());
    if (m_steps)
        m_steps->Step();
    return done;
}

} // namespace krv::setup
