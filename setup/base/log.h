// The setup log: a text file that exists only when the program runs with
// /exelog. It opens on the first line with a header and a block describing
// the operating system, then takes one line per event:
//   2026-12-08 @20:53:14-Full command line:/opt/x/TelmarSetup2.3 /exelog
// and ends with an end line written at exit. Lines come from every thread;
// one lock serialises them, and each line reaches the disk before the call
// returns, so the file is complete even after a crash.
//
// Passwords given with /password, /proxypassword or /aespassword are masked
// in every line written, whatever its label.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace krv::setup {

// Set only by /exelog; every writer of a log line tests it first, so without
// /exelog no file is ever created.
inline std::atomic<bool> LoggingEnabled{false};
// Cleared by a silent run: reports that would show a box go to the debug
// output instead, and questions get their "cancel" answer at once.
inline std::atomic<bool> UiVisible{true};

inline constexpr std::string_view kDefaultLogHeader = "\r\n<< Parvex (x86) Log >>\r\n";
inline constexpr std::string_view kLogEndLine =
    "=====================End of Log=====================\r\n";

// The operating-system block that follows the header. On Linux the version
// numbers are the kernel release's (6.1.0-18 gives 6, 1, 0), the
// service-pack text slot holds the distribution's name (os-release
// PRETTY_NAME, or the kernel release), the platform id is 2 (the NT family,
// the one every Linux answer stands for), and the extended fields are 0
// apart from the product type 1 (workstation).
struct OsVersionBlock {
    uint32_t majorVersion = 0;
    uint32_t minorVersion = 0;
    uint32_t buildNumber = 0;
    uint32_t platformId = 0;
    std::string csdVersion; // at most 127 characters are written
    bool extended = false;  // the extended fields below were filled
    uint32_t servicePackMajor = 0;
    uint32_t servicePackMinor = 0;
    uint32_t suiteMask = 0;
    uint32_t productType = 0;
};

OsVersionBlock QueryOsVersionBlock();
std::string FormatOsVersionBlock(const OsVersionBlock &block);

// "%04d-%02d-%02d @%02d:%02d:%02d" of a local time.
std::string FormatLogTimestamp(const std::tm &localTime);

// The program's own path with ".log" appended (a Windows-style ".exe"
// extension is replaced): /opt/x/TelmarSetup2.3 logs to TelmarSetup2.3.log.
std::string DefaultLogPath(std::string_view programPath);

struct SetupLog {
    std::mutex lock;
    std::string path; // empty: DefaultLogPath of the program
    std::string header{kDefaultLogHeader};
    int fd = -1;        // -1 while the file is not open
    bool ended = false; // EndLogForGood ran: no line is written any more
    // Seams for tests; empty means the real clock, system and program path.
    std::function<std::tm()> clock;
    std::function<OsVersionBlock()> osQuery;
    std::function<std::string()> programPath;

    SetupLog() = default;
    SetupLog(const SetupLog &) = delete;
    SetupLog &operator=(const SetupLog &) = delete;
    ~SetupLog();
};

// The process-wide log.
SetupLog &TheSetupLog();

// Takes the path unless a file is already open under a different one (an
// open file is never switched).
void SetLogFilePath(SetupLog &log, std::string_view path);
// Takes effect only before the file is opened.
void SetLogHeader(SetupLog &log, std::string_view header);
// Opens the file when needed, then writes timestamp, "-", the text and CR LF.
// A file that cannot be opened loses the line; the next line tries again.
void WriteLogLine(SetupLog &log, std::string_view text);
// Writes the end line when `writeEndLine` (so the file exists even when
// nothing else was logged), then closes the file.
void CloseLog(SetupLog &log, bool writeEndLine);
// CloseLog for a process about to end while other threads may still log (a
// run ended by a stop): later lines are dropped rather than opening the
// file again with a second header after the end line.
// The lines given come before the end line, in the same hold of the log:
// no line of another thread falls between them or after them.
void EndLogForGood(SetupLog &log, bool writeEndLine,
                   const std::vector<std::string> &lastLines = {});

// The same on the process-wide log. LogLine writes only when LoggingEnabled;
// CloseLog writes the end line only when LoggingEnabled.
void SetLogFilePath(std::string_view path);
void SetLogHeader(std::string_view header);
void WriteLogLine(std::string_view text);
void LogLine(std::string_view text);
void CloseLog();
void EndLogForGood(const std::vector<std::string> &lastLines = {});

// Pieces of a log line.
void AppendLogText(std::string &line, const char *text); // null appends nothing
void AppendLogText(std::string &line, std::string_view text);
void AppendLogBool(std::string &line, bool value); // "true" / "false"
void AppendLogUShort(std::string &line, uint16_t value);
void AppendLogInt(std::string &line, int32_t value);
void AppendLogULong(std::string &line, uint32_t value);
void AppendLogUInt64(std::string &line, uint64_t value);

} // namespace krv::setup
