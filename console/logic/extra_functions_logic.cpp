#include "extra_functions_logic.h"

#include "KRV_T100DRV.h"
#include "date_time_text.h"
#include "text_forms.h"

namespace krv::console {

namespace {

QString Line(int width, const QString &label, const QString &value) {
    return PaddedLabel(label, width) + QLatin1Char('\t') + value + QStringLiteral("\r\n");
}

QString FlagLine(int width, const QString &label, int16_t flag, const char16_t *set,
                 const char16_t *clear) {
    return Line(width, label, QString::fromUtf16(flag != 0 ? set : clear));
}

} // namespace

// ---- Texts -------------------------------------------------------------------

QString StatusViewText(const PrinterStatus &status) {
    // Outputs are numbered from 1 in the order of the status; flags 1..13.
    const auto flag = [&status](int output) {
        return status.flags[static_cast<size_t>(output - 1)];
    };
    QString text;
    text += Line(42, QStringLiteral("Серийный номер и дата производства:"), status.serialNumber);
    text +=
        Line(57, QStringLiteral("Фискальный номер:"), QStringLiteral("ФН ") + status.fiscalNumber);
    text += Line(47, QStringLiteral("Дата и время регистрации ЭККР:"),
                 ShortDateText(status.registrationDate) + QLatin1Char(' ') +
                     LongTimeText(status.registrationTime));
    text += Line(56, QStringLiteral("1-я строка шапки чека:"), status.headerLine1);
    text += Line(56, QStringLiteral("2-я строка шапки чека:"), status.headerLine2);
    text += Line(56, QStringLiteral("3-я строка шапки чека:"), status.headerLine3);
    text += Line(59, QStringLiteral("Налоговый номер:"), status.taxNumber);
    text += Line(49, QStringLiteral("Версия внутреннего ПО ЭККР:"), status.firmware);
    text += QStringLiteral("\r\n");

    text += FlagLine(56, QStringLiteral("Режим работы ЭККР:"), flag(10), u"фискальный",
                     u"не фискальный");
    // The first flag line names what the flag means in either state.
    if (flag(1) != 0)
        text +=
            Line(46, QStringLiteral("Режим оплат, продажи(выплаты):"), QStringLiteral("запрещены"));
    else
        text +=
            Line(50, QStringLiteral("Регистрация продаж (выплат):"), QStringLiteral("разрешена"));
    text +=
        FlagLine(52, QStringLiteral("Состояние текущей смены:"), flag(5), u"открыта", u"закрыта");
    text += FlagLine(53, QStringLiteral("Состояние текущего чека:"), flag(6), u"открыт", u"закрыт");
    text +=
        FlagLine(56, QStringLiteral("Вывод сумм на дисплей:"), flag(7), u"запрещен", u"разрешен");
    text +=
        FlagLine(65, QStringLiteral("Тип налога:"), flag(4), u"НДС наложенный", u"НДС вложенный");
    text += FlagLine(50, QStringLiteral("Состояние налоговых ставок:"), flag(8), u"изменялись",
                     u"не изменялись");
    text +=
        FlagLine(49, QStringLiteral("Состояние служебного отчёта:"), flag(9), u"открыт", u"закрыт");
    text += FlagLine(40, QStringLiteral("Печать служебного отчёта на контрольке:"), flag(13),
                     u"разрешена", u"запрещена");
    text +=
        FlagLine(50, QStringLiteral("Состояние денежного ящика:"), flag(2), u"закрыт", u"открыт");
    text += FlagLine(47, QStringLiteral("Завершение последней команды:"), flag(11), u"аварийно",
                     u"успешно");
    text += FlagLine(58, QStringLiteral("Режим регистраций:"), flag(12), u"OnLine", u"OffLine");
    return text;
}

ToggleReport ToggleMessage(ModeToggle toggle, bool flagWasSet) {
    switch (toggle) {
    case ModeToggle::Online:
        return {flagWasSet ? QStringLiteral("Режим печати чеков \"Off-Line\" успешно установлен!")
                           : QStringLiteral("Режим печати чеков \"On-Line\" успешно установлен!"),
                QStringLiteral("Режим печати чеков")};
    case ModeToggle::Display:
        return {flagWasSet ? QStringLiteral("Режим вывода суммы чека на дисплей успешно включен!")
                           : QStringLiteral("Режим вывода суммы чека на дисплей успешно отключен!"),
                QStringLiteral("Вывод сумм на дисплей")};
    case ModeToggle::Cutter:
        return {flagWasSet ? QStringLiteral("Режим автообрезки успешно отключен!")
                           : QStringLiteral("Режим автообрезки успешно включен!"),
                QStringLiteral("Режим автообрезки")};
    }
    return {};
}

std::optional<bool> ToggleFlag(ModeToggle toggle, const PrinterStatus &status) {
    switch (toggle) {
    case ModeToggle::Online:
        return status.flags[11] != 0; // output 12, on-line
    case ModeToggle::Display:
        return status.flags[6] != 0; // output 7, sums kept off the display
    case ModeToggle::Cutter:
        break;
    }
    return std::nullopt;
}

QString CutterStatusText(bool enabled) {
    return enabled ? QStringLiteral("Режим автообрезки включен!")
                   : QStringLiteral("Режим автообрезки отключен!");
}

QString MoneyInBoxText(int64_t kopecks, QChar separator) {
    return QStringLiteral("В кассе: ") + FormatPanelMoney(kopecks, separator);
}

// ---- Driver calls ---------------------------------------------------------------

bool CallGetDate(double &date) {
    KrvDateTime value = 0;
    if (!DriverSucceeded(FPGetDate(&value)))
        return false;
    date = value;
    return true;
}

bool CallSetDate(double date) {
    return DriverSucceeded(FPSetDate(date));
}

bool CallGetTime(double &time) {
    KrvDateTime value = 0;
    if (!DriverSucceeded(FPGetTime(&value)))
        return false;
    time = value;
    return true;
}

bool CallSetTime(double time) {
    return DriverSucceeded(FPSetTime(time));
}

bool CallSendCustomer(bool secondLine, const QString &text) {
    return DriverSucceeded(
        FPSendCustomer(static_cast<KrvBool16>(secondLine ? -1 : 0), ToDriverText(text).c_str()));
}

bool CallOpenBox() {
    return DriverSucceeded(FPOpenBox());
}

bool CallCopyLastCheck() {
    return DriverSucceeded(FPCopyLastCheck());
}

bool CallPrintVersion() {
    return DriverSucceeded(FPPrintVersion());
}

bool CallGetMoneyInBox(int64_t &kopecks) {
    int64_t sum = 0;
    if (!DriverSucceeded(FPGetMoneyInBox(&sum)))
        return false;
    kopecks = sum;
    return true;
}

bool CallToggle(ModeToggle toggle) {
    switch (toggle) {
    case ModeToggle::Online:
        return DriverSucceeded(FPCplOnline());
    case ModeToggle::Display:
        return DriverSucceeded(FPCplInd());
    case ModeToggle::Cutter:
        return DriverSucceeded(FPCplCutter());
    }
    return false;
}

bool CallCutterStatus(bool &enabled) {
    KrvBool16 flag = 0;
    if (!DriverSucceeded(FPCutterStatus(&flag)))
        return false;
    enabled = flag != 0;
    return true;
}

bool CallSetContrast(int percent) {
    return DriverSucceeded(FPSetContrast(percent));
}

bool CallEnableLogo(uint16_t password) {
    return DriverSucceeded(FPEnableBMP(password));
}

bool CallDisableLogo(uint16_t password) {
    return DriverSucceeded(FPDisableBMP(password));
}

} // namespace krv::console
