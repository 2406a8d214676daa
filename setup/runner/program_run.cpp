#include "program_run.h"

#include "log.h"
#include "payload_commands.h"

namespace krv::setup {

bool ProgramHandleStandaloneSwitches(SetupProgram &program) {
    program.options = ParseCommandLine(program.commandLine);
    ApplyLogSwitch(program.options, program.programPath);
    // --help as other programs take it, besides the setup's own /? and /help.
    const std::string_view line = program.commandLine;
    const bool gnuHelp = line == "--help" || line.starts_with("--help ");
    if (gnuHelp || FindSwitch(program.options, switch_id::kHelp)) {
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

int ProgramRun(const std::vector<std::string> &arguments, const std::string &programPath,
               SetupServices services, const SetupSequence &sequence) {
    // A fresh run: nothing logged, the user interface visible.
    LoggingEnabled = false;
    UiVisible = true;
    SetLogFilePath("");
    SetLogHeader(kDefaultLogHeader);

    SetupProgram program;
    program.programPath = programPath;
    program.windows = services.windows;
    program.messages = services.messages;
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
            program.exitCode = sequence(program, services);
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

} // namespace krv::setup
