#include "program.h"

#include "log.h"
#include "messages.h"
#include "paths.h"
#include "payload_commands.h"
#include "ui_strings.h"

#include <setup_system.h>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace krv::setup {

namespace {

constexpr uint32_t kUsageTextId = 144;
constexpr uint32_t kUsageCaptionId = 140;

bool EnvironmentSet(const char *name) {
    return !platform::GetEnvironmentVariable(name).value_or("").empty();
}

} // namespace

std::string ProgramBaseName(std::string_view programPath) {
    const std::size_t slash = programPath.find_last_of("/\\");
    return std::string(WithoutExeSuffix(
        slash == std::string_view::npos ? programPath : programPath.substr(slash + 1)));
}

void ApplyLogSwitch(const CommandLineOptions &options, const std::string &programPath) {
    if (const SwitchValue *log = FindSwitch(options, switch_id::kExeLog)) {
        LoggingEnabled = true;
        SetLogHeader("\r\n====== Starting logging of \"" + programPath + "\" ====\r\n");
        if (!log->value.empty())
            SetLogFilePath(log->value);
    }
}

bool ProgramHandleStandaloneSwitches(SetupProgram &program) {
    program.options = ParseCommandLine(program.commandLine);
    ApplyLogSwitch(program.options, program.programPath);
    if (FindSwitch(program.options, switch_id::kHelp)) {
        ProgramShowUsage(program);
        return true;
    }
    // /listlangs and /extractlzma, which the runner takes, come before
    // /extract and /deletelzma when several are given.
    if (FindSwitch(program.options, switch_id::kListLangs) ||
        FindSwitch(program.options, switch_id::kExtractLzma))
        return false;
    if (const SwitchValue *extract = FindSwitch(program.options, switch_id::kExtract)) {
        program.exitCode = ExtractOnly(program, extract->value);
        return true;
    }
    if (FindSwitch(program.options, switch_id::kDeleteLzma)) {
        program.exitCode = DeleteMainPackageFiles(program);
        return true;
    }
    return false;
}

void ProgramShowUsage(const SetupProgram &program) {
    const std::string name = ProgramBaseName(program.programPath);
    MessageBoxFromStrings(nullptr, UiTextOrId(FormatUiString(kUsageTextId, name)),
                          UiTextOrId(FormatUiString(kUsageCaptionId, name)), mb::kIconInformation);
}

int ProgramWriteExitCodeLog(const SetupProgram &program) {
    if (LoggingEnabled) {
        std::string line = "Code returned to Windows by setup:";
        AppendLogInt(line, program.exitCode);
        WriteLogLine(line);
    }
    return program.exitCode;
}

int ProgramRun(const std::vector<std::string> &arguments, const std::string &programPath,
               const SetupSequence &sequence, SetupWindows *windows) {
    // A fresh run: nothing logged, the user interface visible.
    LoggingEnabled = false;
    UiVisible = true;
    SetLogFilePath("");
    SetLogHeader(kDefaultLogHeader);

    SetupProgram program;
    program.programPath = programPath;
    program.windows = windows;
    program.commandLine = JoinWindowsCommandLine(arguments);
    // The process's own command line, as started (before /cmdloc).
    program.fullCommandLine = QuoteWindowsArgument(programPath);
    if (!program.commandLine.empty())
        program.fullCommandLine += ' ' + program.commandLine;
    std::string stored;
    if (ReadCommandLineFromRegistry(program.commandLine, stored))
        program.commandLine = stored;

    // A standalone switch ends the run with its own exit code (0 for the
    // usage box) and leaves no exit-code line: its log holds the header, the system block and the
    // end line only.
    if (!ProgramHandleStandaloneSwitches(program)) {
        if (sequence) {
            program.exitCode = sequence(program);
        } else {
            LogLine("Full command line:" + program.fullCommandLine);
            LogLine("Command line to pass to MSI:" + program.options.passThrough);
            program.exitCode = 1;
        }
        ProgramWriteExitCodeLog(program);
    }
    CloseLog();
    return program.exitCode;
}

bool ProgramUseRootRuntimeFolder() {
    const std::string root = platform::GetEnvironmentVariable("KRV_SETUP_ROOT").value_or("");
    if (root.empty() || EnvironmentSet("XDG_RUNTIME_DIR"))
        return false;
    // The toolkit makes $TMPDIR/runtime-<user> when it has no runtime
    // folder; a run under the root must leave the system's folders alone.
    std::string folder = ToNativePath(root);
    AddTrailingBackslash(folder);
    for (const char *part : {"run", "run/user"}) {
        const std::string path = folder + part;
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    folder += "run/user/" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    // Only a folder of this user, not a link, and private to it.
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || ((info.st_mode & 077) && ::chmod(folder.c_str(), 0700) != 0))
        return false;
    return ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1) == 0;
}

} // namespace krv::setup
