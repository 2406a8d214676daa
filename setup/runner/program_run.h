// The whole run of the program: the command line as one Windows-style line,
// the /cmdloc redirection, the standalone switches that replace a setup, the
// setup sequence, the exit-code line and the closing of the log. main() only
// builds the Qt application when a display can be had and calls ProgramRun,
// which tests call the same way.
#pragma once

#include "program.h"
#include "setup_services.h"

#include <functional>
#include <string>
#include <vector>

namespace krv::setup {

// The setup sequence that runs when no standalone switch took the run, with
// the services the run was handed; it returns the exit code.
using SetupSequence = std::function<int(SetupProgram &, SetupServices &)>;

// Parses the command line, applies /exelog, and runs the standalone switch
// that replaces a setup: /? or /help shows the usage, /extract extracts the
// package into a folder, /deletelzma removes what the main package put in
// place (their exit code goes to program.exitCode). True when one ran.
bool ProgramHandleStandaloneSwitches(SetupProgram &program);

// The whole run: arguments (without the program name) to exit code. Without
// a setup sequence the run logs the command lines it would hand on and ends
// with exit code 1, as a run without a package does.
// The program's own switches ask through the services' windows and messages
// (none, and the console and standard error, when default).
int ProgramRun(const std::vector<std::string> &arguments, const std::string &programPath,
               SetupServices services = {}, const SetupSequence &sequence = {});

} // namespace krv::setup
