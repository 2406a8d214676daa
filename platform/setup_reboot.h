// Restarting the machine for the setup bootstrapper, through the login
// manager (systemd-logind on the system bus): the restart is asked for only
// when the manager says this user may restart without further questions
// (CanReboot answers "yes"), and then without an interactive prompt.
//
// Tests never restart anything: the code that restarts is handed a
// requester, and tests hand it a stand-in. As a second guard, the real
// request is refused while KRV_SETUP_ROOT is set (a test or packaging root,
// never a real install).
#pragma once

#include <functional>
#include <string>

namespace krv::platform {

enum class RebootOutcome {
    kRequested,  // the manager accepted the restart
    kNotAllowed, // the manager refuses this user (or asks for a password)
    kFailed,     // the manager could not be reached or the call failed
};

// Asks for a restart now. `reason` is for the stand-in and the log only.
RebootOutcome RequestSystemReboot(const std::string &reason);

// The restart as a caller hands it on; an empty requester is the login
// manager (RequestSystemReboot).
using RebootRequester = std::function<RebootOutcome(const std::string &reason)>;
RebootOutcome RequestSystemRebootWith(const RebootRequester &requester, const std::string &reason);

} // namespace krv::platform
