// Starting programs and waiting for them, for the setup bootstrapper.
//
// Command lines are Windows command lines (one text, quoted arguments); they
// are split into an argument vector by the rules of the Microsoft C runtime
// (SplitCommandLine) and the program is run with fork/exec, without a shell.
//
// Exit codes: a process that exits gives its exit status (0..255; Linux keeps
// only eight bits of it). A process ended by a signal gives 128 plus the
// signal number, so that it never looks like success.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::platform {

// Splits a command line into arguments as the Microsoft C runtime does:
// blanks and tabs separate arguments outside double quotes; 2n backslashes
// before a quote give n backslashes and the quote toggles quoting; 2n+1
// backslashes before a quote give n backslashes and a literal quote;
// backslashes elsewhere are literal; "" inside quotes gives one quote. The
// first argument (the program name) follows the same rules.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Quotes one argument so that SplitCommandLine gives it back unchanged.
std::string QuoteArgument(std::string_view argument);

struct ProcessStartInfo {
    // The program to run. Empty: the first argument of the command line; a
    // program name without "/" is searched in PATH.
    std::string program;
    // The whole command line, program name included as on Windows; split with
    // SplitCommandLine into argv. When empty, argv is just the program.
    std::string commandLine;
    // Working folder; empty keeps the caller's.
    std::string workingDirectory;
    // Start the program in its own session (no controlling terminal), for
    // programs that outlive the setup or must not share its console.
    bool detached = false;
};

struct ProcessResult {
    bool started = false;  // the program was found and exec succeeded
    int startError = 0;    // errno of the failed start
    bool waited = false;   // the exit code below is valid
    uint32_t exitCode = 0; // see the top of this file
    int signal = 0;        // the signal that ended the process; 0 when it exited
};

// Starts the program; with wait set, waits for it without a time limit and
// fills the exit code. Without wait the program runs on by itself and is
// never left as a zombie.
ProcessResult ProcessRun(const ProcessStartInfo &info, bool wait);

// Ending the setup from outside (kill, Ctrl-C, a closed terminal). After
// ForwardTerminationSignals, SIGTERM, SIGINT and SIGHUP that come while
// ProcessRun waits for a program no longer end the process at once: the
// first one is remembered, the program gets SIGTERM (SIGINT for SIGINT) so
// that it can undo its work and end, and no program is started after it
// (ProcessRun fails with EINTR). The caller ends its run when
// TerminationSignal is not 0. While a StoppableWork lives (an extraction, a
// download) such a signal is only remembered: the work sees it through
// TerminationSignal, stops and removes what it wrote. A signal while no
// program runs ends the process: with a stop action set (SetStopAction), on
// a thread of its own once no StoppableWork is under way any more (or one
// waits for the user), which removes the file SetFileRemovedOnStop named,
// runs the action and ends the process with 128 + the signal; without one
// as it always did, by the signal's own action after removing that file.
void ForwardTerminationSignals();
// The first ending signal received; 0 when none came.
int TerminationSignal();

// What ends the run after a stop that no waited program takes: called once,
// on the stop's own thread, while the rest of the process may still run (it
// must only touch what is safe from another thread); the process ends right
// after it. Empty: none.
using StopAction = std::function<void(int signal)>;
void SetStopAction(StopAction action);
// The run's own end: true for the first caller, which ends the run. A run
// that finished its work takes it before its last words, so that a stop
// action never runs beside them; false when a stop action has taken it
// already (the process is about to end: the caller waits with
// AwaitStopEnd).
bool TakeRunEnd();
[[noreturn]] void AwaitStopEnd();

// The start of a program and the taking of its result: while one lives, a
// stop that no program took waits for it (about ten seconds at most) before
// it ends the run, so that a run which has just heard its program's result
// can act on it first (for example take the run's end, TakeRunEnd, when
// the result stands). ProcessRun holds one across the start.
class ProgramStep {
  public:
    ProgramStep();
    ~ProgramStep();
    ProgramStep(const ProgramStep &) = delete;
    ProgramStep &operator=(const ProgramStep &) = delete;
    void End();

  private:
    bool m_ended = false;
};

// Marks work under way that checks TerminationSignal and ends itself.
class StoppableWork {
  public:
    StoppableWork();
    ~StoppableWork();
    StoppableWork(const StoppableWork &) = delete;
    StoppableWork &operator=(const StoppableWork &) = delete;
};

// Within a StoppableWork, a wait for the user (a question, a prompt): while
// one lives a stop signal ends the process at once, as outside such work,
// since nothing checks the stop until the user answers.
class UserWait {
  public:
    UserWait();
    ~UserWait();
    UserWait(const UserWait &) = delete;
    UserWait &operator=(const UserWait &) = delete;
};

// True while a UserWait lives.
bool WaitingForUser();

// The file a signal that ends the process at once removes first (the
// setup's resume entry, which must not outlive a run that was stopped);
// empty: none.
void SetFileRemovedOnStop(const std::string &path);

// A way to start programs that a caller hands to the code that starts them,
// so that a test can record the starts instead of running anything. An empty
// launcher is the real one (ProcessRun).
using ProcessLauncher = std::function<ProcessResult(const ProcessStartInfo &, bool wait)>;
ProcessResult ProcessRunWith(const ProcessLauncher &launcher, const ProcessStartInfo &info,
                             bool wait);

} // namespace krv::platform
