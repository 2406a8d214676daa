// The tab "Программирование" of the main window: fiscalization, the taxpayer
// header and the receipt message lines, the tax rates with the compound-tax
// scheme, and the payment-form names window.
#include "main_window.h"

#include "access_modes.h"
#include "console_state.h"
#include "console_windows.h"
#include "date_time_text.h"
#include "driver_error_box.h"
#include "header_logic.h"
#include "message_layer.h"
#include "receipt_header_window.h"
#include "tax_logic.h"
#include "widgets.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QTableWidget>

using namespace krv::console;

namespace {

bool RadioChecked(const TForm1 &form, const char *name) {
    const auto *radio = form.Control<QRadioButton>(QString::fromLatin1(name));
    return radio && radio->isChecked();
}

const QString kInterruptedText = QStringLiteral("Операция была прервана из-за возникшей ошибки!");

// The fiscal and the tax number fields: the write button works while the
// field holds a number; a refused character empties the field (which runs
// its handler again and disables the button) and says why.
void CheckNumberField(TForm1 &form, const char *editName, const char *buttonName,
                      const QString &refusedText) {
    auto *edit = form.Control<QLineEdit>(QString::fromLatin1(editName));
    QWidget *button = form.Control(QString::fromLatin1(buttonName));
    if (!edit || !button)
        return;
    if (edit->text().isEmpty()) {
        button->setEnabled(false);
        return;
    }
    button->setEnabled(true);
    if (FirstRefusedNumberCharacter(edit->text()) >= 0) {
        edit->clear();
        ShowMessage(&form, kErrorBoxCaption, refusedText, Icon::Error, Buttons::Ok);
    }
}

} // namespace

// ---- Fiscalization ---------------------------------------------------------------

void TForm1::Edit14Change() {
    CheckNumberField(*this, "Edit14", "Button22", FiscalNumberRefusedText());
}

void TForm1::Button22Click() {
    if (ShowMessage(this, QStringLiteral("Подтверждение фискализации"),
                    QStringLiteral("                       ВНИМАНИЕ!\r\nФИСКАЛЬНАЯ ПАМЯТЬ БУДЕТ "
                                   "ВКЛЮЧЕНА!\r\n  Этот процесс является необратимым!\r\n  Вы "
                                   "уверены, что хотите это сделать?"),
                    Icon::Warning, Buttons::YesNoDefaultNo) != kResultYes)
        return;

    PrinterStatus status;
    if (!Driver().GetStatus(status)) {
        ShowDriverError(this);
        ShowMessage(this, kInformationBoxCaption, kInterruptedText, Icon::Information, Buttons::Ok);
        return;
    }
    const bool fiscalMode = status.flags[9] != 0;
    if (!fiscalMode) {
        // A printer becomes fiscal only with its day closed.
        if (ShowMessage(this, QStringLiteral("Внимание!"),
                        QStringLiteral("Внимние! Перед записью фискального номера будет снят "
                                       "Z-отчет.\r\nВы все ещё хотите хотите продолжить операцию?"),
                        Icon::Warning, Buttons::YesNoDefaultNo) != kResultYes) {
            ShowMessage(this, kInformationBoxCaption,
                        QStringLiteral("Операция была отклонена пользователем!"), Icon::Information,
                        Buttons::Ok);
            return;
        }
        if (!CallDayClosingReport(State().ReportPassword)) {
            ShowDriverError(this);
            ShowMessage(this, kInformationBoxCaption, kInterruptedText, Icon::Information,
                        Buttons::Ok);
            return;
        }
    }

    const auto *number = Control<QLineEdit>(QStringLiteral("Edit14"));
    if (!CallFiscalization(State().ProgrammingPassword, number ? number->text() : QString())) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, kInformationBoxCaption, FiscalizationDoneText(), Icon::Information,
                Buttons::Ok);
    State().FiscalizationWizardActive = true;
}

// ---- Taxpayer header -----------------------------------------------------------------

void TForm1::Edit26Change() {
    CheckNumberField(*this, "Edit26", "BitBtn17",
                     TaxNumberRefusedText(RadioChecked(*this, "RadioButton1")));
}

void TForm1::RadioButton1Click() {
    auto *tax = Control<QRadioButton>(QStringLiteral("RadioButton1"));
    auto *id = Control<QRadioButton>(QStringLiteral("RadioButton2"));
    if (tax && id && tax->isChecked())
        id->setChecked(false);
}

void TForm1::RadioButton2Click() {
    auto *tax = Control<QRadioButton>(QStringLiteral("RadioButton1"));
    auto *id = Control<QRadioButton>(QStringLiteral("RadioButton2"));
    if (tax && id && id->isChecked())
        tax->setChecked(false);
}

void TForm1::BitBtn17Click() {
    auto *header = qobject_cast<TForm6 *>(Windows().Form6.data());
    // The boxes of the header write belong to the header window.
    QWidget *owner = header ? static_cast<QWidget *>(header) : this;
    ConsoleState &state = State();

    HeadLineRequest request;
    for (int line = 0; line < 3; ++line) {
        ReceiptHeaderLine &sent = request.lines[static_cast<size_t>(line)];
        // Lines 1-3 as they stand in the editor, applied or not.
        sent.text = header ? header->LineEdit(line)->text() : QString();
        sent.doubleWidth = state.HeaderLineFlags[static_cast<size_t>(2 * line)];
        sent.doubleHeight = state.HeaderLineFlags[static_cast<size_t>(2 * line + 1)];
    }
    request.number = FieldText("Edit26");
    request.idNumber = RadioChecked(*this, "RadioButton2");
    if (!CallHeadLine(state.ProgrammingPassword, request)) {
        ShowDriverError(owner);
        return;
    }
    // The additional lines come from the applied copy; a failure of one
    // stops neither the other nor the success box.
    for (int which = 1; which <= 2; ++which) {
        if (!CallHeaderLineAdd(which, state.ReceiptHeaderLines[static_cast<size_t>(2 + which)]))
            ShowDriverError(owner);
    }
    ShowMessage(owner, kInformationBoxCaption, HeaderDoneText(state.FiscalizationWizardActive),
                Icon::Information, Buttons::Ok);
    state.FiscalizationWizardActive = false;
}

void TForm1::Button53Click() {
    if (QWidget *header = Windows().Form6)
        ExecModal(*header, this);
}

// ---- Receipt message lines -------------------------------------------------------------

void TForm1::WriteMessageLine(int line, const char *edit) {
    QString text = FieldText(edit);
    const bool doubleWidth = Checked("CheckBox10");
    const LineCut cut = MessageLineCut(text.size(), doubleWidth, State().IsFirstModel != 0);
    if (cut.ask) {
        if (ShowMessage(this, CutQuestionCaption(line, cut.limit), CutQuestionText(cut.limit),
                        Icon::Question, Buttons::YesNo) != kResultYes)
            return;
        text = text.left(cut.limit); // the edit keeps its text
    }
    if (!CallMessageLine(line, text, doubleWidth, Checked("CheckBox11"))) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, kInformationBoxCaption, MessageLineDoneText(line), Icon::Information,
                Buttons::Ok);
}

void TForm1::Button15Click() {
    WriteMessageLine(0, "Edit12");
}

void TForm1::Button27Click() {
    WriteMessageLine(1, "Edit42");
}

void TForm1::Button49Click() {
    WriteMessageLine(2, "Edit43");
}

void TForm1::Button26Click() {
    WriteMessageLine(3, "Edit27");
}

void TForm1::Button50Click() {
    WriteMessageLine(4, "Edit44");
}

void TForm1::Button51Click() {
    WriteMessageLine(5, "Edit45");
}

// ---- Tax rates ------------------------------------------------------------------------------

int TForm1::TaxTypeIndex() const {
    const auto *taxType = Control<RadioGroup>(QStringLiteral("RadioGroup3"));
    return taxType ? taxType->itemIndex() : 1;
}

RateCells TForm1::TaxRateCells() const {
    RateCells cells;
    if (const auto *grid = Control<QTableWidget>(QStringLiteral("StringGrid1")))
        for (int row = 1; row <= kRateRows; ++row)
            if (const QTableWidgetItem *item = grid->item(row, 1))
                cells[static_cast<size_t>(row - 1)] = item->text();
    return cells;
}

void TForm1::RefreshTaxGrid() {
    auto *grid = Control<QTableWidget>(QStringLiteral("StringGrid1"));
    if (!grid || grid->columnCount() < 2 || grid->rowCount() <= kRateRows)
        return;
    ConsoleState &state = State();
    const int taxType = TaxTypeIndex();
    const QBrush green(QColor::fromRgb(kMoneyGreenRgb));
    const QBrush fixed = grid->palette().brush(QPalette::Button);
    for (int row = 1; row <= kRateRows; ++row) {
        const size_t index = static_cast<size_t>(row - 1);
        QTableWidgetItem *rate = grid->item(row, 1);
        QTableWidgetItem *heading = grid->item(row, 0);
        if (!rate || !heading)
            continue;
        const GridRow view = GridRowView(state.CompoundTaxApplied[index].useCompound, taxType,
                                         GridRow{rate->text(), state.GridRateTexts[index], false});
        state.GridRateTexts[index] = view.saved;
        if (rate->text() != view.cell)
            rate->setText(view.cell);
        rate->setBackground(view.green ? green : QBrush());
        heading->setBackground(view.green ? green : fixed);
        for (QTableWidgetItem *item : {rate, heading})
            item->setForeground(view.green ? QBrush(Qt::black) : QBrush());
    }
}

void TForm1::ApplyTaxControlRules() {
    if (!State().Connected)
        return; // the closed link keeps every control off
    ModeContext context;
    context.accessMode = State().AccessMode;
    context.taxTypeIndex = TaxTypeIndex();
    context.compoundGroupExists = AnyCompoundGroup(State().CompoundTaxWorking);
    const ControlPlan plan = PlanForMode(context);
    for (const char *name : {"BitBtn14", "RadioGroup3"}) {
        const QString control = QString::fromLatin1(name);
        QWidget *widget = Control(control);
        if (const auto enabled = plan.EnabledOf(control); widget && enabled)
            widget->setEnabled(*enabled);
    }
}

void TForm1::RadioGroup3Click() {
    ApplyTaxControlRules();
    RefreshTaxGrid();
}

void TForm1::BitBtn5Click() {
    TaxReading reading;
    if (!CallTaxRead(reading)) {
        ShowDriverError(this);
        return;
    }
    ConsoleState &state = State();
    const TaxReadView view = ViewOfTaxRead(reading, state.CompoundTaxApplied,
                                           state.SelectedTaxGroup, LocaleDecimalSeparator());
    if (auto *taxType = Control<RadioGroup>(QStringLiteral("RadioGroup3")))
        taxType->setItemIndex(view.taxTypeIndex);
    if (auto *grid = Control<QTableWidget>(QStringLiteral("StringGrid1")))
        for (int row = 1; row <= kRateRows && row < grid->rowCount(); ++row)
            if (QTableWidgetItem *item = grid->item(row, 1))
                item->setText(view.cells[static_cast<size_t>(row - 1)]);
    state.CompoundTaxApplied = view.applied;
    state.SelectedTaxGroup = view.selectedGroup;
    state.CompoundTaxWorking = state.CompoundTaxApplied;
    RefreshTaxGrid();
    ApplyTaxControlRules();
    ShowMessage(this, QStringLiteral("Дата программирования налогов!"),
                TaxReadMessage(ShortDateText(reading.date), reading.withLevy), Icon::Information,
                Buttons::Ok);
}

void TForm1::BitBtn6Click() {
    // Rates typed over a compound row go aside first, as the grid shows it.
    RefreshTaxGrid();
    const TaxWriteBuild build = BuildTaxWrite(TaxRateCells(), State().CompoundTaxApplied,
                                              TaxTypeIndex(), LocaleDecimalSeparator());
    if (!build.ok) {
        ShowInputError(build.error);
        return;
    }
    if (!CallTaxWrite(State().ProgrammingPassword, build.request)) {
        ShowDriverError(this);
        return;
    }
    // A probe receipt, voided at once, proves the new rates work.
    if (!CallProbeSale()) {
        ShowDriverError(this);
        return;
    }
    if (!CallVoid()) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, kInformationBoxCaption,
                QStringLiteral("Тип налога и налоговые группы установлены!"), Icon::Information,
                Buttons::Ok);
}

void TForm1::BitBtn14Click() {
    if (QWidget *compound = Windows().Form4)
        ExecModal(*compound, this);
    RefreshTaxGrid();
}

// ---- Payment-form names ------------------------------------------------------------------

void TForm1::Button23Click() {
    if (QWidget *forms = Windows().Form5)
        ExecModal(*forms, this);
}
