#include "ui_dispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <thread>

namespace krv::setup {

void UiDispatcher::WaitProcessingEvents(const std::function<bool()> &done) {
    QCoreApplication *app = QCoreApplication::instance();
    const bool uiThread = app && app->thread() == QThread::currentThread();
    while (!done()) {
        if (uiThread)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            50);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void UiDispatcher::Wake() {
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
}

} // namespace krv::setup
