// What the emulated printer remembers between commands.
#pragma once

#include "device_state_ext.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace krv::emu {

// The receipt being built, if any.
enum class ReceiptKind { None, Sale, Payout };

struct OpenReceipt {
    ReceiptKind kind = ReceiptKind::None;
    bool nonFiscal = false;     // set by a payment with bit 40 in its form byte
    bool paymentsBegun = false; // from then on no lines, comments or discounts
    int lines = 0;              // sale or payout lines registered
    int64_t sum = 0;            // running sum in kopecks
    int64_t paid = 0;           // paid so far
    int64_t lastLineValue = 0;  // value of the last sale or payout line
    int lastLineGroup = 0;      // its tax group 0..5
    int64_t markups = 0, discounts = 0;
    std::array<int64_t, 6> byGroup{};
    std::array<int64_t, 10> byForm{};
};

// A Z report kept in fiscal memory.
struct ZRecord {
    uint16_t number = 0;
    uint8_t day = 0, month = 0, year = 0; // plain numbers, year modulo 100
};

struct DeviceState {
    std::string designation = "МВ-21"; // UTF-8 firmware designation
    uint8_t statusBits = 0;            // status byte bits the device raises by itself
    uint8_t extFlags = 0;              // extended flags the device raises by itself

    uint8_t StatusByte() const { return statusBits; }
    uint8_t ExtFlags() const { return extFlags; }

    static constexpr uint8_t kShiftOver24hBit = 0x20;
    void SetShiftOver24h(bool on) {
        statusBits = static_cast<uint8_t>(on ? statusBits | kShiftOver24hBit
                                             : statusBits & ~kShiftOver24hBit);
    }

    // ---- receipts and cash ----
    OpenReceipt receipt;
    bool anyReceiptClosed = false; // a copy of the last receipt can be printed
    int64_t cashInDrawer = 0;      // kopecks
    bool shiftOpen = false;
    int barcodeLines = 0; // sale lines that asked for the article's barcode
    int lineFeeds = 0;

    // ---- clock: set time plus the time run since, unless stopped ----
    // The printer keeps local civil time; it starts at the host's.
    static std::chrono::sys_seconds LocalNow() {
        using namespace std::chrono;
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        const year_month_day date{year(tm.tm_year + 1900),
                                  month(static_cast<unsigned>(tm.tm_mon + 1)),
                                  day(static_cast<unsigned>(tm.tm_mday))};
        return sys_days(date) + hours(tm.tm_hour) + minutes(tm.tm_min) + seconds(tm.tm_sec);
    }
    std::chrono::sys_seconds clockBase = LocalNow();
    std::chrono::steady_clock::time_point clockSetAt = std::chrono::steady_clock::now();
    bool clockRuns = true; // tests stop it to read back exactly what they set
    std::chrono::sys_seconds Now() const {
        if (!clockRuns)
            return clockBase;
        return clockBase + std::chrono::floor<std::chrono::seconds>(
                               std::chrono::steady_clock::now() - clockSetAt);
    }
    void SetClock(std::chrono::sys_seconds moment) {
        clockBase = moment;
        clockSetAt = std::chrono::steady_clock::now();
    }

    // ---- peripherals and modes ----
    std::array<std::vector<uint8_t>, 2> customerDisplay; // device text of each line
    bool drawerOpen = false;
    bool onLine = false;
    bool displaySums = true;
    uint8_t baudCode = 0; // 0 9600, 1 19200, 2 38400
    uint8_t lineSpacing = 0;
    uint8_t contrast = 100;
    uint8_t paperState = 0; // the byte command 30 answers
    int copiesPrinted = 0;
    int versionPrints = 0;

    // ---- identity shown by the status reply ----
    std::string serialNumber = "КР00001234 15.03.24"; // UTF-8, 19 characters
    std::array<uint8_t, 5> registration{0x15, 0x03, 0x24, 0x10,
                                        0x30}; // BCD day, month, year, hour, minute
    bool fiscalMode = false;                   // also on once a fiscal number was programmed
    bool taxRatesChanged = false;
    bool serviceReportOnTape = false;
    bool lastCommandFailed = false;

    // ---- reports ----
    std::vector<ZRecord> zReports;
    std::vector<std::vector<uint8_t>> printedReports; // request payloads of the reports printed

    // State of the programming, information, text, logo, tape and modem
    // commands.
    DeviceStateExt ext;
};

} // namespace krv::emu
