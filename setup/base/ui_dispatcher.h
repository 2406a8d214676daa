// Carries calls from worker threads to the user-interface thread. Updates
// are posted and return at once; questions block the worker until the
// user-interface thread has answered, while that thread keeps processing
// its events (a modal dialog's loop, for instance). On the user-interface
// thread itself both run the call directly.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <chrono>

#include <functional>
#include <type_traits>

namespace krv::setup {

class UiDispatcher {
  public:
    // Runs the call on the context object's thread; dropped when the object
    // is gone by then.
    static void Post(QObject *context, std::function<void()> call) {
        if (!context)
            return;
        QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
    }

    // Runs the call on the context object's thread and returns its answer.
    // The context must live on a thread that is processing events.
    template <typename Call> static auto Ask(QObject *context, Call call) -> decltype(call()) {
        using Result = decltype(call());
        if (!context || context->thread() == QThread::currentThread())
            return call();
        if constexpr (std::is_void_v<Result>) {
            QMetaObject::invokeMethod(context, call, Qt::BlockingQueuedConnection);
        } else {
            Result result{};
            QMetaObject::invokeMethod(
                context, [&result, &call] { result = call(); }, Qt::BlockingQueuedConnection);
            return result;
        }
    }

    // On the user-interface thread: processes events until done() holds,
    // so a worker that asks a question meanwhile gets its answer (the
    // worker calls Wake() when done() may have changed). On any other
    // thread it returns at once and the caller's own wait (a join) follows.
    static void WaitProcessingEvents(const std::function<bool()> &done);
    static void Wake();
};

} // namespace krv::setup
