// krv-msiexec: installs, maintains and removes packages of ours; see
// setup/installer/installer_engine.h for its argument line and exit codes.
#include "installer_engine.h"
#include "version_info.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

KRV_DECLARE_FILE_VERSION(5, 0, 0, 0);

namespace {

std::atomic<bool> g_cancelled{false};

void OnSignal(int) {
    g_cancelled = true;
}

} // namespace

int main(int argc, char **argv) {
    static_assert(krv::setup::kInstallerVersion[0] == 5 && krv::setup::kInstallerVersion[1] == 0,
                  "the version note and the recorded installer version differ");
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    krv::setup::InstallerRequest request;
    std::string error;
    if (!krv::setup::ParseInstallerArguments(arguments, request, error)) {
        std::fprintf(stderr, "krv-msiexec: %s\n", error.c_str());
        return krv::setup::installer_exit::kInvalidCommandLine;
    }
    // Ctrl+C or a stop request: the run is undone and ends as cancelled.
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::ofstream logFile;
    if (!request.logFile.empty())
        logFile.open(request.logFile, std::ios::app);
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
