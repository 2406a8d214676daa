#include "ui_dispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace krv::setup {

void UiDispatcher::WaitProcessingEvents(const std::function<bool()> &done) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || app->thread() != QThread::currentThread())
        return; // nothing to keep answering: the caller's own wait will do
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

void UiDispatcher::Wake() {
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
}

} // namespace krv::setup
