#include "setup_task.h"

#include "setup_runner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <thread>

namespace krv::setup {

void RunTaskWithMessagePump(SetupTask &task) {
    if (!QCoreApplication::instance()) {
        task.Run();
        return;
    }
    QEventLoop loop;
    std::thread worker([&task, &loop] {
        task.Run();
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

void RunTaskWithStatus(SetupRunner &runner, SetupTask &task, uint32_t statusId) {
    if (runner.Silent()) {
        task.Run();
        return;
    }
    runner.Ui().ShowStatusText(statusId);
    RunTaskWithMessagePump(task);
}

} // namespace krv::setup
