// The boxes that report the outcome of a driver call.
#pragma once

class QWidget;

namespace krv::console {

// The error box after a failed driver call, owned by the calling window.
void ShowDriverError(QWidget *owner);
// Warns, in an ownerless box, when the tapes are running out; silent when
// the paper state cannot be read or the sensors say nothing.
void PaperLowWarning();

} // namespace krv::console
