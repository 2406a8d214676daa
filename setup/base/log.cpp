#include "log.h"

#include "command_line.h"
#include "file_open.h"
#include "paths.h"
#include "setup_system.h"
#include "system.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace krv::setup {

namespace {

constexpr std::size_t kMaxCsdVersion = 127;

std::tm LocalNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

void WriteAndFlush(int fd, std::string_view bytes) {
    // A log that cannot be written must not stop the setup: errors are ignored.
    platform::WriteFully(fd, bytes.data(), bytes.size());
    ::fdatasync(fd);
}

// Inside the lock, only when no file is open.
void OpenLogFile(SetupLog &log) {
    if (log.path.empty()) {
        const std::string program =
            log.programPath ? log.programPath() : platform::ExecutablePath();
        if (program.empty())
            return;
        log.path = DefaultLogPath(program);
    }
    // Only a regular file: a pipe named by /exelog would hang the open or
    // every line, a device would swallow the log.
    const int fd =
        platform::OpenRegularFile(log.path, O_WRONLY | O_CREAT | O_APPEND, 0644).fd.release();
    if (fd < 0)
        return; // lost; the next line tries again
    log.fd = fd;
    WriteAndFlush(fd, log.header);
    WriteAndFlush(fd, FormatOsVersionBlock(log.osQuery ? log.osQuery() : QueryOsVersionBlock()));
}

} // namespace

OsVersionBlock QueryOsVersionBlock() {
    OsVersionBlock block;
    // The same numbers the version checks compare against.
    const OsVersionCache version = GetOsVersionCache();
    block.majorVersion = version.major;
    block.minorVersion = version.minor;
    block.buildNumber = version.build;
    block.platformId = 2;
    const auto os = platform::ReadOsRelease();
    block.csdVersion =
        os && !os->prettyName.empty() ? os->prettyName : platform::ReadKernelInfo().release;
    block.extended = true;
    block.productType = 1;
    return block;
}

std::string FormatOsVersionBlock(const OsVersionBlock &block) {
    std::string text = "<< OS Version: ";
    text += " MajorVersion: " + std::to_string(block.majorVersion) + ";";
    text += " MinorVersion: " + std::to_string(block.minorVersion) + ";";
    text += " BuildNumber: " + std::to_string(block.buildNumber) + ";";
    text += " PlatformId: " + std::to_string(block.platformId) + ";";
    text += " CSDVersion: " + block.csdVersion.substr(0, kMaxCsdVersion) + ";";
    if (block.extended) {
        text += " ServicePackMajor: " + std::to_string(block.servicePackMajor) + ";";
        text += " ServicePackMinor: " + std::to_string(block.servicePackMinor) + ";";
        text += " SuiteMask: " + std::to_string(block.suiteMask) + ";";
        text += " ProductType: " + std::to_string(block.productType) + ";";
    }
    text += " >> \r\n\r\n";
    return text;
}

std::string FormatLogTimestamp(const std::tm &t) {
    char buffer[64];
    const int n =
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d @%02d:%02d:%02d", t.tm_year + 1900,
                      t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return std::string(buffer, static_cast<std::size_t>(std::clamp(n, 0, 63)));
}

std::string DefaultLogPath(std::string_view programPath) {
    return std::string(WithoutExeSuffix(programPath)) + ".log";
}

SetupLog::~SetupLog() {
    if (fd >= 0)
        ::close(fd);
}

SetupLog &TheSetupLog() {
    static SetupLog log;
    return log;
}

void SetLogFilePath(SetupLog &log, std::string_view path) {
    std::lock_guard guard(log.lock);
    if (log.fd >= 0 && log.path != path)
        return;
    log.path = std::string(path);
}

void SetLogHeader(SetupLog &log, std::string_view header) {
    std::lock_guard guard(log.lock);
    log.header = std::string(header);
}

namespace {

// Inside the lock.
void WriteLogLineLocked(SetupLog &log, std::string_view text) {
    if (log.ended)
        return;
    if (log.fd < 0)
        OpenLogFile(log);
    if (log.fd < 0)
        return;
    std::string line = FormatLogTimestamp(log.clock ? log.clock() : LocalNow());
    line += '-';
    line += MaskPasswordsInText(text);
    line += "\r\n";
    WriteAndFlush(log.fd, line);
}

} // namespace

void WriteLogLine(SetupLog &log, std::string_view text) {
    std::lock_guard guard(log.lock);
    WriteLogLineLocked(log, text);
}

void CloseLog(SetupLog &log, bool writeEndLine) {
    if (writeEndLine)
        WriteLogLine(log, kLogEndLine);
    std::lock_guard guard(log.lock);
    if (log.fd >= 0) {
        ::close(log.fd);
        log.fd = -1;
    }
}

void EndLogForGood(SetupLog &log, bool writeEndLine, const std::vector<std::string> &lastLines) {
    // One hold of the lock: no line of another thread comes between the last
    // lines, the end line and the close, nor after them.
    std::lock_guard guard(log.lock);
    for (const std::string &line : lastLines)
        WriteLogLineLocked(log, line);
    if (writeEndLine)
        WriteLogLineLocked(log, kLogEndLine);
    if (log.fd >= 0) {
        ::close(log.fd);
        log.fd = -1;
    }
    log.ended = true;
}

void SetLogFilePath(std::string_view path) {
    SetLogFilePath(TheSetupLog(), path);
}
void SetLogHeader(std::string_view header) {
    SetLogHeader(TheSetupLog(), header);
}
void WriteLogLine(std::string_view text) {
    WriteLogLine(TheSetupLog(), text);
}

void LogLine(std::string_view text) {
    if (LoggingEnabled)
        WriteLogLine(TheSetupLog(), text);
}

void CloseLog() {
    CloseLog(TheSetupLog(), LoggingEnabled);
}

void EndLogForGood(const std::vector<std::string> &lastLines) {
    EndLogForGood(TheSetupLog(), LoggingEnabled,
                  LoggingEnabled ? lastLines : std::vector<std::string>{});
}

void AppendLogText(std::string &line, const char *text) {
    if (text)
        line += text;
}
void AppendLogText(std::string &line, std::string_view text) {
    line += text;
}
void AppendLogBool(std::string &line, bool value) {
    line += value ? "true" : "false";
}
void AppendLogUShort(std::string &line, uint16_t value) {
    line += std::to_string(value);
}
void AppendLogInt(std::string &line, int32_t value) {
    line += std::to_string(value);
}
void AppendLogULong(std::string &line, uint32_t value) {
    line += std::to_string(value);
}
void AppendLogUInt64(std::string &line, uint64_t value) {
    line += std::to_string(value);
}

} // namespace krv::setup
