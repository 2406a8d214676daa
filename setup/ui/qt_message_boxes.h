// Message boxes on the display: QMessageBox for every box the engine asks
// (messages.h), and whether a person can see the display at all.
#pragma once

#include "messages.h"

#include <QString>

#include <functional>
#include <string>

namespace krv::setup {

// A box's text as the box shows it. A line that holds a path or an address
// (a "/" and no blank) is not broken: it stays whole on its line while it
// is no wider than `maxWidth` (as `lineWidth` measures it; a wider one
// wraps, rather than being cut at the box's edge), and the box's other
// lines wrap at their blanks. Such a text comes back as rich text; any
// other as it is.
struct BoxText {
    QString text;
    bool richText = false;
};
BoxText MessageBoxText(const std::string &text,
                       const std::function<int(const QString &)> &lineWidth, int maxWidth);

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
