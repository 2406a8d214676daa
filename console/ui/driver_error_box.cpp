#include "driver_error_box.h"

#include "driver_binding.h"
#include "message_layer.h"

namespace krv::console {

void ShowDriverError(QWidget *owner) {
    ShowMessage(owner, kErrorBoxCaption, DriverErrorText(), Icon::Error, Buttons::Ok);
}

void PaperLowWarning() {
    PaperState state;
    if (!Driver().GetPaperState(state))
        return;
    const QString text = PaperLowText(state);
    if (!text.isEmpty())
        ShowMessage(nullptr, QStringLiteral("Внимание!"), text, Icon::Warning, Buttons::Ok);
}

} // namespace krv::console
