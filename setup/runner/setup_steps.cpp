#include "setup_steps.h"

namespace krv::setup {

namespace {

template <typename Step> void Complete(std::unique_ptr<Step> &step) {
    if (!step)
        step = std::make_unique<Step>();
}

} // namespace

void CompleteSteps(SetupSteps &steps) {
    Complete(steps.updates);
    Complete(steps.language);
    Complete(steps.conditions);
    Complete(steps.prerequisites);
    Complete(steps.network);
    Complete(steps.extraction);
}

} // namespace krv::setup
