#include "commands.h"
#include "emulator.h"

namespace krv::emu {

void RegisterAllCommands(PrinterEmulator &emulator) {
    RegisterProgrammingCommands(emulator);
    RegisterInfoCommands(emulator);
    RegisterTextLogoCommands(emulator);
    RegisterTapeModemCommands(emulator);
    RegisterReceiptCommands(emulator);
    RegisterStatusClockCommands(emulator);
    RegisterReportCommands(emulator);
}

} // namespace krv::emu
