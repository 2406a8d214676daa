// The tab "Программирование" of the main window: fiscalization, the taxpayer
// header and the receipt message lines, the tax rates with the compound-tax
// scheme, and the payment-form names window.
#include "main_window.h"

#include "console_state.h"
#include "message_layer.h"

using namespace krv::console;

void TForm1::Button23Click() {
    if (QWidget *forms = Windows().Form5)
        ExecModal(*forms, this);
}
