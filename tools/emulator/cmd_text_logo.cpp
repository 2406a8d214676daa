// Non-fiscal documents (28), the shop logo (2D and its raw chunks) and the
// barcodes (2F Code-128, 31 EAN-13) of the emulated printer.
#include "bytes.h"
#include "commands.h"
#include "emulator.h"

#include <algorithm>

namespace krv::emu {

namespace {

constexpr size_t kLogoChunk = 64;
constexpr size_t kMaxLineLength = 37;

Reply NonFiscalText(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() < 2)
        return Reply::Error(kErrFormat);
    auto &ext = emu.State().ext;
    if (p.size() == 2 && p[1] == 0xFE) {
        // Opens a document, or closes the one that is open.
        ext.documentOpen = !ext.documentOpen;
        if (!ext.documentOpen)
            ++ext.documentsClosed;
        return Reply::Ok();
    }
    if (p.size() == 2 && p[1] == 0xFF) {
        ext.documentOpen = false;
        ++ext.documentsClosed;
        return Reply::Ok();
    }
    const size_t length = p[1] & 0x3F;
    if ((p[1] & 0xC0) == 0xC0 || length > kMaxLineLength || p.size() != 2 + length)
        return Reply::Error(kErrFormat);
    ext.printedLines.push_back(PrintedLine{p[1], Bytes(p.begin() + 2, p.end())});
    return Reply::Ok();
}

// 2D: password, mode, width, height. Mode 1 with a size starts an upload;
// mode 1 without one switches the logo on; mode 0 switches it off.
Reply Logo(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 8)
        return Reply::Error(kErrFormat);
    auto &ext = emu.State().ext;
    if (ext.Password(kProgrammingOperator) != *GetLe(p, 1, 2))
        return Reply::Error(kErrPassword);
    const uint8_t mode = p[3];
    const auto width = static_cast<uint16_t>(*GetLe(p, 4, 2));
    const auto height = static_cast<uint16_t>(*GetLe(p, 6, 2));
    if (mode > 1)
        return Reply::Error(kErrFormat);
    if (mode == 0) {
        if (width != 0 || height != 0)
            return Reply::Error(kErrFormat);
        ext.logoEnabled = false;
        return Reply::Ok();
    }
    if (width == 0 && height == 0) {
        if (ext.logo.empty() || ext.logoBroken)
            return Reply::Error(kErrLogo);
        ext.logoEnabled = true;
        return Reply::Ok();
    }
    if (width == 0 || width % 8 != 0 || height == 0)
        return Reply::Error(kErrLogo);
    ext.logoWidth = width;
    ext.logoHeight = height;
    ext.logoExpected = size_t{width} / 8 * height;
    ext.logoIncoming.clear();
    ext.logoLoading = true;
    ext.logoBroken = true; // until the last row arrives
    ext.logoChunksSeen = 0;
    emu.EnterRawMode(std::min(kLogoChunk, ext.logoExpected));
    return Reply::Ok();
}

std::optional<Reply> LogoChunk(PrinterEmulator &emu, std::span<const uint8_t> chunk) {
    auto &ext = emu.State().ext;
    if (!ext.logoLoading) {
        emu.LeaveRawMode();
        return Reply::Error(kErrLogo);
    }
    if (ext.logoChunksSeen++ == ext.failLogoChunk) {
        ext.logoLoading = false;
        ext.logoIncoming.clear();
        emu.LeaveRawMode();
        return Reply::Error(kErrLogo);
    }
    ext.logoIncoming.insert(ext.logoIncoming.end(), chunk.begin(), chunk.end());
    const size_t left = ext.logoExpected - std::min(ext.logoExpected, ext.logoIncoming.size());
    if (left == 0) {
        ext.logo = std::move(ext.logoIncoming);
        ext.logoIncoming.clear();
        ext.logoLoading = false;
        ext.logoBroken = false;
        emu.LeaveRawMode();
    } else {
        emu.EnterRawMode(std::min(kLogoChunk, left));
    }
    return Reply::Ok();
}

Reply Code128(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() < 2 || p.size() != 2u + p[1] || p[1] == 0 || p[1] > 16)
        return Reply::Error(kErrFormat);
    if (std::any_of(p.begin() + 2, p.end(), [](uint8_t b) { return b >= 0x80; }))
        return Reply::Error(kErrCharacters);
    emu.State().ext.code128.emplace_back(p.begin() + 2, p.end());
    return Reply::Ok();
}

Reply Ean13(PrinterEmulator &emu, std::span<const uint8_t> p) {
    if (p.size() != 14)
        return Reply::Error(kErrFormat);
    int sum = 0;
    for (size_t i = 1; i <= 13; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return Reply::Error(kErrCharacters);
        if (i <= 12)
            sum += (p[i] - '0') * (i % 2 == 1 ? 1 : 3);
    }
    if ((10 - sum % 10) % 10 != p[13] - '0')
        return Reply::Error(kErrCharacters);
    emu.State().ext.ean13.emplace_back(p.begin() + 1, p.end());
    return Reply::Ok();
}

} // namespace

void RegisterTextLogoCommands(PrinterEmulator &emu) {
    emu.SetHandler(0x28, NonFiscalText);
    emu.SetHandler(0x2D, Logo);
    emu.SetRawChunkHandler(LogoChunk);
    emu.SetHandler(0x2F, Code128);
    emu.SetHandler(0x31, Ean13);
}

} // namespace krv::emu
