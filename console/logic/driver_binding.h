// How the console reaches the driver library KRV_T100DRV.
//
// The program is linked against the library by export name, so a missing
// library or export stops it at load. Besides that, start-up opens the same
// library by name to hold a handle until the main window closes and to read
// the version the file carries; a library without a version, or older than
// 2.0.2, is refused.
//
// The calls of the link (open, close, status, rate, paper) go through
// DriverApi, which by default forwards to the exports; tests may put a
// recorder in front of the real driver.
#pragma once

#include "version_info.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace krv::console {

// The library's file name as the loader knows it.
inline constexpr const char *kDriverLibraryName = "libKRV_T100DRV.so";

// ---- Calling conventions of the exports -----------------------------------

// The driver's booleans: a call failed when the low 16 bits are zero.
bool DriverSucceeded(int32_t result);
// The driver's texts are Windows-1251: UTF-8 to it and back; a null driver
// text is "".
std::string ToDriverText(const QString &text);
QString FromDriverText(const char *text);
// A combo-box index as the byte the driver checks; an index that is no byte
// (-1 with nothing chosen) becomes 255 so the driver refuses it by range
// instead of wrapping onto a valid value.
uint8_t IndexByte(int index);
// FPGetMemoryData: reads `length` bytes of printer memory at `address` on
// `bank`; `block` holds as many as the length variable says after the call.
bool CallReadMemory(uint16_t address, int32_t bank, uint8_t length, std::vector<uint8_t> &block);

// ---- Library handle and version gate --------------------------------------

enum class VersionVerdict { Accepted, NoVersion, TooOld };

// Minimum 2.0.2: major, then minor, then release; the build is not looked at.
VersionVerdict JudgeDriverVersion(const std::optional<platform::FileVersion> &version);

// dlopen by name (the loader's own search: the program's run path,
// LD_LIBRARY_PATH, the system folders; a name with a slash is a path).
// For the driver's own name, when that search finds nothing, the file the
// program was bound to at load is taken. Null when nothing can be loaded.
void *LoadDriverLibrary(const QString &libraryName);
// The file the loader took for `handle`; empty for a null handle.
QString LoadedLibraryPath(void *handle);
// Releases a handle obtained from LoadDriverLibrary; a null handle is left
// alone.
void ReleaseDriverLibrary(void *handle);

// Reads the version of the library behind `handle` (without running any of
// its code) and judges it. A null handle counts as a library without version.
VersionVerdict CheckDriverVersion(void *handle);

// The box texts of a refused library.
QString VersionRefusalText(VersionVerdict verdict);

// ---- Link calls ------------------------------------------------------------

// The 22 results of the printer status, texts converted to UTF-8.
struct PrinterStatus {
    std::array<int16_t, 13> flags{};
    QString serialNumber, fiscalNumber, headerLine1, headerLine2, headerLine3, taxNumber, firmware;
    double registrationDate = 0, registrationTime = 0;
};

struct PaperState {
    std::array<int16_t, 5> flags{};
};

class DriverApi {
  public:
    virtual ~DriverApi() = default;
    // Opens COM<port> at `baud` with the console's read and write time-outs
    // (300 ms). Ports the driver cannot address fail without a call.
    virtual bool Init(int port, uint32_t baud) = 0;
    virtual bool Close() = 0;
    virtual bool GetStatus(PrinterStatus &status) = 0;
    virtual bool ChangeBaudRate(int rateIndex) = 0;
    virtual bool GetPaperState(PaperState &state) = 0;
    // The last error text (UTF-8) and bytes.
    virtual QString ErrorMessage() = 0;
    virtual void CodeError(uint8_t &result, uint8_t &status, uint8_t &extFlags) = 0;
};

// The real driver.
DriverApi &RealDriver();
// The one the console uses now: the real driver unless a test put another.
DriverApi &Driver();
// Replaces the console's driver (null: back to the real one).
void SetDriver(DriverApi *driver);

// ---- Error reporting after a driver call -----------------------------------

// "\r\nБайт статуса: <n>" and/or "\r\nБайт результата: <n>" for the last
// error's non-zero bytes; empty when both are zero.
QString DriverErrorDetail();
// The driver's last error text followed by DriverErrorDetail().
QString DriverErrorText();
// The box of a reply of the wrong length (a memory block, the modem's state).
QString ReplyFormatErrorText(); // "Ответная посылка не соответсвует формату данных!"
// The warning text for a paper state, empty when there is nothing to say.
QString PaperLowText(const PaperState &state);

} // namespace krv::console
