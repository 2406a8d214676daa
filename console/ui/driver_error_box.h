// The boxes that report the outcome of a driver call.
#pragma once

#include <functional>

class QWidget;

namespace krv::console {

// Run after an error box when the failed call showed the link's port gone
// (the session then counts the link as lost): the main window shows it
// closed. An empty function removes it.
void SetLinkLostHandler(std::function<void()> handler);

// The error box after a failed driver call, owned by the calling window;
// then the lost-port check.
void ShowDriverError(QWidget *owner);
// Warns, in an ownerless box, when the tapes are running out; silent when
// the paper state cannot be read or the sensors say nothing.
void PaperLowWarning();

} // namespace krv::console
