// TelmarSetup2.3: the setup bootstrapper.
#include "program.h"

#include <setup_system.h>

#include <QApplication>

#include <memory>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    // The arguments as given, before Qt takes its own options out of argv.
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::unique_ptr<QApplication> app;
    if (krv::setup::ProgramDisplayAvailable())
        app = std::make_unique<QApplication>(argc, argv);
    std::string self = krv::platform::ExecutablePath();
    if (self.empty() && argc > 0)
        self = argv[0];
    return krv::setup::ProgramRun(arguments, self);
}
