#include "resume.h"

#include "log.h"
#include "paths.h"

#include <setup_autostart.h>
#include <setup_process.h>
#include <setup_reboot.h>

namespace krv::setup {
namespace {

constexpr std::string_view kJobSuffix = ".job";
constexpr std::string_view kEntrySuffix = ".desktop";
// Entry names stay well inside the file-name limit: a longer path keeps its
// last characters, which name the program.
constexpr std::size_t kMaxEntryStem = 200;

} // namespace

std::string MakeJobName(std::string_view bootstrapperPath) {
    std::string name(bootstrapperPath);
    SanitizeFileName(name);
    return name + std::string(kJobSuffix);
}

std::string ResumeEntryFileName(std::string_view bootstrapperPath) {
    std::string stem = MakeJobName(bootstrapperPath);
    stem.resize(stem.size() - kJobSuffix.size());
    if (stem.size() > kMaxEntryStem)
        stem.erase(0, stem.size() - kMaxEntryStem);
    return stem + std::string(kEntrySuffix);
}

std::string ResumeEntryFolder() {
    std::string folder = "StartupFolder";
    if (!ResolveFolderName(folder))
        return {};
    return folder;
}

std::string ResumeEntryPath(std::string_view bootstrapperPath) {
    // The file RegisterResume writes and UnregisterResume removes.
    const std::string folder = ResumeEntryFolder();
    if (folder.empty())
        return {};
    return platform::AutostartEntryPath(ToNativePath(folder),
                                        ResumeEntryFileName(bootstrapperPath));
}

bool RegisterResume(std::string *jobName, std::string_view bootstrapperPath,
                    std::string_view commandLine) {
    if (bootstrapperPath.empty())
        return false;
    const std::string fileName = ResumeEntryFileName(bootstrapperPath);
    if (jobName)
        *jobName = fileName;
    platform::AutostartEntry entry;
    entry.name = std::string(bootstrapperPath);
    entry.arguments.push_back(ToNativePath(bootstrapperPath));
    for (std::string &argument : platform::SplitCommandLine(commandLine))
        entry.arguments.push_back(std::move(argument));
    const std::string folder = ResumeEntryFolder();
    if (folder.empty())
        return false;
    return platform::WriteAutostartEntry(ToNativePath(folder), fileName, entry);
}

bool RegisterResumeCommand(const ResumeCommand &command) {
    return RegisterResume(nullptr, command.bootstrapperPath, command.commandLine);
}

void UnregisterResume(std::string_view bootstrapperPath) {
    if (bootstrapperPath.empty())
        return;
    const std::string folder = ResumeEntryFolder();
    if (!folder.empty())
        platform::RemoveAutostartEntry(ToNativePath(folder), ResumeEntryFileName(bootstrapperPath));
}

bool RebootMachine(const platform::RebootRequester &requester) {
    // The shutdown that follows stops the setup with a signal; the entry
    // that resumes it must survive that.
    platform::SetFileRemovedOnStop("");
    return platform::RequestSystemRebootWith(requester,
                                             "setup: a prerequisite asks for a restart") ==
           platform::RebootOutcome::kRequested;
}

} // namespace krv::setup
