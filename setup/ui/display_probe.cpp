#include "display_probe.h"

#include "ui_dispatcher.h"

#include <QGuiApplication>
#include <QScreen>

namespace krv::setup {

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

} // namespace krv::setup
