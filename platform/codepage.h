// Code-page conversions over iconv, in place of the Windows ANSI/OEM calls.
//
// The driver's interface text is Windows-1251; the printer's is OEM code
// page 866. Conversions keep the length: one byte in, one byte out. A byte
// with no counterpart in the target page becomes '?'. The tables are built
// once, on first use, and are safe to read from any thread afterwards.
#pragma once

#include <string>
#include <string_view>

namespace krv::platform {

// Windows-1251 -> CP866, byte for byte.
std::string AnsiToOem(std::string_view cp1251);
// CP866 -> Windows-1251, byte for byte.
std::string OemToAnsi(std::string_view cp866);

// Windows-1251 -> the printer's text bytes: CP866 whose missing letters go
// out as look-alikes the printer draws (І and і as the Latin I and i, № as
// N, Ґ and ґ as the CP866 bytes of Ў and ў). The driver and the printer
// emulator both write device text through this one table. Same length out.
std::string AnsiToPrinterText(std::string_view cp1251);

// UTF-8 <-> Windows-1251 for texts written in our sources and for the console,
// which shows Unicode. Characters with no Windows-1251 form become '?'.
std::string Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view cp1251);

} // namespace krv::platform
