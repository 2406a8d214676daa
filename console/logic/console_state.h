// The console's session: what the handlers of every window share for the
// whole run of the program, and the only record of it. Widgets show this
// state; nothing reads it back from a widget's enabled flag or caption. One
// instance, reached through State(), read and written on the user-interface
// thread only.
#pragma once

#include "header_logic.h"
#include "tax_logic.h"

#include <QString>

#include <cstdint>

namespace krv::console {

// The operator's rights, chosen at login.
enum AccessModeValue : uint8_t {
    kCashierMode = 0,
    kServiceMode = 1,
    kSupervisorMode = 2,
};

// Largest logo bitmap each model accepts, in dots.
inline constexpr uint16_t kFirstModelLogoWidth = 448;
inline constexpr uint16_t kFirstModelLogoHeight = 1050;
inline constexpr uint16_t kSecondModelLogoWidth = 352;
inline constexpr uint16_t kSecondModelLogoHeight = 312;

struct ConsoleState {
    // Link and model. The link is open while Connected; LinkLost tells a
    // link that ended because its port went away (the adapter unplugged, the
    // line hung up) from one closed by the operator; a connect clears it.
    bool Connected = false;
    bool LinkLost = false;
    int16_t IsFirstModel = -1; // -1: KRV-T100 ("МВ-21"), 0: KRV-T200 ("МВ-22")
    uint16_t LogoMaxWidth = kFirstModelLogoWidth;
    uint16_t LogoMaxHeight = kFirstModelLogoHeight;
    QString SerialNumberPrefix;
    uint8_t AccessMode = kCashierMode;
    // The COM number the open link runs on: a rate change reopens this port,
    // whatever the port list shows by then.
    int ConnectedPort = 0;

    // Start-up.
    void *DriverLibraryHandle = nullptr;
    QString StartupArgument;
    // Set when start-up refused to go on; the program ends instead of
    // running its message loop.
    bool TerminationRequested = false;

    // Passwords remembered for later commands.
    uint16_t ProgrammingPassword = 0;
    uint16_t ReportPassword = 0;

    bool FiscalizationWizardActive = false;

    // Loops that run on the user-interface thread, turning its events while
    // they print: bulk article programming and the stress test.
    bool BulkProgrammingRunning = false;
    bool StressTestRunning = false;

    // The receipt header: the working print attributes of the five lines as
    // edited in the header window (double width, double height of line 1,
    // then of line 2 ...), and the copy applied there.
    std::array<bool, 2 * kHeaderLineCount> HeaderLineFlags{};
    std::array<ReceiptHeaderLine, kHeaderLineCount> ReceiptHeaderLines{};

    // The compound-tax scheme: the copy the compound-tax window edits and the
    // one the grid and the tax write use; the group the window opens on
    // (1..6); the rates typed into grid rows that show the scheme instead.
    CompoundScheme CompoundTaxWorking = DefaultCompoundScheme();
    CompoundScheme CompoundTaxApplied = DefaultCompoundScheme();
    int SelectedTaxGroup = 3;
    RateCells GridRateTexts{};
};

ConsoleState &State();
// Back to the values at program start (tests start each case from here).
void ResetState();

} // namespace krv::console
