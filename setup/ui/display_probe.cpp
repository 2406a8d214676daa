#include "display_probe.h"

#include <setup_system.h>

#include "ui_dispatcher.h"

#include <QGuiApplication>
#include <QScreen>

#include <cerrno>
#include <csignal>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace krv::setup {

namespace {

bool EnvironmentSet(const char *name) {
    return !platform::GetEnvironmentVariable(name).value_or("").empty();
}

} // namespace

ScreenFacts QueryScreenFacts() {
    QCoreApplication *app = QCoreApplication::instance();
    if (!qobject_cast<QGuiApplication *>(app))
        return {};
    // The conditions run on a worker; screens belong to the interface thread.
    return UiDispatcher::Ask(app, [] {
        ScreenFacts facts;
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            facts.width = screen->size().width();
            facts.height = screen->size().height();
            facts.bitsPerPixel = screen->depth();
        }
        return facts;
    });
}

bool ProgramDisplayAvailable() {
    const std::string platform = platform::GetEnvironmentVariable("QT_QPA_PLATFORM").value_or("");
    // Platforms that draw into memory need no display and cannot fail to
    // reach one.
    for (const char *headless : {"offscreen", "minimal"})
        if (platform.rfind(headless, 0) == 0)
            return true;
    if (platform.empty() && !EnvironmentSet("DISPLAY") && !EnvironmentSet("WAYLAND_DISPLAY"))
        return false;
    return ProgramDisplayOpens();
}

// Qt ends the whole process when its platform plugin cannot connect (no X
// authority, as under sudo from a desktop; a display that is gone), so the
// first connection is made by a child that may die in our place. A child that
// neither connects nor fails within the limit counts as no display.
bool ProgramDisplayOpens(std::chrono::milliseconds limit) {
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
        int argc = 1;
        char name[] = "display-probe";
        char *argv[] = {name, nullptr};
        QGuiApplication probe(argc, argv);
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

} // namespace krv::setup
