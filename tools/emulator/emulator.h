// The printer's side of the protocol on a pseudo-terminal.
//
// It parses request frames by the printer's rules (stuffing, checksum, odd
// DLE runs), answers each command through a handler that works on a plausible
// device state, records every request payload, and misbehaves on demand.
#pragma once

#include "device_state.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace krv::emu {

using Bytes = std::vector<uint8_t>;

// What a command handler answers. status and extFlags are usually taken from
// the device state (see PrinterEmulator::Header); error is the command's
// verdict, 0 = done.
struct Reply {
    uint8_t error = 0;
    Bytes data;
    std::optional<uint8_t> status;   // default: DeviceState::StatusByte()
    std::optional<uint8_t> extFlags; // default: DeviceState::ExtFlags()
    // Seconds of pacing after the reply (a report printing, say); 0 for none.
    double busySeconds = 0;

    static Reply Ok(Bytes data = {}) { return Reply{0, std::move(data), {}, {}, 0}; }
    static Reply Error(uint8_t code) { return Reply{code, {}, {}, {}, 0}; }
};

// Faults, each applied to the next request received (in queue order).
enum class Fault {
    SynFirst,      // a SYN instead of the reply; the request is dropped
    SynAfterAck,   // ACK, then `synCount` SYN bytes, then the reply
    NakFrame,      // a whole reply frame led by NAK instead of ACK
    LoneNak,       // a single NAK and nothing more
    Silence,       // no answer at all
    BadChecksum,   // a proper reply with a wrong checksum byte
    AckEnq,        // ACK ENQ instead of a framed reply
    ShortPayload,  // a frame whose payload is shorter than the header
    TruncatedData, // the reply data cut to `keepBytes` bytes
};

struct FaultSpec {
    Fault fault = Fault::Silence;
    int synCount = 1;
    size_t keepBytes = 0;
};

// Chosen header bytes for every following reply until cleared.
struct HeaderOverride {
    std::optional<uint8_t> status;
    std::optional<uint8_t> error;
    std::optional<uint8_t> extFlags;
};

class PrinterEmulator;
using CommandHandler = std::function<Reply(PrinterEmulator &, std::span<const uint8_t> payload)>;
// A raw chunk in logo mode (payload bytes, checksum already verified and
// stripped); the answer is sent as a normal framed reply, or ACK ENQ when
// nothing is returned.
using RawChunkHandler =
    std::function<std::optional<Reply>(PrinterEmulator &, std::span<const uint8_t> chunk)>;
// A modem text query ("~~#00#", ...): the bytes to write back, unframed.
using TextQueryHandler = std::function<Bytes(PrinterEmulator &, std::string_view query)>;

struct EmulatorOptions {
    std::string linkPath;  // a symlink to the pty slave, made when set
    uint32_t paceBaud = 0; // 0: answer at once; else 10 bits a byte at this rate
    // With pacing: how many bytes reach the host at once, as a UART's receive
    // FIFO hands them over (1: every byte on its own).
    uint32_t paceBurst = 1;
    std::string designation = "МВ-21"; // firmware designation, UTF-8 ("МВ-21" or "МВ-22")
    bool quiet = true;                 // no request trace on stderr
};

class PrinterEmulator {
  public:
    explicit PrinterEmulator(EmulatorOptions options = {});
    ~PrinterEmulator();
    PrinterEmulator(const PrinterEmulator &) = delete;
    PrinterEmulator &operator=(const PrinterEmulator &) = delete;

    // Opens the pty and starts serving it on a thread of its own.
    bool Start();
    void Stop();
    const std::string &SlavePath() const { return m_slavePath; }

    // Every request payload received (command byte first), in order; raw
    // chunks and text queries are recorded too, in their own lists.
    std::vector<Bytes> Requests() const;
    // The requests of one command only, in order.
    std::vector<Bytes> Requests(uint8_t command) const;
    std::vector<Bytes> RawChunks() const;
    std::vector<std::string> TextQueries() const;
    void ClearRecords();
    // Blocks until `count` requests were received or the wait passes.
    bool WaitForRequests(size_t count, int timeoutMs = 5000) const;

    // Bytes that crossed the line since the start, both ways (what a rate
    // costs, for the benchmarks' figures of line use).
    uint64_t WireBytes() const { return m_bytesIn + m_bytesOut; }

    void QueueFault(FaultSpec fault);
    void QueueFault(Fault fault) { QueueFault(FaultSpec{fault}); }
    void SetHeaderOverride(const HeaderOverride &header);
    void ClearHeaderOverride() { SetHeaderOverride({}); }
    void SetPaceBaud(uint32_t baud);
    // A rate change: the reply now being made still goes out at the old rate,
    // everything after it at `baud`. An emulator that answers at once stays so.
    void PaceAfterReply(uint32_t baud) { m_paceAfterReply = baud; }

    void SetHandler(uint8_t command, CommandHandler handler);
    void SetRawChunkHandler(RawChunkHandler handler);
    void SetTextQueryHandler(TextQueryHandler handler);
    // Logo mode: after a command that starts an upload, the printer takes
    // unframed chunks of `chunkBytes` payload bytes plus a checksum byte.
    void EnterRawMode(size_t chunkBytes);
    void LeaveRawMode();

    // The device state; hold the lock while touching it from a test thread
    // (handlers run with it held already).
    DeviceState &State() { return m_state; }
    std::unique_lock<std::mutex> Lock() const { return std::unique_lock<std::mutex>(m_mutex); }

  private:
    void Serve();
    void Consume(Bytes &pending);
    void Trace(const char *what, const Bytes &bytes) const;
    void PaceWire(size_t bytes);
    void HandleFrame(const Bytes &payload);
    void HandleRawChunk(const Bytes &chunk);
    void HandleTextQuery(const std::string &query);
    void SendReply(uint8_t sequence, uint8_t command, const Reply &reply,
                   std::optional<FaultSpec> fault);
    void WriteBytes(std::span<const uint8_t> bytes);
    bool WriteAll(std::span<const uint8_t> bytes);
    std::optional<FaultSpec> TakeFault();

    EmulatorOptions m_options;
    int m_master = -1;
    int m_slaveHold = -1;
    int m_wakePipe[2] = {-1, -1};
    std::string m_slavePath;
    std::thread m_thread;
    std::atomic<bool> m_running{false};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    DeviceState m_state;
    std::vector<Bytes> m_requests;
    std::vector<Bytes> m_rawChunks;
    std::vector<std::string> m_textQueries;
    std::deque<FaultSpec> m_faults;
    HeaderOverride m_header;
    std::atomic<uint32_t> m_paceBaud{0};
    uint32_t m_paceAfterReply = 0; // serving thread only
    std::vector<std::optional<CommandHandler>> m_handlers =
        std::vector<std::optional<CommandHandler>>(256);
    RawChunkHandler m_rawHandler;
    TextQueryHandler m_textHandler;
    std::atomic<size_t> m_rawChunkBytes{0}; // 0: framed mode
    std::atomic<uint64_t> m_bytesIn{0}, m_bytesOut{0};
};

// Installs the handlers of every command the emulator knows.
void RegisterAllCommands(PrinterEmulator &emulator);

// Programs a fresh printer (the emulator's state as built) as a technician
// puts it in service, through its own commands: tax groups А-Д at 20, 7, 14,
// 0 and 0 % with the tax included in the prices, and article 1 ("ХЛІБ" at
// 12.50 in group А). False when the printer refused a step.
bool PutInService(PrinterEmulator &emulator);

} // namespace krv::emu
