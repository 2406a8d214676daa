// Message boxes on the display: QMessageBox for every box the engine asks
// (messages.h), and whether a person can see the display at all.
#pragma once

#include "messages.h"

namespace krv::setup {

// QMessageBox on the application's display; from a worker thread the box is
// shown on the user-interface thread, which must be processing events.
class QtMessageBoxPresenter : public MessageBoxPresenter {
  public:
    int Show(const MessageBoxRequest &request) override;
};

// A Qt application runs on a display a person can see (not the "offscreen"
// or "minimal" platform): boxes and progress windows are shown.
bool QtDisplayAvailable();

} // namespace krv::setup
