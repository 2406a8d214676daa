// The tab "Доп. функции" of the main window: date and time, the status view,
// the customer display, the service commands, the mode toggles, the logo,
// the contrast and the cutter.
//
// Each handler makes one driver call (a toggle: a query, then the switch),
// shows the driver's error box when it fails and otherwise its own box.
#include "main_window.h"

#include "console_state.h"
#include "date_time_text.h"
#include "driver_error_box.h"
#include "extra_functions_logic.h"
#include "logo_file.h"
#include "message_layer.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimeEdit>

using namespace krv::console;

namespace {

const QString kLogoFilter = QStringLiteral("All (*.bmp)|*.bmp|Bitmaps (*.bmp)|*.bmp");

void Inform(TForm1 &form, const QString &caption, const QString &text) {
    ShowMessage(&form, caption, text, Icon::Information, Buttons::Ok);
}

// The printer only switches these modes over: read the mode, switch, and
// report the mode the switch led to.
void ToggleMode(TForm1 &form, ModeToggle toggle) {
    bool wasSet = false;
    if (toggle == ModeToggle::Cutter) {
        if (!CallCutterStatus(wasSet)) {
            ShowDriverError(&form);
            return;
        }
    } else {
        PrinterStatus status;
        if (!Driver().GetStatus(status)) {
            ShowDriverError(&form);
            return;
        }
        wasSet = ToggleFlag(toggle, status).value_or(false);
    }
    if (!CallToggle(toggle)) {
        ShowDriverError(&form);
        return;
    }
    const ToggleReport report = ToggleMessage(toggle, wasSet);
    Inform(form, report.caption, report.text);
}

// A printing command, then the paper check on a KRV-T100.
void PrintCommand(TForm1 &form, bool (*call)()) {
    if (!call()) {
        ShowDriverError(&form);
        return;
    }
    if (State().IsFirstModel != 0)
        PaperLowWarning();
}

} // namespace

// ---- Date and time ---------------------------------------------------------------

void TForm1::Button2Click() {
    double date = 0;
    if (!CallGetDate(date)) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, kInformationBoxCaption,
           QStringLiteral("Установленная дата: ") + ShortDateText(date));
}

void TForm1::Button3Click() {
    const auto *picker = Control<QDateEdit>(QStringLiteral("DateTimePicker1"));
    if (!picker || !picker->date().isValid()) {
        ShowMessage(this, kErrorBoxCaption, QStringLiteral("Неправильный формат даты"), Icon::Error,
                    Buttons::Ok);
        return;
    }
    if (!CallSetDate(DriverDateOf(picker->date()))) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, kInformationBoxCaption, QStringLiteral("Дата была успешно установлена!"));
}

void TForm1::Button4Click() {
    double time = 0;
    if (!CallGetTime(time)) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, kInformationBoxCaption,
           QStringLiteral("Установленное время: ") + LongTimeText(time));
}

void TForm1::Button5Click() {
    const auto *picker = Control<QTimeEdit>(QStringLiteral("DateTimePicker2"));
    if (!picker || !picker->time().isValid()) {
        ShowMessage(this, kErrorBoxCaption, QStringLiteral("Неправильный формат времени"),
                    Icon::Error, Buttons::Ok);
        return;
    }
    if (!CallSetTime(DriverTimeOf(picker->time()))) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, kInformationBoxCaption, QStringLiteral("Время было успешно установлено!"));
}

// ---- Status and customer display ----------------------------------------------------

void TForm1::Button1Click() {
    PrinterStatus status;
    if (!Driver().GetStatus(status)) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, QStringLiteral("Статус ЭККР!"), StatusViewText(status));
}

void TForm1::Button17Click() {
    // The lower line goes only after the upper one was taken.
    if (!CallSendCustomer(false, FieldText("Edit13")) ||
        !CallSendCustomer(true, FieldText("Edit28")))
        ShowDriverError(this);
}

// ---- One-command buttons ------------------------------------------------------------

void TForm1::Button12Click() {
    PrintCommand(*this, CallLineFeed);
}

void TForm1::Button18Click() {
    if (!CallOpenBox())
        ShowDriverError(this);
}

void TForm1::Button19Click() {
    PrintCommand(*this, CallCopyLastCheck);
}

void TForm1::Button20Click() {
    PrintCommand(*this, CallPrintVersion);
}

void TForm1::Button21Click() {
    int64_t kopecks = 0;
    if (!CallGetMoneyInBox(kopecks)) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, QStringLiteral("Сумма в кассе"),
           MoneyInBoxText(kopecks, LocaleDecimalSeparator()));
}

// ---- Mode toggles and the cutter ------------------------------------------------------

void TForm1::Button35Click() {
    ToggleMode(*this, ModeToggle::Online);
}

void TForm1::Button36Click() {
    ToggleMode(*this, ModeToggle::Display);
}

void TForm1::BitBtn13Click() {
    ToggleMode(*this, ModeToggle::Cutter);
}

void TForm1::Button52Click() {
    bool enabled = false;
    if (!CallCutterStatus(enabled)) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, QStringLiteral("Режим автообрезки"), CutterStatusText(enabled));
}

// ---- Logo ------------------------------------------------------------------------------

void TForm1::BitBtn9Click() {
    auto *path = Control<QLineEdit>(QStringLiteral("Edit31"));
    const QString chosen =
        GetOpenFileName(this, kLogoFilter, LogoDialogFolder(path ? path->text() : QString()));
    // The path stays as chosen: on this system letter case names another file.
    if (!chosen.isEmpty() && path)
        path->setText(chosen);
}

void TForm1::BitBtn10Click() {
    const LogoLoad load = LoadLogoFile(FieldText("Edit31"));
    if (!load.ok) {
        ShowMessage(this, kErrorBoxCaption, load.error, Icon::Error, Buttons::Ok);
        return;
    }
    const ConsoleState &state = State();
    if (!CallLoadLogo(state.ProgrammingPassword, state.LogoMaxWidth, state.LogoMaxHeight,
                      load.image, Checked("CheckBox8"), Checked("CheckBox9"))) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, QStringLiteral("Загрузка логотипа"),
           QStringLiteral("Загрузка логотипа торговой точки успешно завершена!"));
}

void TForm1::Button24Click() {
    if (!CallEnableLogo(State().ProgrammingPassword)) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, kInformationBoxCaption,
           QStringLiteral("Печать в чеках логотипа торговой точки успешно включена!"));
}

void TForm1::Button45Click() {
    if (!CallDisableLogo(State().ProgrammingPassword)) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, kInformationBoxCaption,
           QStringLiteral("Печать в чеках логотипа торговой точки успешно отключена!"));
}

// ---- Contrast ----------------------------------------------------------------------------

void TForm1::BitBtn21Click() {
    const auto *contrast = Control<QSpinBox>(QStringLiteral("SpinEdit1"));
    if (!CallSetContrast(contrast ? contrast->value() : 0)) {
        ShowDriverError(this);
        return;
    }
    Inform(*this, QStringLiteral("Контрастность печати"),
           QStringLiteral("Значение контрастности успешно записано!"));
}
