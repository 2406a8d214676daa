// The driver's last-error state, the decoding of a reply's status byte and
// error code into text, and the result rules the command exports apply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace krv::drv {

// Exported booleans: 0 false, -1 true.
inline constexpr int32_t kFalse = 0;
inline constexpr int32_t kTrue = -1;
inline int32_t ToExportBool(bool value) {
    return value ? kTrue : kFalse;
}
inline int16_t ToExportBool16(bool value) {
    return value ? -1 : 0;
}

struct LastErrorState {
    std::string text; // Windows-1251, what FPErrorMessage hands out
    uint8_t code = 0;
    uint8_t status = 0;
};

LastErrorState &ErrorState();

// Texts in our sources are UTF-8; the state keeps them in Windows-1251.
void SetErrorText(std::string_view utf8);
void ClearErrorText();

inline constexpr const char *kTimeoutText = "Превышено время ожидания ответа от принтера!";
inline constexpr const char *kReplyFormatText = "Ответная посылка не соответствует формату данных!";

// The one lock every export holds while it runs. The exports share the link
// state and the last reply; one caller at a time is the interface's rule, and
// a caller that breaks it must meet a wait, not a corrupted heap. Recursive,
// so that an export may call another.
class ExportLock {
  public:
    ExportLock();
    ~ExportLock();
    ExportLock(const ExportLock &) = delete;
    ExportLock &operator=(const ExportLock &) = delete;
};

// Texts (UTF-8) of the tables; empty where a bit or code has none.
std::string StatusBitText(int bit);
std::string ErrorCodeText(uint8_t code, bool serviceReportOpen);

// True only when both are 0; otherwise fills LastErrorState and gives false.
// The flag lines come from the current LastReply().flags.
bool DeviceStatusDecoder(uint8_t status, uint8_t code);

// Applied after PrinterTransaction; `transactionOk` is its result. A failed
// exchange sets the time-out text, or the format text when the reply ran past
// its size bound.
bool StandardResult(bool transactionOk);
bool StrictResult(bool transactionOk);
bool LinkResult(bool transactionOk);
// As LinkResult, the status byte still ignored (a locked printer or one out of
// tape must still take the command), but a non-zero error code in the reply
// is a failure, decoded as for status 0 and that code.
bool LinkResultCheckingCode(bool transactionOk);

} // namespace krv::drv
