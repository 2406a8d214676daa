// Small helpers shared by the command exports: argument checks, payload
// building and the result rules, so that every command family reports in
// the same way.
#pragma once

#include "errors.h"
#include "info_queries.h"
#include "link.h"
#include "values.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace krv::drv::cmd {

inline constexpr const char *kWrongPasswordText = "Неверный пароль!";
inline constexpr const char *kDateFormatText = "Ошибка формата даты!";

// A caller's text: null counts as empty.
inline std::string_view TextArg(const char *text) {
    return text ? std::string_view(text) : std::string_view();
}

// A caller's 32-bit flag of which only the low word counts.
inline bool Flag16(int32_t value) {
    return (value & 0xFFFF) != 0;
}

// Sets the error text and gives false, for argument checks and shape errors.
inline bool Fail(std::string_view utf8) {
    SetErrorText(utf8);
    return false;
}

// The same, as the exported false.
inline int32_t Refuse(std::string_view utf8) {
    return ToExportBool(Fail(utf8));
}

// Appends a length byte (plus attribute bits) and the device form of a
// Windows-1251 text. The codec keeps the length; a codec that did not would
// leave the length byte wrong, so that is refused rather than sent.
inline bool PutDeviceText(Bytes &out, std::string_view cp1251, uint8_t attributes = 0) {
    const std::string device = EncodeDeviceText(cp1251);
    if (device.size() != cp1251.size() || device.size() > 0xFF) {
        SetErrorText("Ошибка преобразования текста в кодировку принтера!");
        return false;
    }
    out.push_back(static_cast<uint8_t>(device.size() | attributes));
    out.insert(out.end(), device.begin(), device.end());
    return true;
}

// The command byte followed by a 16-bit password.
inline Bytes WithPassword(uint8_t command, uint16_t password) {
    Bytes payload{command};
    PutU16(payload, password);
    return payload;
}

inline bool RunStandard(const Bytes &payload) {
    return StandardResult(PrinterTransaction(payload));
}
inline bool RunStrict(const Bytes &payload) {
    return StrictResult(PrinterTransaction(payload));
}
inline bool RunLink(const Bytes &payload) {
    return LinkResult(PrinterTransaction(payload));
}
inline bool RunLinkCheckingCode(const Bytes &payload) {
    return LinkResultCheckingCode(PrinterTransaction(payload));
}

// A command without parameters, judged by StandardResult.
inline int32_t BareCommand(uint8_t command) {
    return ToExportBool(RunStandard(Bytes{command}));
}

// The reply data of the last transaction.
inline std::span<const uint8_t> ReplyData() {
    return LastReply().data;
}

template <typename T> inline void Put(T *target, T value) {
    if (target)
        *target = value;
}

} // namespace krv::drv::cmd
