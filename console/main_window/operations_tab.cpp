// The tab "Операции" of the main window: lines, comments, discounts,
// payments, the zero receipt, the void, service cash and the barcodes.
//
// Every handler reads its fields, lets receipt_logic turn them into a driver
// request (an input error is one box and nothing else), makes the call, and
// only after a success touches the receipt panel. The printer holds the
// receipt; the panel shows what the last successful call returned.
#include "main_window.h"

#include "console_state.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "receipt_logic.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

using namespace krv::console;

namespace {} // namespace

// ---- Small readers of the tab's controls ----------------------------------------

QString TForm1::FieldText(const char *name) const {
    const auto *edit = Control<QLineEdit>(QString::fromLatin1(name));
    return edit ? edit->text() : QString();
}

bool TForm1::Checked(const char *name) const {
    const auto *box = Control<QCheckBox>(QString::fromLatin1(name));
    return box && box->isChecked();
}

int TForm1::ItemIndex(const char *name) const {
    const auto *combo = Control<QComboBox>(QString::fromLatin1(name));
    return combo ? combo->currentIndex() : -1;
}

ReceiptPanel TForm1::Panel() const {
    const auto text = [this](const char *name) {
        const auto *label = Control<QLabel>(QString::fromLatin1(name));
        return label ? label->text() : QString();
    };
    return ReceiptPanel{text("Label11"), text("Label51"), text("Label52"), text("Label54")};
}

void TForm1::SetPanel(const ReceiptPanel &panel) {
    const auto set = [this](const char *name, const QString &value) {
        if (auto *label = Control<QLabel>(QString::fromLatin1(name)))
            label->setText(value);
    };
    set("Label11", panel.label11);
    set("Label51", panel.label51);
    set("Label52", panel.label52);
    set("Label54", panel.label54);
}

void TForm1::ShowInputError(const QString &text) {
    ShowMessage(this, kErrorBoxCaption, text, Icon::Error, Buttons::Ok);
}

void TForm1::CheckPaper(ReceiptAction action, bool autoClosed) {
    if (PaperCheckFollows(action, State().IsFirstModel != 0, autoClosed))
        PaperLowWarning();
}

// ---- Lines and the automatic close ------------------------------------------------

// A refused payment leaves the panel as it was.
bool TForm1::Pay(const PaymentRequest &request) {
    PaymentOutcome outcome;
    if (!CallPayment(request, outcome)) {
        ShowDriverError(this);
        return false;
    }
    ReceiptPanel panel = Panel();
    ShowPaymentResult(panel, outcome, LocaleDecimalSeparator());
    SetPanel(panel);
    return true;
}

bool TForm1::CloseReceipt() {
    return Pay(BuildCloseRequest(ItemIndex("ComboBox4"), Checked("CheckBox5")));
}

// A refused close leaves the line registered.
bool TForm1::CloseAutomatically() {
    return Checked("CheckBox1") && CloseReceipt();
}

void TForm1::RegisterLine(ReceiptAction action) {
    LineCommand command =
        action == ReceiptAction::Return ? LineCommand::PayMoney : LineCommand::Sale;
    if (action == ReceiptAction::CancelLine) {
        // A line of a return receipt is cancelled through the return command.
        PrinterStatus status;
        if (!Driver().GetStatus(status)) {
            ShowDriverError(this);
            return;
        }
        command = CancelLineCommand(status);
    }

    LineFields fields;
    fields.code = FieldText("Edit39");
    fields.name = FieldText("Edit6");
    fields.quantity = FieldText("Edit7");
    fields.price = FieldText("Edit8");
    fields.taxGroup = ItemIndex("ComboBox3");
    fields.singleUnit = Checked("CheckBox2");
    fields.nameFromRegister = Checked("CheckBox4");
    fields.printBarcode = Checked("CheckBox15");

    const QChar separator = LocaleDecimalSeparator();
    const LineBuild build = action == ReceiptAction::CancelLine
                                ? BuildCancelLineRequest(fields, separator)
                                : BuildLineRequest(fields, separator);
    if (!build.ok) {
        ShowInputError(build.error);
        return;
    }
    LineOutcome outcome;
    if (!CallLine(command, build.request, outcome)) {
        ShowDriverError(this);
        return;
    }
    ReceiptPanel panel = Panel();
    ShowLineResult(panel, outcome, separator);
    SetPanel(panel);

    CheckPaper(action, CloseAutomatically());
}

void TForm1::Button9Click() {
    RegisterLine(ReceiptAction::Sale);
}

void TForm1::Button10Click() {
    RegisterLine(ReceiptAction::Return);
}

void TForm1::Button44Click() {
    RegisterLine(ReceiptAction::CancelLine);
}

void TForm1::Button11Click() {
    PrinterStatus status;
    if (!Driver().GetStatus(status)) {
        ShowDriverError(this);
        return;
    }
    // Outside an open receipt the comment starts a new one. The panel is
    // emptied only once the printer took the comment, so a refused comment
    // leaves the window as it was.
    const bool newReceipt = CommentStartsNewReceipt(status);
    if (!CallComment(FieldText("Edit9"))) {
        ShowDriverError(this);
        return;
    }
    if (newReceipt)
        SetPanel(ReceiptPanel{});
    CheckPaper(ReceiptAction::Comment, CloseAutomatically());
}

// ---- Discounts and markups --------------------------------------------------------

void TForm1::Button38Click() {
    DiscountFields fields;
    fields.kind = ItemIndex("ComboBox9");
    fields.percent = FieldText("Edit18");
    fields.amount = FieldText("Edit19");
    fields.discountOrMarkup = ItemIndex("ComboBox10");
    fields.text = FieldText("Edit20");

    const QChar separator = LocaleDecimalSeparator();
    const DiscountBuild build = BuildDiscountRequest(fields, separator);
    if (!build.ok) {
        ShowInputError(build.error);
        return;
    }
    DiscountOutcome outcome;
    if (!CallDiscount(build.request, outcome)) {
        ShowDriverError(this);
        return;
    }
    ReceiptPanel panel = Panel();
    ShowDiscountResult(panel, build.request, outcome, separator);
    SetPanel(panel);
}

void TForm1::ComboBox9Change() {
    const auto *type = Control<QComboBox>(QStringLiteral("ComboBox9"));
    // Only the operator switches the value fields; while the list is out of
    // reach (no link, cashier mode) the access-mode plan owns them.
    if (!type || !ModeEnables(QStringLiteral("ComboBox9")))
        return;
    const std::optional<DiscountField> field = DiscountValueField(type->currentIndex());
    if (!field)
        return;
    if (QWidget *percent = Control(QStringLiteral("Edit18")))
        percent->setEnabled(*field == DiscountField::Percent);
    if (QWidget *amount = Control(QStringLiteral("Edit19")))
        amount->setEnabled(*field == DiscountField::Amount);
}

// ---- Payment and closing ----------------------------------------------------------

void TForm1::Button37Click() {
    const PaymentBuild build = BuildPaymentRequest(FieldText("Edit11"), ItemIndex("ComboBox4"),
                                                   Checked("CheckBox5"), LocaleDecimalSeparator());
    if (!build.ok) {
        ShowInputError(build.error);
        return;
    }
    if (Pay(build.request))
        CheckPaper(ReceiptAction::Payment);
}

void TForm1::Button39Click() {
    if (CloseReceipt())
        CheckPaper(ReceiptAction::CloseReceipt);
}

void TForm1::Button32Click() {
    if (!CallZeroReceipt()) {
        ShowDriverError(this);
        return;
    }
    SetPanel(ReceiptPanel{});
    CheckPaper(ReceiptAction::ZeroReceipt);
}

void TForm1::Button13Click() {
    if (!CallVoid()) {
        ShowDriverError(this);
        return;
    }
    SetPanel(ReceiptPanel{});
    ShowMessage(this, kInformationBoxCaption, QStringLiteral("Фактура чека анулирована!"),
                Icon::Information, Buttons::Ok);
    CheckPaper(ReceiptAction::Void);
}

// ---- Service cash -------------------------------------------------------------------

void TForm1::ServiceCash(CashOperation operation, const char *field) {
    const CashBuild build = BuildCashRequest(operation, FieldText(field), LocaleDecimalSeparator());
    if (!build.ok) {
        ShowInputError(build.error);
        return;
    }
    if (!CallCash(operation, build.amount)) {
        ShowDriverError(this);
        return;
    }
    CheckPaper(operation == CashOperation::In ? ReceiptAction::CashIn : ReceiptAction::CashOut);
}

void TForm1::Button14Click() {
    ServiceCash(CashOperation::In, "Edit10");
}

void TForm1::Button16Click() {
    ServiceCash(CashOperation::Out, "Edit29");
}

// ---- Barcodes -------------------------------------------------------------------------

void TForm1::BitBtn19Click() {
    if (!CallCode128(FieldText("Edit40")))
        ShowDriverError(this);
}

void TForm1::BitBtn20Click() {
    const std::optional<std::string> digits = BuildEan13Request(FieldText("Edit41"));
    if (!digits)
        return;
    if (!CallEan13(*digits)) {
        ShowDriverError(this);
        return;
    }
    CheckPaper(ReceiptAction::Ean13);
}
