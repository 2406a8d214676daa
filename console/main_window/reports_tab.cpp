// The tab "Отчеты" of the main window: the X and Z reports, the report by
// articles, the periodic reports from fiscal memory, the service report and
// the three information boxes assembled from the printer's counters.
//
// Every report is printed with the kept report password; the printer judges
// it. A report that printed is followed by the paper check on a KRV-T100.
#include "main_window.h"

#include "console_state.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "report_logic.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPlainTextEdit>

using namespace krv::console;

namespace {

// The ten payment-form names of the receipt tab's list, as the printer
// named them at login.
QStringList PaymentFormNames(const TForm1 &form) {
    QStringList names;
    if (const auto *forms = form.Control<QComboBox>(QStringLiteral("ComboBox4")))
        for (int i = 0; i < forms->count(); ++i)
            names << forms->itemText(i);
    return names;
}

} // namespace

void TForm1::ReportPrinted(bool ok) {
    if (!ok) {
        ShowDriverError(this);
        return;
    }
    if (State().IsFirstModel != 0)
        PaperLowWarning();
}

// ---- X, Z and the report by articles -------------------------------------------------

void TForm1::BitBtn15Click() {
    ReportPrinted(CallDayReport(State().ReportPassword));
}

void TForm1::BitBtn16Click() {
    ReportPrinted(CallDayClrReport(State().ReportPassword));
}

void TForm1::CheckArticleCodeField(const char *field, const QString &error) {
    auto *edit = Control<QLineEdit>(QString::fromLatin1(field));
    if (!edit || AllDecimalDigits(edit->text()))
        return;
    ShowInputError(error);
    edit->setText(QStringLiteral("0"));
}

void TForm1::Edit37Change() {
    CheckArticleCodeField("Edit37", FirstArticleCodeError());
}

void TForm1::Edit38Change() {
    CheckArticleCodeField("Edit38", LastArticleCodeError());
}

void TForm1::CheckBox14Click() {
    const auto *wholeRange = Control<QCheckBox>(QStringLiteral("CheckBox14"));
    // Only the operator switches the code fields; while the box is out of
    // reach (no link) the access-mode plan owns them.
    if (!wholeRange || !ModeEnables(QStringLiteral("CheckBox14")))
        return;
    for (const char *name : {"Edit37", "Edit38"})
        if (QWidget *edit = Control(QString::fromLatin1(name)))
            edit->setEnabled(!wholeRange->isChecked());
}

void TForm1::Button33Click() {
    const ArticleRangeBuild range =
        BuildArticleRange(Checked("CheckBox14"), FieldText("Edit37"), FieldText("Edit38"));
    if (!range.ok) {
        ShowInputError(range.error);
        return;
    }
    if (range.wholeRange && ShowMessage(this, QStringLiteral("Внимание!"), WholeRangeQuestion(),
                                        Icon::Warning, Buttons::OkCancel) != kResultOk)
        return;
    ReportPrinted(CallArticleReport(State().ReportPassword, range.first, range.last));
}

// ---- Periodic reports from fiscal memory ----------------------------------------------

void TForm1::PeriodicReport(bool shortForm) {
    const auto *from = Control<QDateTimeEdit>(QStringLiteral("DateTimePicker3"));
    const auto *to = Control<QDateTimeEdit>(QStringLiteral("DateTimePicker4"));
    if (!from || !to || !from->date().isValid() || !to->date().isValid()) {
        ShowInputError(QStringLiteral("Неправильный формат даты"));
        return;
    }
    ReportPrinted(CallPeriodicReport(shortForm, State().ReportPassword, from->date(), to->date()));
}

void TForm1::Button28Click() {
    PeriodicReport(false);
}

void TForm1::Button29Click() {
    PeriodicReport(true);
}

void TForm1::Button30Click() {
    const ReportNumbersBuild numbers = BuildReportNumbers(FieldText("Edit15"), FieldText("Edit16"));
    if (!numbers.ok) {
        ShowInputError(numbers.error);
        return;
    }
    ReportPrinted(CallPeriodicNumberReport(State().ReportPassword, numbers.first, numbers.last));
}

// ---- Service report -----------------------------------------------------------------------

void TForm1::BitBtn2Click() {
    const auto *memo = Control<QPlainTextEdit>(QStringLiteral("Memo1"));
    const QStringList lines = MemoLines(memo ? memo->toPlainText() : QString());
    ReportPrinted(
        CallServiceReport(lines, Checked("CheckBox6"),
                          ServiceReportTape(Checked("CheckBox16"), Checked("CheckBox12"))));
}

void TForm1::CheckBox16Click() {
    if (Checked("CheckBox16"))
        if (auto *other = Control<QCheckBox>(QStringLiteral("CheckBox12")))
            other->setChecked(false);
}

void TForm1::CheckBox12Click() {
    if (Checked("CheckBox12"))
        if (auto *other = Control<QCheckBox>(QStringLiteral("CheckBox16")))
            other->setChecked(false);
}

// ---- Information boxes ----------------------------------------------------------------------

void TForm1::BitBtn1Click() {
    // Each failed query shows as "не удалось получить" in the text; no error box.
    ShowMessage(this, kInformationBoxCaption, InformationText(QueryInformation(), QLocale()),
                Icon::Information, Buttons::Ok);
}

void TForm1::BitBtn3Click() {
    DayTotals totals;
    if (!QueryDayTotals(totals)) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, QStringLiteral("Информация об итогах за день"),
                DayTotalsText(totals, PaymentFormNames(*this), QLocale()), Icon::Information,
                Buttons::Ok);
}

void TForm1::BitBtn4Click() {
    ReceiptSums sums;
    if (!QueryReceiptSums(sums)) {
        ShowDriverError(this);
        return;
    }
    ShowMessage(this, QStringLiteral("Данные текущего чека"),
                ReceiptSumsText(sums, PaymentFormNames(*this), QLocale()), Icon::Information,
                Buttons::Ok);
}
