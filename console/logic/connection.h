// Opening the link to the printer: the rate scan, the firmware check and the
// texts the status bar shows for the link. The functions here talk to the
// driver through DriverApi and to nobody else; the main window turns their
// results into boxes, panel texts and control states.
#pragma once

#include "driver_binding.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace krv::console {

// The three link rates, in the order of the rate lists.
inline constexpr std::array<uint32_t, 3> kLinkRates = {9600, 19200, 38400};

enum class ScanOutcome {
    Found,              // a printer of a known model answered
    PortNotOpened,      // the port could not be opened (at some try)
    NoAnswer,           // the status query failed at the last rate tried
    UnknownDesignation, // a printer answered with another firmware
};

struct ScanResult {
    ScanOutcome outcome = ScanOutcome::PortNotOpened;
    int rateIndex = 0;    // the rate of the last try (the working one when found)
    PrinterStatus status; // the printer's status when it answered
};

struct ScanObserver {
    std::function<void(int rateIndex)> portOpened; // the port is open at that rate
    std::function<void()> portClosed;              // the port was closed after a try
};

// Tries the printer on COM<port>, first at kLinkRates[firstRateIndex]. With
// autoRate, up to three rates are tried, wrapping 38400 -> 9600; without it,
// one. The port is closed after every try that did not find a known printer;
// it stays open on success.
ScanResult ScanForPrinter(DriverApi &driver, int port, int firstRateIndex, bool autoRate,
                          const ScanObserver &observer = {});

// The firmware designations the console works with, compared exactly.
bool IsKnownDesignation(const QString &designation);
// KRV-T200 ("МВ-22") rather than KRV-T100 ("МВ-21").
bool IsSecondModel(const QString &designation);
// The first 8 characters of the serial-number text.
QString SerialNumberPrefixOf(const QString &serialNumber);
// The first command-line argument, cut to 255 characters; empty without one.
QString StartupArgumentFrom(const QStringList &arguments);
// "-free" in any letter case skips the login and grants service mode.
bool IsFreeArgument(const QString &startupArgument);

// Whether the link is up: the session's Connected.
bool LinkEstablished();

// After a driver call failed: when the link is open and the device of its
// port is gone, the link is marked lost (no longer Connected) and the
// driver's port released. True when that happened now.
bool NoteLinkFailure(DriverApi &driver);

// Status-bar texts of the link.
QString TryingPanelText(int rateIndex);
QString OpenPanelText(const QString &rateText, uint8_t accessMode);
QString ClosedPanelText();
// The box shown when COM<port> does not open: "Невозможно открыть порт!" and
// a line naming the device and why it does not open now.
QString PortNotOpenedText(int port);
QString NewRateMessage(const QString &rateText);

} // namespace krv::console
