// The tab "Доп. функции" without its widgets: the status view, the messages of the mode toggles and
// the cutter, the cash in the drawer, and the driver calls the tab makes.
//
// A handler makes its call through the Call* function (false: the driver
// failed, show ShowDriverError) and shows the text built here.
#pragma once

#include "driver_binding.h"

#include <QChar>
#include <QString>

#include <cstdint>
#include <optional>

namespace krv::console {

// ---- Texts -------------------------------------------------------------------

// The box of "Чтение статуса": one "label\tvalue\r\n" line per output.
QString StatusViewText(const PrinterStatus &status);

// The three switch-over commands; the printer only toggles, so the console
// reads the mode first and reports the mode the toggle leads to.
enum class ModeToggle { Online, Display, Cutter };

struct ToggleReport {
    QString text;
    QString caption;
};
// `flagWasSet`: the flag read before the toggle (on-line mode; sums kept
// off the display; cutter on).
ToggleReport ToggleMessage(ModeToggle toggle, bool flagWasSet);
// The status flag a toggle reads first; nothing for the cutter, whose state
// comes from its own query.
std::optional<bool> ToggleFlag(ModeToggle toggle, const PrinterStatus &status);

// "Статус обрезчика".
QString CutterStatusText(bool enabled);

// "В кассе: 123,45 грн."
QString MoneyInBoxText(int64_t kopecks, QChar separator);

// ---- Driver calls ---------------------------------------------------------------

bool CallGetDate(double &date);
bool CallSetDate(double date);
bool CallGetTime(double &time);
bool CallSetTime(double time);
// `secondLine` false: the upper display line.
bool CallSendCustomer(bool secondLine, const QString &text);
bool CallOpenBox();
bool CallCopyLastCheck();
bool CallPrintVersion();
bool CallGetMoneyInBox(int64_t &kopecks);
bool CallToggle(ModeToggle toggle);
bool CallCutterStatus(bool &enabled);
bool CallSetContrast(int percent);
bool CallEnableLogo(uint16_t password);
bool CallDisableLogo(uint16_t password);

} // namespace krv::console
