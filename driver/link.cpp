#include "link.h"

#include "errors.h"
#include "serial_port.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace krv::drv {

using namespace ctl;
using std::chrono::milliseconds;

// ---- Frame codec -------------------------------------------------------------

namespace {

void PutStuffed(std::vector<uint8_t> &out, uint8_t byte) {
    out.push_back(byte);
    if (byte == DLE)
        out.push_back(DLE);
}

bool StartsWithAckEnq(std::span<const uint8_t> raw) {
    return raw.size() >= 2 && raw[0] == ACK && raw[1] == ENQ;
}

// Position right after the first DLE STX that is a real start marker (an odd
// run of DLE before the STX), or nothing.
std::optional<size_t> FrameStart(std::span<const uint8_t> raw) {
    for (size_t i = 1; i < raw.size(); ++i)
        if (raw[i] == STX && DleRunBefore(raw, i) % 2 == 1)
            return i + 1;
    return std::nullopt;
}

// The unstuffed bytes between the start marker and the closing DLE ETX: the
// payload followed by its checksum. Nothing when the frame is malformed (no
// start, no end, or a lone DLE inside).
std::optional<std::vector<uint8_t>> UnstuffedBody(std::span<const uint8_t> raw) {
    auto start = FrameStart(raw);
    if (!start || !EndsWithFrameEnd(raw) || raw.size() < 2 || *start > raw.size() - 2)
        return std::nullopt;
    const size_t end = raw.size() - 2; // the closing DLE ETX
    std::vector<uint8_t> body;
    body.reserve(end - *start);
    for (size_t i = *start; i < end; ++i) {
        if (raw[i] == DLE) {
            if (i + 1 >= end || raw[i + 1] != DLE)
                return std::nullopt;
            ++i;
        }
        body.push_back(raw[i]);
    }
    return body;
}

// A body (payload and checksum) is whole when its bytes sum to 0 mod 256.
bool SumsToZero(std::span<const uint8_t> body) {
    uint8_t sum = 0;
    for (uint8_t byte : body)
        sum = static_cast<uint8_t>(sum + byte);
    return sum == 0;
}

} // namespace

std::vector<uint8_t> BuildRequestFrame(uint8_t sequence, std::span<const uint8_t> payload,
                                       uint8_t *checksum) {
    std::vector<uint8_t> frame;
    frame.reserve(payload.size() * 2 + 8);
    frame.push_back(DLE);
    frame.push_back(STX);
    PutStuffed(frame, sequence);
    uint8_t sum = sequence;
    for (uint8_t byte : payload) {
        PutStuffed(frame, byte);
        sum = static_cast<uint8_t>(sum + byte);
    }
    const uint8_t cs = static_cast<uint8_t>(0 - sum);
    PutStuffed(frame, cs);
    frame.push_back(DLE);
    frame.push_back(ETX);
    if (checksum)
        *checksum = cs;
    return frame;
}

std::vector<uint8_t> BuildRawChunk(std::span<const uint8_t> payload, uint8_t *checksum) {
    std::vector<uint8_t> chunk(payload.begin(), payload.end());
    uint8_t sum = 0;
    for (uint8_t byte : payload)
        sum = static_cast<uint8_t>(sum + byte);
    const uint8_t cs = static_cast<uint8_t>(0 - sum);
    chunk.push_back(cs);
    if (checksum)
        *checksum = cs;
    return chunk;
}

size_t DleRunBefore(std::span<const uint8_t> bytes, size_t end) {
    size_t run = 0;
    while (end > run && end - run - 1 < bytes.size() && bytes[end - run - 1] == DLE)
        ++run;
    return run;
}

// Any odd run ends the frame: a run of nine or more DLE bytes before ETX is as
// valid as a short one (four stuffed data DLEs and the marker's own).
bool EndsWithFrameEnd(std::span<const uint8_t> raw) {
    if (raw.empty() || raw.back() != ETX)
        return false;
    return DleRunBefore(raw, raw.size() - 1) % 2 == 1;
}

bool CheckReplyShape(std::span<const uint8_t> raw) {
    if (raw.empty())
        return false;
    if (raw[0] == ACK || raw[0] == NAK)
        return true;
    return raw.size() >= 5 && raw[1] == DLE && raw[2] == STX && raw[raw.size() - 2] == DLE &&
           raw.back() == ETX;
}

bool VerifyReplyChecksum(std::span<const uint8_t> raw) {
    auto body = UnstuffedBody(raw);
    return body && !body->empty() && SumsToZero(*body);
}

bool ParseReply(std::span<const uint8_t> raw, ReplyHeader &header, std::vector<uint8_t> &data) {
    data.clear();
    if (!CheckReplyShape(raw))
        return false;
    if (StartsWithAckEnq(raw))
        return true;
    auto body = UnstuffedBody(raw);
    // Five header bytes and the checksum at the least; anything shorter is a
    // broken reply, never something to read past.
    if (!body || body->size() < 6 || !SumsToZero(*body))
        return false;
    header = ReplyHeader{(*body)[0], (*body)[1], (*body)[2], (*body)[3], (*body)[4]};
    data.assign(body->begin() + 5, body->end() - 1);
    return true;
}

ReplyFlags FlagsFromHeader(const ReplyHeader &header) {
    auto flag = [](uint8_t byte, int bit) { return ToExportBool16((byte >> bit) & 1); };
    ReplyFlags flags;
    flags.clockError = flag(header.status, 3);
    flags.shiftOver24h = flag(header.status, 5);
    flags.serviceReportOpen = flag(header.extFlags, 0);
    flags.accident = flag(header.extFlags, 1);
    flags.noPaper = flag(header.extFlags, 2);
    flags.notPersonalized = flag(header.extFlags, 7);
    return flags;
}

// ---- The link ----------------------------------------------------------------

namespace {

class SteadyLinkClock final : public LinkClock {
  public:
    milliseconds Now() override {
        return std::chrono::duration_cast<milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
    void Sleep(milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

// The one process-wide connection. The time limit runs on a monotonic clock so
// that a change of the wall clock (FPSetTime on the host, daylight saving)
// cannot cut a wait short or stretch it.
struct SerialLinkState {
    platform::SerialPort port;
    uint8_t sequence = 0;
    uint8_t lastChecksum = 0;
    milliseconds sendTime{0};
    milliseconds replyLimit = kReplyLimit;
    bool logoMode = false;
    LinkFault fault = LinkFault::None;
};

SerialLinkState &Link() {
    static SerialLinkState state;
    return state;
}

LastReplyRecord &MutableLastReply() {
    static LastReplyRecord reply;
    return reply;
}

SteadyLinkClock g_steadyClock;
LinkClock *g_clock = &g_steadyClock;
platform::SerialIo *g_testIo = nullptr;

platform::SerialIo &Io() {
    return g_testIo ? *g_testIo : Link().port;
}

bool LimitPassed() {
    return g_clock->Now() - Link().sendTime > Link().replyLimit;
}

bool SendRequest(std::span<const uint8_t> payload, bool raw) {
    SerialLinkState &link = Link();
    ClearErrorText();
    Io().Purge(true, true);
    if (link.sequence == 0xFF)
        link.sequence = 0;
    ++link.sequence;
    std::vector<uint8_t> bytes =
        raw ? BuildRawChunk(payload, &link.lastChecksum)
            : BuildRequestFrame(link.sequence, payload, &link.lastChecksum);
    const size_t written = Io().Write(bytes);
    link.sendTime = g_clock->Now();
    return written == bytes.size();
}

bool IsLeadByte(uint8_t byte) {
    return byte == ACK || byte == NAK || byte == SYN;
}

// One try's read. SYN means "busy" only until the frame's DLE STX has come;
// inside the frame 16 is an ordinary data byte (a sum, a BCD 16, a memory
// byte) and is stored like any other.
//
// A busy printer keeps sending SYN. Each wait takes the SYNs that arrived
// during it as one, so a busy spell costs its own length plus one wait, not
// one wait per SYN. Only a lead of ACK, NAK and SYN bytes is a busy printer:
// a SYN among other bytes before a frame is line noise and restarts nothing.
bool ReceiveReply() {
    SerialLinkState &link = Link();
    std::vector<uint8_t> &raw = MutableLastReply().raw;
    raw.clear();
    bool inFrame = false;
    bool cleanLead = true;
    size_t busyBytes = 0; // SYNs of the lead, outside the size bound
    for (;;) {
        uint8_t byte = 0;
        const int got = Io().ReadByte(byte);
        if (LimitPassed())
            return false;
        if (got < 0) {
            link.fault = LinkFault::PortLost;
            return false; // the port itself failed: no point waiting
        }
        if (got == 0)
            continue; // the read time-out already paced us
        if (byte == SYN && !inFrame && (cleanLead || link.logoMode)) {
            if (link.logoMode)
                continue;
            g_clock->Sleep(kSynWait);
            if (raw.empty())
                return false;
            Io().SkipArrived(SYN);
            raw.push_back(byte);
            ++busyBytes;
            link.sendTime = g_clock->Now();
            continue;
        }
        if (!inFrame && !IsLeadByte(byte))
            cleanLead = false;
        raw.push_back(byte);
        if (raw.size() - busyBytes > kMaxReplyBytes) {
            link.fault = LinkFault::ReplyTooLong;
            return false;
        }
        if (!inFrame && byte == STX && raw.size() >= 2 &&
            DleRunBefore(raw, raw.size() - 1) % 2 == 1)
            inFrame = true;
        if (StartsWithAckEnq(raw))
            return true;
        if (!EndsWithFrameEnd(raw))
            continue;
        if (raw[0] == NAK) {
            Io().Purge(false, true);
            return false;
        }
        return raw[0] == ACK;
    }
}

} // namespace

milliseconds ReplyLimitFrom(const char *text) {
    if (!text)
        return kReplyLimit;
    const char *end = text + std::strlen(text);
    long long value = 0;
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || value < 1 || value > kReplyLimit.count())
        return kReplyLimit;
    return milliseconds{value};
}

bool OpenLink(uint8_t port, uint32_t baud, uint8_t readTimeout, uint8_t writeTimeout) {
    SerialLinkState &link = Link();
    link.logoMode = false;
    link.replyLimit = ReplyLimitFrom(std::getenv(kReplyLimitVariable));
    if (link.port.IsOpen())
        link.port.Close();
    if (!link.port.Open(port))
        return false;
    if (baud == 0 || !link.port.SetLine(baud)) {
        link.port.Close();
        return false;
    }
    platform::SerialTimeouts timeouts;
    timeouts.readTotalMultiplierMs = 19200u / baud;
    timeouts.readTotalConstantMs = readTimeout * 100u;
    timeouts.writeTotalMultiplierMs = 19200u / baud;
    timeouts.writeTotalConstantMs = writeTimeout * 100u;
    if (!link.port.SetTimeouts(timeouts)) {
        link.port.Close();
        return false;
    }
    return true;
}

bool CloseLink() {
    return Link().port.Close();
}

bool LinkIsOpen() {
    return Io().IsOpen();
}

bool PrinterTransaction(std::span<const uint8_t> payload, bool raw) {
    LastErrorState &errors = ErrorState();
    errors.code = 0;
    errors.status = 0;
    Link().fault = LinkFault::NoReply;
    LastReplyRecord &reply = MutableLastReply();
    // Without a port there is nobody to wait for: fail now, with the same
    // outcome a silent printer gives, instead of three idle reply limits. A
    // raw chunk longer than the printer's receive buffer would be cut on its
    // side and never match its checksum: it is not sent either.
    if (!LinkIsOpen() || (raw && payload.size() > kMaxRawChunk)) {
        ClearErrorText();
        reply.raw.clear();
        reply.data.clear();
        return false;
    }
    // A port found lost or a reply past its bound ends the tries: another
    // request would meet the same dead line or the same flood.
    bool received = false;
    for (int attempt = 0; attempt < kTries && !received; ++attempt) {
        SendRequest(payload, raw);
        received = ReceiveReply();
        if (Link().fault != LinkFault::NoReply)
            break;
    }
    if (!received)
        return false;
    if (!ParseReply(reply.raw, reply.header, reply.data))
        return false;
    reply.flags = FlagsFromHeader(reply.header);
    Link().fault = LinkFault::None;
    return true;
}

bool WriteUnframed(std::span<const uint8_t> bytes) {
    Io().Purge(true, true);
    const size_t written = Io().Write(bytes);
    Link().sendTime = g_clock->Now();
    return written == bytes.size();
}

bool ReceiveUntilIdle(std::vector<uint8_t> &out) {
    SerialLinkState &link = Link();
    out.clear();
    link.fault = LinkFault::NoReply;
    if (!LinkIsOpen())
        return false;
    for (;;) {
        uint8_t byte = 0;
        const int got = Io().ReadByte(byte);
        if (LimitPassed())
            return false;
        if (got < 0) {
            link.fault = LinkFault::PortLost;
            return false;
        }
        if (got == 1) {
            out.push_back(byte);
            if (out.size() > kMaxModemReplyBytes) {
                link.fault = LinkFault::ReplyTooLong;
                return false;
            }
            continue;
        }
        if (!out.empty()) {
            link.fault = LinkFault::None;
            return true;
        }
    }
}

LinkFault LastLinkFault() {
    return Link().fault;
}

void SetLogoMode(bool on) {
    Link().logoMode = on;
}
bool LogoMode() {
    return Link().logoMode;
}
uint8_t LastChecksum() {
    return Link().lastChecksum;
}
uint8_t SequenceCounter() {
    return Link().sequence;
}
const LastReplyRecord &LastReply() {
    return MutableLastReply();
}

void SetLinkIoForTesting(platform::SerialIo *io) {
    g_testIo = io;
}
void SetLinkClockForTesting(LinkClock *clock) {
    g_clock = clock ? clock : &g_steadyClock;
}
void SetSequenceCounterForTesting(uint8_t value) {
    Link().sequence = value;
}

} // namespace krv::drv
