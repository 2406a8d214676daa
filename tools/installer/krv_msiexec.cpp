// krv-msiexec: installs, maintains and removes packages of ours; see
// setup/installer/installer_engine.h for its argument line and exit codes.
#include "installer_engine.h"
#include "tool_usage.h"
#include "version_info.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

KRV_DECLARE_FILE_VERSION(5, 0, 0, 0);

namespace {

std::atomic<bool> g_cancelled{false};

void OnSignal(int) {
    g_cancelled = true;
}

constexpr const char *kUsage =
    "usage: krv-msiexec /i|/f[modes]|/p|/x PACKAGE [options] [NAME=value ...]\n"
    "  /i PACKAGE          install (again: maintenance)\n"
    "  /f[modes] PACKAGE   reinstall or minor upgrade of the installed product\n"
    "  /p PACKAGE          apply a package over the installed product\n"
    "  /x PACKAGE|CODE     remove\n"
    "  /n CODE             the installed instance to act on\n"
    "  /qn /passive ...    user-interface level (none is shown)\n"
    "  /norestart /promptrestart /forcerestart\n"
    "  /l[flags] FILE      also write the steps into FILE\n"
    "  NAME=value          properties (INSTALLDIR, REINSTALL, REMOVE, TRANSFORMS ...)\n"
    "Options in any case, with \"/\" or \"-\". Steps go to standard error; the exit\n"
    "code is the Windows Installer's (0, 1602, 1603, 1605, 1618, 1638, 1639, 3010 ...).\n";

} // namespace

int main(int argc, char **argv) {
    static_assert(krv::setup::kInstallerVersion[0] == 5 && krv::setup::kInstallerVersion[1] == 0,
                  "the version note and the recorded installer version differ");
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (arguments.size() == 1 &&
        (krv::tools::IsHelpOption(arguments[0]) || arguments[0] == "/?" || arguments[0] == "-?")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    krv::setup::InstallerRequest request;
    std::string error;
    if (!krv::setup::ParseInstallerArguments(arguments, request, error)) {
        std::fprintf(stderr, "krv-msiexec: %s\n", error.c_str());
        std::fputs(kUsage, stderr);
        return krv::setup::installer_exit::kInvalidCommandLine;
    }
    // Ctrl+C, a stop request or a closed terminal: the run is undone and
    // ends as cancelled, never cut off half-way.
    struct sigaction action {};
    action.sa_handler = OnSignal;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);

    // Its own log is made as the installer's other files are: 0644, whatever
    // the umask.
    std::ofstream logFile;
    if (!request.logFile.empty()) {
        const mode_t umask = ::umask(022);
        logFile.open(request.logFile, std::ios::app);
        ::umask(umask);
    }
    krv::setup::InstallerContext context;
    context.cancelled = [] { return g_cancelled.load(); };
    context.log = [&logFile](std::string_view line) {
        std::fprintf(stderr, "krv-msiexec: %.*s\n", int(line.size()), line.data());
        if (logFile)
            logFile << line << '\n' << std::flush;
    };
    const int code = krv::setup::RunInstaller(request, context);
    context.log("exit code " + std::to_string(code));
    return code;
}
