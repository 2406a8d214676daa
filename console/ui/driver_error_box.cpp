#include "driver_error_box.h"

#include "connection.h"
#include "driver_binding.h"
#include "message_layer.h"

namespace krv::console {

namespace {
std::function<void()> g_linkLost;
} // namespace

void SetLinkLostHandler(std::function<void()> handler) {
    g_linkLost = std::move(handler);
}

void ShowDriverError(QWidget *owner) {
    ShowMessage(owner, kErrorBoxCaption, DriverErrorText(), Icon::Error, Buttons::Ok);
    if (NoteLinkFailure(Driver()) && g_linkLost)
        g_linkLost();
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
