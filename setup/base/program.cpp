#include "program.h"

#include "log.h"
#include "messages.h"
#include "paths.h"
#include "payload_commands.h"
#include "ui_strings.h"

#include <setup_system.h>

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

bool ProgramHandleStandaloneSwitches(SetupProgram &program) {
    program.options = ParseCommandLine(program.commandLine);
    if (const SwitchValue *log = FindSwitch(program.options, switch_id::kExeLog)) {
        LoggingEnabled = true;
        SetLogHeader("\r\n====== Starting logging of \"" + program.programPath + "\" ====\r\n");
        if (!log->value.empty())
            SetLogFilePath(log->value);
    }
    if (FindSwitch(program.options, switch_id::kHelp)) {
        ProgramShowUsage(program);
        return true;
    }
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
               const SetupSequence &sequence) {
    // A fresh run: nothing logged, the user interface visible.
    LoggingEnabled = false;
    UiVisible = true;
    SetLogFilePath("");
    SetLogHeader(kDefaultLogHeader);

    SetupProgram program;
    program.programPath = programPath;
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

bool ProgramDisplayAvailable() {
    return EnvironmentSet("QT_QPA_PLATFORM") || EnvironmentSet("DISPLAY") ||
           EnvironmentSet("WAYLAND_DISPLAY");
}

} // namespace krv::setup
