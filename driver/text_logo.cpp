// Non-fiscal text documents, the shop logo and the barcodes.
#include "KRV_T100DRV.h"
#include "command_helpers.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using namespace krv::drv;
using namespace krv::drv::cmd;

namespace {

constexpr size_t kMaxTextLine = 37;
constexpr size_t kLogoChunk = 64;

// Whether the printer has a non-fiscal document open that FPTransPrint
// opened; cleared by either text export when it closes the document.
bool g_nonFiscalDocumentOpen = false;

// Every line of the caller's list, taken before anything is sent so that a
// broken list cannot leave half a document printed.
std::optional<std::vector<std::string>> TakeLines(const TextLineList *lines) {
    if (!lines || !lines->count || !lines->line) {
        SetErrorText("Не задан список строк нефискального текста!");
        return std::nullopt;
    }
    const int32_t count = lines->count(lines->context);
    if (count < 0) {
        SetErrorText("Неверное количество строк нефискального текста!");
        return std::nullopt;
    }
    // No room is set aside up front: the count is the caller's word only.
    std::vector<std::string> out;
    for (int32_t i = 0; i < count; ++i) {
        const char *text = lines->line(lines->context, i);
        if (!text) {
            SetErrorText("Строка №" + std::to_string(i) +
                         "\r\nСтрока нефискального текста не задана!");
            return std::nullopt;
        }
        out.emplace_back(text);
    }
    return out;
}

bool SendLine(std::string_view cp1251, uint8_t tapeBits) {
    Bytes payload{0x28};
    return PutDeviceText(payload, cp1251, tapeBits) && RunStandard(payload);
}

bool CloseDocument() {
    if (!RunStandard(Bytes{0x28, 0xFF}))
        return false;
    g_nonFiscalDocumentOpen = false;
    return true;
}

std::string LimitsText(uint16_t maxWidth, uint16_t maxHeight) {
    return "Допустимые размеры:\r\nКоличество точек по ширине: X = 8.." + std::to_string(maxWidth) +
           ".\r\nКоличество точек по высоте: Y = 1.." + std::to_string(maxHeight) + ".";
}

// Logo mode stays on exactly while the upload runs.
class LogoModeScope {
  public:
    LogoModeScope() { SetLogoMode(true); }
    ~LogoModeScope() { SetLogoMode(false); }
    LogoModeScope(const LogoModeScope &) = delete;
    LogoModeScope &operator=(const LogoModeScope &) = delete;
};

Bytes LogoSwitch(int32_t password, uint8_t mode) {
    Bytes payload = WithPassword(0x2D, static_cast<uint16_t>(password & 0xFFFF));
    payload.push_back(mode);
    PutU16(payload, 0);
    PutU16(payload, 0);
    return payload;
}

} // namespace

// ---- Non-fiscal text ---------------------------------------------------------------

extern "C" KRV_API KrvBool FPTransPrint(const TextLineList *lines, KrvBool16 open, int32_t close) {
    const ExportLock lock;
    const auto texts = TakeLines(lines);
    if (!texts)
        return kFalse;
    const bool wantOpen = open != 0;
    if (wantOpen != g_nonFiscalDocumentOpen) {
        if (!RunStandard(Bytes{0x28, 0xFE}))
            return kFalse;
        g_nonFiscalDocumentOpen = wantOpen;
    }
    for (size_t i = 0; i < texts->size(); ++i) {
        const std::string &text = (*texts)[i];
        if (text.size() > kMaxTextLine)
            return Refuse("Строка №" + std::to_string(i) +
                          "\r\nДлина строки нефискального текста превышает допустимую длину");
        if (!SendLine(text, 0))
            return kFalse;
    }
    if (!Flag16(close))
        return kTrue;
    return ToExportBool(CloseDocument());
}

extern "C" KRV_API KrvBool FPTransPrintNew(const TextLineList *lines, KrvBool16 close,
                                           int32_t tape) {
    const ExportLock lock;
    const auto texts = TakeLines(lines);
    if (!texts)
        return kFalse;
    const uint8_t tapeBits = (tape & 0xFF) == 1 ? 0x40 : (tape & 0xFF) == 2 ? 0x80 : 0x00;
    for (const std::string &text : *texts) {
        if (!SendLine(std::string_view(text).substr(0, kMaxTextLine), tapeBits))
            return kFalse;
    }
    if (!close)
        return kTrue;
    return ToExportBool(CloseDocument());
}

// ---- Logo ------------------------------------------------------------------------

extern "C" KRV_API KrvBool FPLoadBMP(uint16_t password, uint16_t maxWidth, uint16_t maxHeight,
                                     const LogoBitmap *bitmap, KrvBool16 doubleHeight,
                                     int32_t invert) {
    const ExportLock lock;
    if (!bitmap || !bitmap->width || !bitmap->height || !bitmap->file_bytes)
        return Refuse("Не задано изображение логотипа!");
    const auto w = static_cast<uint16_t>(bitmap->width(bitmap->context) & 0xFFFF);
    const auto h = static_cast<uint16_t>(bitmap->height(bitmap->context) & 0xFFFF);
    const bool twice = doubleHeight != 0;
    const uint32_t printedHeight = twice ? 2u * h : h;
    if (w < 8 || w > maxWidth || h == 0 || printedHeight > maxHeight)
        return Refuse("Недопустимые размеры логотипа!\r\n\r\n" + LimitsText(maxWidth, maxHeight) +
                      "\r\nСохраните файл в монохромном режиме.");
    if (w % 8 != 0)
        return Refuse("Недопустимые размеры логотипа!\r\n\r\nКоличество точек по ширине должно "
                      "быть кратно 8.\r\n" +
                      LimitsText(maxWidth, maxHeight));

    const uint8_t *file = nullptr;
    const int32_t fileSize = bitmap->file_bytes(bitmap->context, &file);
    const size_t rowBytes = w / 8;
    const size_t stride = (rowBytes + 3) / 4 * 4;
    // The pixel rows lie at the end of the file, bottom row last read.
    if (!file || fileSize < 0 || static_cast<size_t>(fileSize) < stride * h)
        return Refuse("Файл логотипа короче, чем строки его изображения!");

    const size_t length = static_cast<size_t>(fileSize);
    Bytes logo;
    logo.reserve(rowBytes * printedHeight);
    for (size_t k = 1; k <= h; ++k) {
        const uint8_t *row = file + (length - k * stride);
        for (int copy = 0; copy < (twice ? 2 : 1); ++copy)
            logo.insert(logo.end(), row, row + rowBytes);
    }
    if (Flag16(invert))
        for (uint8_t &byte : logo)
            byte = static_cast<uint8_t>(~byte);

    Bytes header = WithPassword(0x2D, password);
    header.push_back(0x01);
    PutU16(header, static_cast<uint16_t>(rowBytes * 8));
    PutU16(header, static_cast<uint16_t>(printedHeight));

    LogoModeScope logoMode;
    if (!RunStrict(header))
        return kFalse;
    for (size_t offset = 0; offset < logo.size(); offset += kLogoChunk) {
        const size_t size = std::min(kLogoChunk, logo.size() - offset);
        if (!PrinterTransaction(std::span<const uint8_t>(logo).subspan(offset, size), true))
            return Refuse("Ошибка программирования логотипа!");
        if (!StrictResult(true))
            return kFalse;
    }
    return kTrue;
}

extern "C" KRV_API KrvBool FPEnableBMP(int32_t password) {
    const ExportLock lock;
    return ToExportBool(RunStrict(LogoSwitch(password, 0x01)));
}

extern "C" KRV_API KrvBool FPDisableBMP(int32_t password) {
    const ExportLock lock;
    return ToExportBool(RunStrict(LogoSwitch(password, 0x00)));
}

// ---- Barcodes ------------------------------------------------------------------------

extern "C" KRV_API KrvBool FPSetBarCode(const char *text) {
    const ExportLock lock;
    const std::string device = EncodeDeviceText(text ? text : "");
    if (device.size() > 16)
        return Refuse("Слишком длинный штрих-код");
    if (std::any_of(device.begin(), device.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return Refuse("Ошибка данных штрих-кода Code-128!");
    Bytes payload{0x2F, static_cast<uint8_t>(device.size())};
    payload.insert(payload.end(), device.begin(), device.end());
    return ToExportBool(RunStandard(payload));
}

extern "C" KRV_API KrvBool FPPrintEAN13(const char *digits) {
    const ExportLock lock;
    const std::string device = EncodeDeviceText(digits ? digits : "");
    // An empty code would print as thirteen zeros; it is refused as a length.
    if (device.empty() || device.size() > 13)
        return Refuse("Недопустимая длина штрих-кода!");
    if (!std::all_of(device.begin(), device.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return Refuse("Ошибка формата штрих-кода EAN-13!");
    const std::string code = std::string(13 - device.size(), '0') + device;
    const auto check = Ean13CheckDigit(std::string_view(code).substr(0, 12));
    if (!check || code[12] - '0' != *check)
        return Refuse("Ошибка в контрольном разряде штрих-кода EAN-13!");
    Bytes payload{0x31};
    payload.insert(payload.end(), code.begin(), code.end());
    return ToExportBool(RunStandard(payload));
}
