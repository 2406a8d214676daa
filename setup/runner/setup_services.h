// What a setup run is handed from outside: the program assembles one set in
// main() and a test builds its own, so no part of the run reaches for a
// process-wide object that a test would have to re-arm. Each module below
// the runner is handed only the piece it uses.
#pragma once

#include "credentials.h"
#include "installer_launch.h"
#include "messages.h"
#include "setup_steps.h"

#include <setup_process.h>
#include <setup_reboot.h>

#include <memory>

namespace krv::setup {

class SetupWindows;

struct SetupServices {
    // The windows the run asks through; null: none, and every question
    // takes its default answer.
    SetupWindows *windows = nullptr;
    // Where boxes and debug output go; default: the console and standard
    // error.
    SetupMessages messages;
    // How the run starts programs and asks for a restart; empty: for real.
    platform::ProcessLauncher programs;
    platform::RebootRequester reboot;
    // Starts the installer; empty: the installer program.
    InstallerLauncher launcher;
    SetupSteps steps;
    // The run's credentials for servers and proxies: the pair from the
    // command line, and the prompt. Shared so that a test can look at it
    // after the run.
    std::shared_ptr<CredentialProvider> credentials = std::make_shared<CredentialProvider>();
};

} // namespace krv::setup
