#include "toolkit_display.h"

#include <QGuiApplication>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krv::platform {

namespace {

bool EnvironmentSet(const char *name) {
    const char *value = std::getenv(name);
    return value && *value;
}

// The value of Qt's option `name` (given as -name or --name, the value as
// the next argument), or nullptr.
const char *ToolkitOption(int argc, char **argv, std::string_view name) {
    for (int i = 1; i + 1 < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument.starts_with("--"))
            argument.remove_prefix(1);
        if (argument.size() == name.size() + 1 && argument[0] == '-' && argument.substr(1) == name)
            return argv[i + 1];
    }
    return nullptr;
}

} // namespace

bool DisplayAvailable(int argc, char **argv) {
    const char *option = ToolkitOption(argc, argv, "platform");
    const char *variable = std::getenv("QT_QPA_PLATFORM");
    const std::string platform = option ? option : (variable ? variable : "");
    // Platforms that draw into memory need no display and cannot fail to
    // reach one.
    for (const char *headless : {"offscreen", "minimal"})
        if (platform.starts_with(headless))
            return true;
    if (platform.empty() && !ToolkitOption(argc, argv, "display") && !EnvironmentSet("DISPLAY") &&
        !EnvironmentSet("WAYLAND_DISPLAY"))
        return false;
    return DisplayOpens(argc, argv);
}

// The first connection is made by a child that may die in our place.
bool DisplayOpens(int argc, char **argv, std::chrono::milliseconds limit) {
    int done[2];
    if (::pipe2(done, O_CLOEXEC) != 0)
        return false;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(done[0]);
        ::close(done[1]);
        return false;
    }
    if (child == 0) {
        ::close(done[0]);
        // The plugin's complaints are the parent's to report, not the child's.
        const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (devNull >= 0)
            ::dup2(devNull, STDERR_FILENO);
        // The program's own arguments, so that the toolkit's options count.
        std::vector<char *> arguments(argv, argv + argc);
        char name[] = "display-probe";
        if (arguments.empty())
            arguments.push_back(name);
        arguments.push_back(nullptr);
        int count = static_cast<int>(arguments.size()) - 1;
        QGuiApplication probe(count, arguments.data());
        ::_exit(0);
    }
    ::close(done[1]);
    // The pipe's write end dies with the child, however it ends.
    pollfd p{done[0], POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&p, 1, static_cast<int>(limit.count()));
    while (ready < 0 && errno == EINTR);
    ::close(done[0]);
    if (ready <= 0)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return ready > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace krv::platform
