// krv-emulator: serves an emulated KRV-T100 / KRV-T200 printer on a pty.
#include "emulator.h"
#include "tool_usage.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

constexpr const char *kUsage =
    "usage: krv-emulator [--link PATH] [--model t100|t200] [--fresh] [--pace BAUD] [--trace]\n"
    "  --link PATH   also make PATH a symlink to the pty (point KRV_COM<n> at it);\n"
    "                a link already there is replaced, anything else is refused\n"
    "  --model       t100 answers the designation \"МВ-21\" (default), t200 \"МВ-22\"\n"
    "  --fresh       a printer as it comes new: no tax rates, no articles; by\n"
    "                default it is in service: tax groups А-Д at 20, 7, 14, 0 and\n"
    "                0 % (tax included in the prices), article 1 \"ХЛІБ\" at 12.50\n"
    "  --pace BAUD   send reply bytes at the line rate of BAUD (10 bits a byte)\n"
    "  --trace       print every frame on stderr\n"
    "It serves until Ctrl+C or SIGTERM.\n";

} // namespace

int main(int argc, char **argv) {
    krv::emu::EmulatorOptions options;
    bool inService = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "krv-emulator: %s needs a value\n", arg.c_str());
                krv::tools::ExitWithUsage(kUsage, false);
            }
            return argv[++i];
        };
        if (arg == "--link")
            options.linkPath = value();
        else if (arg == "--model") {
            std::string model = value();
            if (model == "t100")
                options.designation = "МВ-21";
            else if (model == "t200")
                options.designation = "МВ-22";
            else {
                std::fprintf(stderr, "krv-emulator: unknown model '%s' (t100 or t200)\n",
                             model.c_str());
                krv::tools::ExitWithUsage(kUsage, false);
            }
        } else if (arg == "--pace") {
            char *end = nullptr;
            std::string text = value();
            unsigned long baud = std::strtoul(text.c_str(), &end, 10);
            if (end == text.c_str() || *end != '\0' || baud == 0 || baud > 1000000) {
                std::fprintf(stderr, "krv-emulator: bad baud rate '%s'\n", text.c_str());
                krv::tools::ExitWithUsage(kUsage, false);
            }
            options.paceBaud = static_cast<uint32_t>(baud);
        } else if (arg == "--fresh")
            inService = false;
        else if (arg == "--trace")
            options.quiet = false;
        else if (krv::tools::IsHelpOption(arg))
            krv::tools::ExitWithUsage(kUsage, true);
        else {
            std::fprintf(stderr, "krv-emulator: unknown argument '%s'\n", arg.c_str());
            krv::tools::ExitWithUsage(kUsage, false);
        }
    }

    krv::emu::PrinterEmulator emulator(options);
    krv::emu::RegisterAllCommands(emulator);
    if (inService && !krv::emu::PutInService(emulator)) {
        std::fprintf(stderr, "krv-emulator: the printer refused its programming\n");
        return 1;
    }
    if (!emulator.Start()) {
        if (errno == EEXIST && !options.linkPath.empty())
            std::fprintf(stderr, "krv-emulator: %s is there and is not a link; name another\n",
                         options.linkPath.c_str());
        else
            std::fprintf(stderr, "krv-emulator: cannot serve a pseudo-terminal: %s\n",
                         std::strerror(errno));
        return 1;
    }
    std::printf("krv-emulator: printer %s (%s) on %s\n", options.designation.c_str(),
                inService ? "in service" : "fresh", emulator.SlavePath().c_str());
    if (!options.linkPath.empty())
        std::printf("krv-emulator: linked as %s; reach it with KRV_COM1=%s\n",
                    options.linkPath.c_str(), options.linkPath.c_str());
    else
        std::printf("krv-emulator: reach it with KRV_COM1=%s\n", emulator.SlavePath().c_str());
    std::fflush(stdout);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    while (!g_stop)
        ::pause();
    emulator.Stop();
    return 0;
}
