// Registration of the emulator's command families. Each family lives in its
// own cmd_*.cpp and installs its handlers on the emulator.
#pragma once

namespace krv::emu {

class PrinterEmulator;

// Programming, information queries, non-fiscal text and logo, control tape and modem.
void RegisterProgrammingCommands(PrinterEmulator &emulator);
void RegisterInfoCommands(PrinterEmulator &emulator);
void RegisterTextLogoCommands(PrinterEmulator &emulator);
void RegisterTapeModemCommands(PrinterEmulator &emulator);
// Receipts, status and clock, device control, printed reports.
void RegisterReceiptCommands(PrinterEmulator &emulator);
void RegisterStatusClockCommands(PrinterEmulator &emulator);
void RegisterReportCommands(PrinterEmulator &emulator);

} // namespace krv::emu
