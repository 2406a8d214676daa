#include "emulator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace krv::emu {

namespace {

constexpr uint8_t DLE = 0x10, STX = 0x02, ETX = 0x03, ENQ = 0x05, ACK = 0x06, NAK = 0x15,
                  SYN = 0x16;

size_t DleRun(const Bytes &bytes, size_t end) {
    size_t run = 0;
    while (run < end && bytes[end - run - 1] == DLE)
        ++run;
    return run;
}

void PutStuffed(Bytes &out, uint8_t byte) {
    out.push_back(byte);
    if (byte == DLE)
        out.push_back(DLE);
}

// The printer's reply frame around an already unstuffed body (header + data).
Bytes Frame(uint8_t lead, const Bytes &body, bool breakChecksum) {
    Bytes out{lead, DLE, STX};
    uint8_t sum = 0;
    for (uint8_t byte : body) {
        PutStuffed(out, byte);
        sum = static_cast<uint8_t>(sum + byte);
    }
    uint8_t cs = static_cast<uint8_t>(0 - sum);
    if (breakChecksum)
        cs = static_cast<uint8_t>(cs + 1);
    PutStuffed(out, cs);
    out.push_back(DLE);
    out.push_back(ETX);
    return out;
}

} // namespace

PrinterEmulator::PrinterEmulator(EmulatorOptions options) : m_options(std::move(options)) {
    m_state.designation = m_options.designation;
    m_paceBaud = m_options.paceBaud;
}

PrinterEmulator::~PrinterEmulator() {
    Stop();
}

bool PrinterEmulator::Start() {
    if (m_running)
        return true;
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return false;
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return false;
    m_slavePath = name;
    // Hold the slave open ourselves: the line stays raw from the start (no
    // echo of our replies back at us before the driver configures it), and
    // the master never sees a hang-up between two openings by the driver.
    m_slaveHold = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slaveHold < 0)
        return false;
    termios tio{};
    if (::tcgetattr(m_slaveHold, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slaveHold, TCSANOW, &tio);
    }
    if (::pipe2(m_wakePipe, O_CLOEXEC) != 0)
        return false;
    if (!m_options.linkPath.empty()) {
        // A link a stopped emulator left behind is replaced; anything else
        // under that name is not ours to remove.
        struct stat there {};
        if (::lstat(m_options.linkPath.c_str(), &there) == 0) {
            if (!S_ISLNK(there.st_mode)) {
                errno = EEXIST;
                return false;
            }
            ::unlink(m_options.linkPath.c_str());
        }
        if (::symlink(name, m_options.linkPath.c_str()) != 0)
            return false;
    }
    m_running = true;
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void PrinterEmulator::Stop() {
    if (m_running.exchange(false)) {
        char wake = 1;
        [[maybe_unused]] ssize_t n = ::write(m_wakePipe[1], &wake, 1);
        if (m_thread.joinable())
            m_thread.join();
    }
    for (int *fd : {&m_master, &m_slaveHold, &m_wakePipe[0], &m_wakePipe[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    // The link goes only while it still leads to this emulator's pty: another
    // emulator may have taken the name since.
    if (!m_options.linkPath.empty() && !m_slavePath.empty()) {
        char target[128];
        const ssize_t n = ::readlink(m_options.linkPath.c_str(), target, sizeof target);
        if (n > 0 && std::string_view(target, static_cast<size_t>(n)) == m_slavePath)
            ::unlink(m_options.linkPath.c_str());
    }
}

std::vector<Bytes> PrinterEmulator::Requests() const {
    auto lock = Lock();
    return m_requests;
}

std::vector<Bytes> PrinterEmulator::Requests(uint8_t command) const {
    auto lock = Lock();
    std::vector<Bytes> found;
    for (const Bytes &request : m_requests)
        if (!request.empty() && request[0] == command)
            found.push_back(request);
    return found;
}

std::vector<Bytes> PrinterEmulator::RawChunks() const {
    auto lock = Lock();
    return m_rawChunks;
}

std::vector<std::string> PrinterEmulator::TextQueries() const {
    auto lock = Lock();
    return m_textQueries;
}

void PrinterEmulator::ClearRecords() {
    auto lock = Lock();
    m_requests.clear();
    m_rawChunks.clear();
    m_textQueries.clear();
}

bool PrinterEmulator::WaitForRequests(size_t count, int timeoutMs) const {
    auto lock = Lock();
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requests.size() >= count; });
}

void PrinterEmulator::QueueFault(FaultSpec fault) {
    auto lock = Lock();
    m_faults.push_back(fault);
}

void PrinterEmulator::SetHeaderOverride(const HeaderOverride &header) {
    auto lock = Lock();
    m_header = header;
}

void PrinterEmulator::SetPaceBaud(uint32_t baud) {
    m_paceBaud = baud;
}

void PrinterEmulator::SetHandler(uint8_t command, CommandHandler handler) {
    auto lock = Lock();
    m_handlers[command] = std::move(handler);
}

void PrinterEmulator::SetRawChunkHandler(RawChunkHandler handler) {
    auto lock = Lock();
    m_rawHandler = std::move(handler);
}

void PrinterEmulator::SetTextQueryHandler(TextQueryHandler handler) {
    auto lock = Lock();
    m_textHandler = std::move(handler);
}

void PrinterEmulator::EnterRawMode(size_t chunkBytes) {
    m_rawChunkBytes = chunkBytes;
}

void PrinterEmulator::LeaveRawMode() {
    m_rawChunkBytes = 0;
}

std::optional<FaultSpec> PrinterEmulator::TakeFault() {
    if (m_faults.empty())
        return std::nullopt;
    FaultSpec fault = m_faults.front();
    m_faults.pop_front();
    return fault;
}

void PrinterEmulator::Trace(const char *what, const Bytes &bytes) const {
    if (m_options.quiet)
        return;
    std::fprintf(stderr, "%s", what);
    for (uint8_t byte : bytes)
        std::fprintf(stderr, " %02X", byte);
    std::fprintf(stderr, "\n");
}

void PrinterEmulator::Serve() {
    Bytes pending;
    uint8_t buffer[512];
    while (m_running) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        int ready = ::poll(fds, 2, 200);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;
        if (ready <= 0 || !(fds[0].revents & POLLIN))
            continue;
        ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            continue;
        m_bytesIn += static_cast<uint64_t>(n);
        pending.insert(pending.end(), buffer, buffer + n);
        Consume(pending);
    }
}

// Takes every complete request out of `pending`: raw chunks in logo mode,
// modem text queries, and frames; bytes that belong to none are dropped, as
// a printer drops line noise.
void PrinterEmulator::Consume(Bytes &pending) {
    for (;;) {
        if (pending.empty())
            return;
        if (m_rawChunkBytes > 0) {
            if (pending.size() < m_rawChunkBytes + 1)
                return;
            Bytes chunk(pending.begin(), pending.begin() + static_cast<long>(m_rawChunkBytes + 1));
            pending.erase(pending.begin(),
                          pending.begin() + static_cast<long>(m_rawChunkBytes + 1));
            HandleRawChunk(chunk);
            continue;
        }
        if (pending[0] == '~') {
            // "~~#" then characters up to the closing '#'.
            if (pending.size() < 3)
                return;
            if (pending[1] != '~' || pending[2] != '#') {
                pending.erase(pending.begin());
                continue;
            }
            size_t close = 3;
            while (close < pending.size() && pending[close] != '#')
                ++close;
            if (close >= pending.size()) {
                if (pending.size() > 64)
                    pending.erase(pending.begin());
                return;
            }
            std::string query(pending.begin(), pending.begin() + static_cast<long>(close + 1));
            pending.erase(pending.begin(), pending.begin() + static_cast<long>(close + 1));
            HandleTextQuery(query);
            continue;
        }
        if (pending[0] != DLE) {
            pending.erase(pending.begin());
            continue;
        }
        if (pending.size() < 2)
            return;
        if (pending[1] != STX) {
            pending.erase(pending.begin());
            continue;
        }
        // Look for the end: ETX after an odd run of DLE bytes.
        size_t end = 0;
        for (size_t i = 2; i < pending.size(); ++i) {
            if (pending[i] == ETX && DleRun(pending, i) % 2 == 1) {
                end = i;
                break;
            }
        }
        if (end == 0)
            return;
        Bytes frame(pending.begin(), pending.begin() + static_cast<long>(end + 1));
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(end + 1));
        // Unstuff the body between DLE STX and DLE ETX.
        Bytes body;
        bool malformed = false;
        for (size_t i = 2; i + 2 < frame.size(); ++i) {
            if (frame[i] == DLE) {
                if (i + 3 >= frame.size() || frame[i + 1] != DLE) {
                    malformed = true;
                    break;
                }
                ++i;
            }
            body.push_back(frame[i]);
        }
        uint8_t sum = 0;
        for (uint8_t byte : body)
            sum = static_cast<uint8_t>(sum + byte);
        Trace("<-", frame);
        if (malformed || body.size() < 3 || sum != 0) {
            // A garbled request: the printer refuses it and waits for the next.
            WriteBytes(Bytes{NAK});
            continue;
        }
        PaceWire(frame.size());
        HandleFrame(body);
    }
}

void PrinterEmulator::HandleFrame(const Bytes &body) {
    const uint8_t sequence = body[0];
    Bytes payload(body.begin() + 1, body.end() - 1);
    std::optional<FaultSpec> fault;
    Reply reply;
    {
        auto lock = Lock();
        m_requests.push_back(payload);
        fault = TakeFault();
        if (!fault || (fault->fault != Fault::SynFirst && fault->fault != Fault::Silence &&
                       fault->fault != Fault::LoneNak)) {
            auto &handler = m_handlers[payload[0]];
            reply = handler ? (*handler)(*this, payload) : Reply::Ok();
        }
    }
    m_changed.notify_all();
    SendReply(sequence, payload[0], reply, fault);
    if (m_paceAfterReply != 0) {
        if (m_paceBaud != 0)
            m_paceBaud = m_paceAfterReply;
        m_paceAfterReply = 0;
    }
}

void PrinterEmulator::HandleRawChunk(const Bytes &chunk) {
    uint8_t sum = 0;
    for (uint8_t byte : chunk)
        sum = static_cast<uint8_t>(sum + byte);
    std::optional<Reply> reply;
    std::optional<FaultSpec> fault;
    {
        auto lock = Lock();
        Bytes data(chunk.begin(), chunk.end() - 1);
        m_rawChunks.push_back(data);
        fault = TakeFault();
        if (sum != 0)
            reply = Reply::Error(kErrLogo);
        else if (m_rawHandler)
            reply = m_rawHandler(*this, data);
    }
    m_changed.notify_all();
    if (!reply) {
        if (!fault)
            WriteBytes(Bytes{ACK, ENQ});
        else
            SendReply(0, 0, Reply::Ok(), fault);
        return;
    }
    SendReply(0, 0, *reply, fault);
}

void PrinterEmulator::HandleTextQuery(const std::string &query) {
    Bytes answer;
    std::optional<FaultSpec> fault;
    {
        auto lock = Lock();
        m_textQueries.push_back(query);
        fault = TakeFault();
        if (m_textHandler)
            answer = m_textHandler(*this, query);
    }
    m_changed.notify_all();
    if (fault && fault->fault == Fault::Silence)
        return;
    WriteBytes(answer);
}

void PrinterEmulator::SendReply(uint8_t sequence, uint8_t command, const Reply &reply,
                                std::optional<FaultSpec> fault) {
    Bytes body;
    {
        auto lock = Lock();
        body = {sequence, command,
                m_header.status.value_or(reply.status.value_or(m_state.StatusByte())),
                m_header.error.value_or(reply.error),
                m_header.extFlags.value_or(reply.extFlags.value_or(m_state.ExtFlags()))};
    }
    Bytes data = reply.data;
    if (fault && fault->fault == Fault::TruncatedData && data.size() > fault->keepBytes)
        data.resize(fault->keepBytes);
    body.insert(body.end(), data.begin(), data.end());

    Fault kind = fault ? fault->fault : Fault::TruncatedData;
    if (fault) {
        switch (kind) {
        case Fault::SynFirst:
            WriteBytes(Bytes{SYN});
            return;
        case Fault::LoneNak:
            WriteBytes(Bytes{NAK});
            return;
        case Fault::Silence:
            return;
        case Fault::AckEnq:
            WriteBytes(Bytes{ACK, ENQ});
            return;
        case Fault::NakFrame:
            WriteBytes(Frame(NAK, body, false));
            return;
        case Fault::ShortPayload:
            body.resize(3);
            break;
        default:
            break;
        }
    }
    Bytes out = Frame(ACK, body, fault && kind == Fault::BadChecksum);
    if (fault && kind == Fault::SynAfterAck) {
        out.insert(out.begin() + 1, static_cast<size_t>(fault->synCount), SYN);
    }
    if (reply.busySeconds > 0) {
        // A long job: acknowledge, keep the driver waiting with SYN bytes,
        // then answer.
        WriteBytes(Bytes{ACK});
        auto until =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(reply.busySeconds);
        while (std::chrono::steady_clock::now() < until && m_running) {
            WriteBytes(Bytes{SYN});
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        out.erase(out.begin());
    }
    Trace("->", out);
    WriteBytes(out);
}

// With pacing on, a request takes its wire time to arrive; the pty delivers
// it at once, so the printer side waits for it before it answers.
void PrinterEmulator::PaceWire(size_t bytes) {
    const uint32_t baud = m_paceBaud;
    if (baud == 0)
        return;
    std::this_thread::sleep_for(
        std::chrono::duration<double>(10.0 * static_cast<double>(bytes) / baud));
}

// Every byte to the master side; false when the pty refuses them.
bool PrinterEmulator::WriteAll(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            m_bytesOut += static_cast<uint64_t>(n);
        } else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
    }
    return true;
}

void PrinterEmulator::WriteBytes(std::span<const uint8_t> bytes) {
    const uint32_t baud = m_paceBaud;
    if (baud == 0) {
        WriteAll(bytes);
        return;
    }
    // Ten bits a byte at the line rate: start, eight data bits, stop. A burst
    // is handed over when its last byte is complete.
    const auto perByte = std::chrono::duration<double>(10.0 / baud);
    const size_t burst = m_options.paceBurst > 0 ? m_options.paceBurst : 1;
    const auto start = std::chrono::steady_clock::now();
    for (size_t done = 0; done < bytes.size();) {
        const size_t count = std::min(burst, bytes.size() - done);
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        perByte * static_cast<double>(done + count)));
        if (!WriteAll(bytes.subspan(done, count)))
            return;
        done += count;
    }
}

} // namespace krv::emu
