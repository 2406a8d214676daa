// The driver's link layer: frames, the handshake with the printer, tries, and
// the last reply. All state is process-wide; the exports hold ExportLock()
// (errors.h) while they use it.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace krv::platform {
class SerialIo;
}

namespace krv::drv {

namespace ctl {
inline constexpr uint8_t DLE = 0x10;
inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t ETX = 0x03;
inline constexpr uint8_t ENQ = 0x05;
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t NAK = 0x15;
inline constexpr uint8_t SYN = 0x16;
} // namespace ctl

// Every wait of the link, by name.
inline constexpr std::chrono::milliseconds kReplyLimit{5184}; // 0.00006 day
// Tests name a shorter reply limit in milliseconds in this variable, read when
// the link opens, so that a broken link fails their run in seconds instead of
// three full limits per command.
inline constexpr const char *kReplyLimitVariable = "KRV_TEST_REPLY_LIMIT_MS";
inline constexpr std::chrono::milliseconds kSynWait{250};
inline constexpr int kTries = 3;
inline constexpr size_t kMaxRawChunk = 255;
// The most bytes a reply may bring, busy SYNs before the frame not counted.
// No real reply comes near: the longest frame is a few hundred bytes, the
// modem's longest text answer well under a kilobyte.
inline constexpr size_t kMaxReplyBytes = 4096;
inline constexpr size_t kMaxModemReplyBytes = 8192;

// Why the last exchange failed, for the text the caller sets.
enum class LinkFault {
    None,
    NoReply,      // nothing usable within the tries and limits
    PortLost,     // the port failed or hung up: failing at once until reopened
    ReplyTooLong, // the reply ran past its size bound
};

// The five bytes that open every reply payload.
struct ReplyHeader {
    uint8_t sequence = 0;
    uint8_t command = 0;
    uint8_t status = 0;
    uint8_t error = 0;
    uint8_t extFlags = 0;
};

// Each -1 when set, else 0.
struct ReplyFlags {
    int16_t clockError = 0;        // status bit 3
    int16_t shiftOver24h = 0;      // status bit 5
    int16_t serviceReportOpen = 0; // extended bit 0
    int16_t accident = 0;          // extended bit 1
    int16_t noPaper = 0;           // extended bit 2
    int16_t notPersonalized = 0;   // extended bit 7
};

struct LastReplyRecord {
    std::vector<uint8_t> raw;  // every byte stored by the last receive
    ReplyHeader header;        // rewritten only by a successful parse
    std::vector<uint8_t> data; // unstuffed payload after the header
    ReplyFlags flags;
};

// ---- Frame codec: pure functions on byte spans ----------------------------

// DLE STX, SEQ, payload, CS, DLE ETX with every 10 inside doubled. The
// checksum makes SEQ + payload + CS = 0 mod 256; it is returned through
// `checksum` when given.
std::vector<uint8_t> BuildRequestFrame(uint8_t sequence, std::span<const uint8_t> payload,
                                       uint8_t *checksum = nullptr);
// Logo mode: payload plus (0 - sum) mod 256, nothing else.
std::vector<uint8_t> BuildRawChunk(std::span<const uint8_t> payload, uint8_t *checksum = nullptr);
// Length of the run of DLE bytes that ends right before position `end`.
size_t DleRunBefore(std::span<const uint8_t> bytes, size_t end);
// The end test: the last byte is ETX after an odd run of DLE bytes.
bool EndsWithFrameEnd(std::span<const uint8_t> raw);
bool CheckReplyShape(std::span<const uint8_t> raw);
bool VerifyReplyChecksum(std::span<const uint8_t> raw);
// Fills header and data from a complete raw reply. A reply that is not
// ACK-led or NAK-led with a proper frame, has a bad checksum, or carries fewer
// than five payload bytes is refused; header is left alone then.
bool ParseReply(std::span<const uint8_t> raw, ReplyHeader &header, std::vector<uint8_t> &data);
ReplyFlags FlagsFromHeader(const ReplyHeader &header);

// ---- The link --------------------------------------------------------------

// Time as the link sees it. The real one is monotonic; tests inject their own.
class LinkClock {
  public:
    virtual ~LinkClock() = default;
    virtual std::chrono::milliseconds Now() = 0;
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The reply limit for a value of kReplyLimitVariable: whole milliseconds from
// 1 up to kReplyLimit; anything else (unset, not a number, longer) gives
// kReplyLimit, so the variable can only shorten the wait.
std::chrono::milliseconds ReplyLimitFrom(const char *text);

// FPInit / FPClose bodies.
bool OpenLink(uint8_t port, uint32_t baud, uint8_t readTimeout, uint8_t writeTimeout);
bool CloseLink();
bool LinkIsOpen();

// One command exchange: send (framed, or a raw chunk in logo mode), up to
// three tries, then parse into LastReply(). True when a reply was received
// and parsed; the printer's verdict is in LastReply().header.
bool PrinterTransaction(std::span<const uint8_t> payload, bool raw = false);

// Modem text queries: purge both ways, write the bytes as they are, and start
// the reply limit. True when every byte went out.
bool WriteUnframed(std::span<const uint8_t> bytes);
// The unframed reader: bytes until the line falls idle after the first one.
bool ReceiveUntilIdle(std::vector<uint8_t> &out);
// The reason of the last failed PrinterTransaction or ReceiveUntilIdle.
LinkFault LastLinkFault();

void SetLogoMode(bool on);
bool LogoMode();
uint8_t LastChecksum();
uint8_t SequenceCounter();
const LastReplyRecord &LastReply();

// ---- Test seams ------------------------------------------------------------
// Stand a scripted port and clock behind the link; null restores the real ones.
void SetLinkIoForTesting(platform::SerialIo *io);
void SetLinkClockForTesting(LinkClock *clock);
void SetSequenceCounterForTesting(uint8_t value);

} // namespace krv::drv
