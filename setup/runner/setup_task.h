// Long steps of a run (maintenance probe, integrity check, launch
// conditions, clean-up ...) run as tasks: in a silent run on the calling
// thread; otherwise on a worker thread while the calling thread keeps the
// user interface live (Qt events are processed until the worker ends) under
// a status text.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace krv::setup {

class SetupRunner;

// A step run as a task: Run performs it and keeps its result.
class SetupTask {
  public:
    virtual ~SetupTask() = default;
    virtual void Run() = 0;
};

// A task that runs a function.
class FunctionTask : public SetupTask {
  public:
    explicit FunctionTask(std::function<void()> body) : m_body(std::move(body)) {}
    void Run() override { m_body(); }

  private:
    std::function<void()> m_body;
};

// Runs the task on the calling thread when the run is silent; otherwise
// shows the status text of the id and runs it on a worker while the calling
// thread processes the user interface's events.
void RunTaskWithStatus(SetupRunner &runner, SetupTask &task, uint32_t statusId);
void RunTaskWithMessagePump(SetupTask &task);

} // namespace krv::setup
