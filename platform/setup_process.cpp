#include "setup_process.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krv::platform {

std::vector<std::string> SplitCommandLine(std::string_view s) {
    std::vector<std::string> args;
    std::string current;
    bool inArg = false;
    bool inQuotes = false;
    std::size_t i = 0;
    while (i < s.size()) {
        char c = s[i];
        if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inArg)
                args.push_back(std::move(current));
            current.clear();
            inArg = false;
            ++i;
            continue;
        }
        inArg = true;
        if (c == '\\') {
            std::size_t j = i;
            while (j < s.size() && s[j] == '\\')
                ++j;
            std::size_t count = j - i;
            if (j < s.size() && s[j] == '"') {
                current.append(count / 2, '\\');
                if (count % 2) {
                    current += '"';
                    i = j + 1;
                } else {
                    i = j; // the quote toggles quoting below
                }
            } else {
                current.append(count, '\\');
                i = j;
            }
            continue;
        }
        if (c == '"') {
            if (inQuotes && i + 1 < s.size() && s[i + 1] == '"') {
                current += '"';
                i += 2;
                continue;
            }
            inQuotes = !inQuotes;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (inArg)
        args.push_back(std::move(current));
    return args;
}

std::string QuoteArgument(std::string_view arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string_view::npos)
        return std::string(arg);
    std::string out = "\"";
    std::size_t i = 0;
    while (i < arg.size()) {
        std::size_t backslashes = 0;
        while (i < arg.size() && arg[i] == '\\') {
            ++backslashes;
            ++i;
        }
        if (i == arg.size()) {
            out.append(backslashes * 2, '\\');
            break;
        }
        if (arg[i] == '"') {
            out.append(backslashes * 2 + 1, '\\');
            out += '"';
        } else {
            out.append(backslashes, '\\');
            out += arg[i];
        }
        ++i;
    }
    out += '"';
    return out;
}

namespace {

std::atomic<int> g_terminationSignal{0};
std::atomic<pid_t> g_waitedChild{0};
// Work under way that a stop cancels (StoppableWork scopes).
std::atomic<int> g_stoppableWork{0};
// Waits for the user under way (UserWait scopes): they keep no stop waiting.
std::atomic<int> g_userWaits{0};
// The file an immediate stop removes: two buffers, so that the handler
// never reads one that is being written; -1 names none.
constexpr std::size_t kRemovedPathSize = 4096;
char g_removedOnStop[2][kRemovedPathSize];
std::atomic<int> g_removedOnStopIndex{-1};
// The write end of the pipe that wakes the stop's thread; -1 while there is
// none (no stop action set).
std::atomic<int> g_stopWake{-1};
// Starts of waited programs under way (ProgramStep): between the check of
// the stop and the child's pid being known, and between its end and the
// caller taking its result, a stop must not end the process under them.
std::atomic<int> g_launching{0};
std::atomic<bool> g_runEndTaken{false};
std::mutex g_stopActionLock;
StopAction g_stopAction;

// SIGHUP means "stop" to a program as much as SIGTERM does, but programs
// that undo their work on a stop (the installer) listen for SIGTERM.
int ForwardedSignal(int signal) {
    return signal == SIGINT ? SIGINT : SIGTERM;
}

// Only async-signal-safe calls.
void OnTerminationSignal(int signal) {
    // The stop is remembered before the child is looked at, and a start
    // publishes its child before it looks at the stop: whichever comes
    // second sees the other, so a program started at the same moment is
    // never left without it.
    int none = 0;
    g_terminationSignal.compare_exchange_strong(none, signal);
    if (const pid_t child = g_waitedChild.load(); child > 0) {
        ::kill(child, ForwardedSignal(signal));
        return;
    }
    if (const int wake = g_stopWake.load(); wake >= 0) {
        // The stop's thread ends the run once the work under way has undone
        // itself.
        const char byte = 1;
        ssize_t ignored = ::write(wake, &byte, 1);
        (void)ignored;
        return;
    }
    // An extraction or a download checks the stop and undoes its work; the
    // run then ends as after a stopped program.
    if (g_stoppableWork.load() > 0 && g_userWaits.load() == 0)
        return;
    // Nothing to wait for: the process ends as the signal asks (a dialog
    // waiting for the user must not keep it alive), without the file it
    // must not leave behind. The signal is blocked while this handler runs
    // and arrives on its return.
    if (const int index = g_removedOnStopIndex.load(); index >= 0)
        ::unlink(g_removedOnStop[index]);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

sigset_t StopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kStopSignals)
        sigaddset(&set, signal);
    return set;
}

// The stop signals held back on this thread while a program starts: the
// child begins with them blocked and sets their default action before it
// lets them in, so our handler never runs in it (there a stop would be
// taken and lost, and the program would run on).
class StopSignalsHeld {
  public:
    StopSignalsHeld() {
        const sigset_t stops = StopSignalSet();
        ::pthread_sigmask(SIG_BLOCK, &stops, &m_previous);
    }
    ~StopSignalsHeld() { Release(); }
    void Release() {
        if (!m_released)
            ::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
        m_released = true;
    }
    StopSignalsHeld(const StopSignalsHeld &) = delete;
    StopSignalsHeld &operator=(const StopSignalsHeld &) = delete;

  private:
    sigset_t m_previous;
    bool m_released = false;
};

bool IsExecutableFile(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The file exec will run: a name with "/" as it stands, else the first match
// in PATH. Resolved before fork so the child only calls exec.
std::string ResolveProgram(const std::string &program) {
    if (program.find('/') != std::string::npos)
        return program;
    const char *pathEnv = std::getenv("PATH");
    std::string path = pathEnv ? pathEnv : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        std::string candidate = end > start ? path.substr(start, end - start) : std::string(".");
        candidate += '/';
        candidate += program;
        if (IsExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

void WriteErrno(int fd, int error) {
    ssize_t ignored = ::write(fd, &error, sizeof error);
    (void)ignored;
}

// Runs in the child after fork: only async-signal-safe calls.
[[noreturn]] void ExecChild(int errorFd, const char *file, char *const argv[],
                            const char *workingDirectory, bool detached) {
    // Nothing of ours leaks into the program but the error pipe, which
    // closes itself on exec.
    ::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC);
    // A stop sent the moment the parent learnt our pid waits, blocked, for
    // its default action: it ends us here or reaches the program.
    for (int signal : kStopSignals)
        ::signal(signal, SIG_DFL);
    // One that is here already came before the program: it is not started
    // (the stop took the run first), rather than started and cut off at its
    // first instruction.
    sigset_t pending;
    if (::sigpending(&pending) == 0)
        for (int signal : kStopSignals)
            if (sigismember(&pending, signal)) {
                WriteErrno(errorFd, EINTR);
                ::_exit(127);
            }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    if (detached)
        ::setsid();
    if (workingDirectory && ::chdir(workingDirectory) != 0) {
        WriteErrno(errorFd, errno);
        ::_exit(127);
    }
    ::execv(file, argv);
    WriteErrno(errorFd, errno);
    ::_exit(127);
}

uint32_t ExitCodeOf(int status) {
    if (WIFEXITED(status))
        return static_cast<uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return 128u + static_cast<uint32_t>(WTERMSIG(status));
    return 1;
}

pid_t WaitFor(pid_t pid, int &status) {
    pid_t r;
    do {
        r = ::waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    return r;
}

ProcessResult RealRun(const ProcessStartInfo &info, bool wait) {
    ProcessResult result;
    ProgramStep launching;
    StopSignalsHeld held;
    if (g_terminationSignal.load() != 0) {
        result.startError = EINTR;
        return result;
    }
    std::vector<std::string> args = SplitCommandLine(info.commandLine);
    std::string program = info.program;
    if (program.empty() && !args.empty())
        program = args.front();
    if (program.empty()) {
        result.startError = ENOENT;
        return result;
    }
    if (args.empty())
        args.push_back(program);
    std::string file = ResolveProgram(program);
    if (file.empty()) {
        result.startError = ENOENT;
        return result;
    }
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const char *wd = info.workingDirectory.empty() ? nullptr : info.workingDirectory.c_str();

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        result.startError = errno;
        return result;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        result.startError = errno;
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return result;
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        if (!wait) {
            // A grandchild runs the program; this child ends at once and is
            // reaped below, so nothing is left as a zombie.
            pid_t grandchild = ::fork();
            if (grandchild < 0) {
                WriteErrno(pipeFds[1], errno);
                ::_exit(127);
            }
            if (grandchild > 0)
                ::_exit(0);
        }
        ExecChild(pipeFds[1], file.c_str(), argv.data(), wd, info.detached);
    }
    ::close(pipeFds[1]);
    if (wait) {
        g_waitedChild.store(pid);
        // A stop that came since the check above found no program to pass
        // itself on to.
        if (const int signal = g_terminationSignal.load())
            ::kill(pid, ForwardedSignal(signal));
    }
    launching.End();
    held.Release();
    int childErrno = 0;
    ssize_t n;
    do {
        n = ::read(pipeFds[0], &childErrno, sizeof childErrno);
    } while (n < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    int status = 0;
    if (n == static_cast<ssize_t>(sizeof childErrno)) {
        WaitFor(pid, status);
        g_waitedChild.store(0);
        result.startError = childErrno;
        return result;
    }
    result.started = true;
    if (!wait) {
        WaitFor(pid, status);
        return result;
    }
    const pid_t ended = WaitFor(pid, status);
    g_waitedChild.store(0);
    if (ended == pid) {
        result.waited = true;
        result.exitCode = ExitCodeOf(status);
        if (WIFSIGNALED(status))
            result.signal = WTERMSIG(status);
    }
    return result;
}

// The stop's thread: woken by the handler, it waits for the work under way
// to undo itself, then ends the run unless a program took the stop.
void StopThread(int wakeRead) {
    for (;;) {
        char byte = 0;
        const ssize_t n = ::read(wakeRead, &byte, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        // An extraction or a download ends within about a second of a stop;
        // one that hangs does not keep the process alive for ever.
        constexpr int kMaxWaitRounds = 1000;
        for (int round = 0; round < kMaxWaitRounds; ++round) {
            const bool working = g_stoppableWork.load() > 0 && g_userWaits.load() == 0;
            if (!working && g_launching.load() == 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // A program started meanwhile has the stop and ends the run through
        // its caller.
        if (g_waitedChild.load() > 0 || g_runEndTaken.exchange(true))
            continue;
        const int signal = g_terminationSignal.load();
        if (const int index = g_removedOnStopIndex.load(); index >= 0)
            ::unlink(g_removedOnStop[index]);
        StopAction action;
        {
            std::lock_guard guard(g_stopActionLock);
            action = g_stopAction;
        }
        if (action)
            action(signal);
        ::_exit(128 + signal);
    }
}

} // namespace

void SetStopAction(StopAction action) {
    {
        std::lock_guard guard(g_stopActionLock);
        g_stopAction = std::move(action);
    }
    static std::once_flag started;
    std::call_once(started, [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
        try {
            std::thread(StopThread, fds[0]).detach();
        } catch (const std::system_error &) {
            ::close(fds[0]);
            ::close(fds[1]);
            return;
        }
        g_stopWake.store(fds[1]);
    });
}

bool TakeRunEnd() {
    return !g_runEndTaken.exchange(true);
}

void AwaitStopEnd() {
    for (;;)
        ::pause();
}

void ForwardTerminationSignals() {
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kStopSignals)
        ::sigaction(signal, &action, nullptr);
}

int TerminationSignal() {
    return g_terminationSignal.load();
}

ProgramStep::ProgramStep() {
    g_launching.fetch_add(1);
}

ProgramStep::~ProgramStep() {
    End();
}

void ProgramStep::End() {
    if (!m_ended)
        g_launching.fetch_sub(1);
    m_ended = true;
}

StoppableWork::StoppableWork() {
    g_stoppableWork.fetch_add(1);
}

StoppableWork::~StoppableWork() {
    g_stoppableWork.fetch_sub(1);
}

UserWait::UserWait() {
    g_userWaits.fetch_add(1);
}

UserWait::~UserWait() {
    g_userWaits.fetch_sub(1);
}

bool WaitingForUser() {
    return g_userWaits.load() > 0;
}

void SetFileRemovedOnStop(const std::string &path) {
    if (path.empty() || path.size() >= kRemovedPathSize) {
        g_removedOnStopIndex.store(-1);
        return;
    }
    const int next = g_removedOnStopIndex.load() == 0 ? 1 : 0;
    std::memcpy(g_removedOnStop[next], path.c_str(), path.size() + 1);
    g_removedOnStopIndex.store(next);
}

ProcessResult ProcessRun(const ProcessStartInfo &info, bool wait) {
    return RealRun(info, wait);
}

ProcessResult ProcessRunWith(const ProcessLauncher &launcher, const ProcessStartInfo &info,
                             bool wait) {
    return launcher ? launcher(info, wait) : ProcessRun(info, wait);
}

} // namespace krv::platform
