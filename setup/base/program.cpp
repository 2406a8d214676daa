#include "program.h"

#include "files.h"
#include "log.h"
#include "messages.h"
#include "paths.h"
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

void ProgramShowUsage(const SetupProgram &program) {
    const std::string name = ProgramBaseName(program.programPath);
    program.messages.MessageBoxFromStrings(nullptr, UiTextOrId(FormatUiString(kUsageTextId, name)),
                                           UiTextOrId(FormatUiString(kUsageCaptionId, name)),
                                           mb::kIconInformation);
}

int ProgramWriteExitCodeLog(const SetupProgram &program) {
    if (LoggingEnabled) {
        std::string line = "Code returned to Windows by setup:";
        AppendLogInt(line, program.exitCode);
        WriteLogLine(line);
    }
    return program.exitCode;
}

bool ProgramUseRootRuntimeFolder() {
    const std::string root = platform::GetEnvironmentVariable("KRV_SETUP_ROOT").value_or("");
    if (root.empty() || EnvironmentSet("XDG_RUNTIME_DIR"))
        return false;
    // The toolkit makes $TMPDIR/runtime-<user> when it has no runtime
    // folder; a run under the root must leave the system's folders alone.
    const std::string folder = RootRuntimeFolder(root, ::getuid());
    return !folder.empty() && ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1) == 0;
}

} // namespace krv::setup
