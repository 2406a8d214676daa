// The setup sequence the program runs over its appended package, for tests
// that run the whole program: the package is made from the services before
// they move into the run, as main() does.
#pragma once

#include "payload_package.h"
#include "program_run.h"
#include "setup_runner.h"

#include <memory>
#include <utility>

namespace krv::setup::test {

inline SetupSequence PayloadPackageSequence() {
    return [](SetupProgram &program, SetupServices &run) {
        auto package = std::make_unique<PayloadRunnerPackage>(run.messages, run.programs);
        return RunSetupProgram(program, std::move(package), std::move(run));
    };
}

} // namespace krv::setup::test
