// The link layer against a scripted port and a fake clock: frames, the end
// test, the checksum walk, tries, and the handshake bytes.
#include "support_link.h"

#include "codepage.h"
#include "errors.h"
#include "link.h"

#include <numeric>
#include <random>

using namespace krv::drv;
using krv::test::ReplyFrame;
using krv::test::ScriptedLinkTest;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes StatusReply(uint8_t status = 0, uint8_t error = 0, uint8_t ext = 0, Bytes data = {}) {
    Bytes body{0x01, 0x00, status, error, ext};
    body.insert(body.end(), data.begin(), data.end());
    return ReplyFrame(body);
}

} // namespace

TEST(FrameCodec, BuildsStatusRequestWithChecksum) {
    uint8_t cs = 0;
    EXPECT_EQ(BuildRequestFrame(0x01, Bytes{0x00}, &cs),
              (Bytes{0x10, 0x02, 0x01, 0x00, 0xFF, 0x10, 0x03}));
    EXPECT_EQ(cs, 0xFF);
}

TEST(FrameCodec, DoublesEveryDleInsideTheFrameButCountsItOnce) {
    EXPECT_EQ(BuildRequestFrame(0x02, Bytes{0x10, 0x01}),
              (Bytes{0x10, 0x02, 0x02, 0x10, 0x10, 0x01, 0xED, 0x10, 0x03}));
    EXPECT_EQ(BuildRequestFrame(0x10, Bytes{0x00}),
              (Bytes{0x10, 0x02, 0x10, 0x10, 0x00, 0xF0, 0x10, 0x03}));
    // 01 + EF = F0, so the checksum is 10 and goes out doubled.
    EXPECT_EQ(BuildRequestFrame(0x01, Bytes{0xEF}),
              (Bytes{0x10, 0x02, 0x01, 0xEF, 0x10, 0x10, 0x10, 0x03}));
}

TEST(FrameCodec, RawChunkIsPayloadAndChecksumOnly) {
    uint8_t cs = 0;
    EXPECT_EQ(BuildRawChunk(Bytes{0x10, 0x20, 0x30}, &cs), (Bytes{0x10, 0x20, 0x30, 0xA0}));
    EXPECT_EQ(cs, 0xA0);
}

TEST(FrameCodec, EndTestNeedsAnOddRunOfDleBeforeEtx) {
    EXPECT_FALSE(EndsWithFrameEnd(Bytes{0x06, 0x10, 0x02, 0x41, 0x10, 0x10, 0x03}));
    EXPECT_TRUE(EndsWithFrameEnd(Bytes{0x06, 0x10, 0x02, 0x41, 0x10, 0x10, 0x10, 0x03}));
    EXPECT_TRUE(EndsWithFrameEnd(Bytes{0x10, 0x03}));
    EXPECT_FALSE(EndsWithFrameEnd(Bytes{0x41, 0x03}));
    // Runs of nine and eleven are as final as a run of one.
    for (size_t run : {9u, 11u, 13u}) {
        Bytes raw{0x06, 0x10, 0x02, 0x41};
        raw.insert(raw.end(), run, 0x10);
        raw.push_back(0x03);
        EXPECT_TRUE(EndsWithFrameEnd(raw)) << run;
        raw.insert(raw.end() - 1, 0x10);
        EXPECT_FALSE(EndsWithFrameEnd(raw)) << run + 1;
    }
}

TEST(FrameCodec, ParsesHeaderAndUnstuffedData) {
    Bytes raw = StatusReply(0x20, 0x15, 0x81, Bytes{0x10, 0x16, 0x03});
    ASSERT_TRUE(VerifyReplyChecksum(raw));
    ReplyHeader header;
    Bytes data;
    ASSERT_TRUE(ParseReply(raw, header, data));
    EXPECT_EQ(header.status, 0x20);
    EXPECT_EQ(header.error, 0x15);
    EXPECT_EQ(header.extFlags, 0x81);
    EXPECT_EQ(data, (Bytes{0x10, 0x16, 0x03}));
    ReplyFlags flags = FlagsFromHeader(header);
    EXPECT_EQ(flags.shiftOver24h, -1);
    EXPECT_EQ(flags.clockError, 0);
    EXPECT_EQ(flags.serviceReportOpen, -1);
    EXPECT_EQ(flags.notPersonalized, -1);
    EXPECT_EQ(flags.noPaper, 0);
}

TEST(FrameCodec, EachHeaderFlagComesFromItsOwnBitAlone) {
    using Field = int16_t ReplyFlags::*;
    const struct {
        bool extended;
        int bit;
        Field flag; // null: the bit is no flag
    } cases[] = {
        {false, 3, &ReplyFlags::clockError},
        {false, 5, &ReplyFlags::shiftOver24h},
        {true, 0, &ReplyFlags::serviceReportOpen},
        {true, 1, &ReplyFlags::accident},
        {true, 2, &ReplyFlags::noPaper},
        {true, 7, &ReplyFlags::notPersonalized},
        {false, 0, nullptr},
        {false, 1, nullptr},
        {false, 2, nullptr},
        {false, 4, nullptr},
        {false, 6, nullptr},
        {false, 7, nullptr},
        {true, 3, nullptr},
        {true, 4, nullptr},
        {true, 5, nullptr},
        {true, 6, nullptr},
    };
    const Field all[] = {&ReplyFlags::clockError,        &ReplyFlags::shiftOver24h,
                         &ReplyFlags::serviceReportOpen, &ReplyFlags::accident,
                         &ReplyFlags::noPaper,           &ReplyFlags::notPersonalized};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.extended ? "extended" : "status") + " bit " +
                     std::to_string(c.bit));
        ReplyHeader header;
        (c.extended ? header.extFlags : header.status) = static_cast<uint8_t>(1u << c.bit);
        const ReplyFlags flags = FlagsFromHeader(header);
        for (Field field : all)
            EXPECT_EQ(flags.*field, field == c.flag ? -1 : 0);
    }
}

TEST(FrameCodec, ChecksumOfDleIsFoundBehindItsPair) {
    // Choose the command byte so that the reply checksum is 10.
    Bytes body{0x01, 0x00, 0x00, 0x00, 0x00, 0x10, 0x10};
    uint8_t sum = std::accumulate(body.begin(), body.end(), uint8_t{0});
    body[1] = static_cast<uint8_t>(0 - 0x10 - sum);
    Bytes raw = ReplyFrame(body);
    ASSERT_EQ(raw[raw.size() - 3], 0x10);
    ASSERT_EQ(raw[raw.size() - 4], 0x10);
    EXPECT_TRUE(EndsWithFrameEnd(raw)); // a run of seven (two data pairs, CS pair, marker)
    ReplyHeader header;
    Bytes data;
    ASSERT_TRUE(ParseReply(raw, header, data));
    EXPECT_EQ(data, (Bytes{0x10, 0x10}));
}

TEST(FrameCodec, RefusesBadChecksumShortPayloadAndBrokenShape) {
    ReplyHeader header{9, 9, 9, 9, 9};
    Bytes data{1};
    Bytes bad = StatusReply();
    bad[bad.size() - 3] ^= 0x01;
    EXPECT_FALSE(ParseReply(bad, header, data));
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(header.status, 9) << "a refused reply leaves the previous header";

    // Three payload bytes: shorter than the header.
    EXPECT_FALSE(ParseReply(ReplyFrame(Bytes{0x01, 0x00, 0x00}), header, data));
    // ACK-led bytes without any frame inside.
    EXPECT_FALSE(ParseReply(Bytes{0x06, 0x41, 0x10, 0x03}, header, data));
    // A lone DLE inside the frame.
    EXPECT_FALSE(ParseReply(Bytes{0x06, 0x10, 0x02, 0x01, 0x10, 0x41, 0x10, 0x03}, header, data));
    EXPECT_FALSE(ParseReply(Bytes{}, header, data));
    EXPECT_EQ(header.status, 9);
}

TEST(FrameCodec, AckEnqIsACompleteReplyThatKeepsTheHeader) {
    ReplyHeader header{1, 2, 3, 4, 5};
    Bytes data{7};
    EXPECT_TRUE(ParseReply(Bytes{0x06, 0x05}, header, data));
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(header.error, 4);
}

TEST_F(ScriptedLinkTest, SequenceRunsToFFThenWrapsToOne) {
    SetSequenceCounterForTesting(0xFE);
    for (int i = 0; i < 3; ++i)
        port.answers.push_back(StatusReply());
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    ASSERT_EQ(port.writes.size(), 3u);
    EXPECT_EQ(port.writes[0][2], 0xFF);
    EXPECT_EQ(port.writes[1][2], 0x01);
    EXPECT_EQ(port.writes[2][2], 0x02);
    EXPECT_EQ(port.purges, 3) << "every request purges the port first";
}

TEST_F(ScriptedLinkTest, SilenceCostsThreeTriesEachWithANewNumber) {
    SetSequenceCounterForTesting(0x10);
    EXPECT_FALSE(PrinterTransaction(Bytes{0x00}));
    ASSERT_EQ(port.writes.size(), 3u);
    EXPECT_EQ(port.writes[0][2], 0x11);
    EXPECT_EQ(port.writes[1][2], 0x12);
    EXPECT_EQ(port.writes[2][2], 0x13);
    EXPECT_FALSE(StandardResult(false));
    EXPECT_EQ(ErrorState().text, krv::platform::Utf8ToCp1251(kTimeoutText));
}

TEST_F(ScriptedLinkTest, SynFirstEndsTheTryAfterAWait) {
    port.answers.push_back(Bytes{0x16});
    port.answers.push_back(StatusReply());
    EXPECT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(clock.slept, kSynWait);
}

TEST_F(ScriptedLinkTest, SynAfterAckWaitsExtendsTheLimitAndStaysOutOfTheData) {
    Bytes reply = StatusReply(0, 0, 0, Bytes{0x42});
    reply.insert(reply.begin() + 1, 30, 0x16); // 30 x 300 ms: far past one reply limit
    port.answers.push_back(reply);
    port.gap = std::chrono::milliseconds(300); // each SYN comes after the last wait
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(clock.slept, 30 * kSynWait);
    EXPECT_EQ(LastReply().data, Bytes{0x42});
    EXPECT_EQ(LastReply().raw.size(), reply.size());
}

TEST_F(ScriptedLinkTest, SynInsideTheFrameIsDataWithoutWaiting) {
    Bytes data(200, 0x16);
    port.answers.push_back(StatusReply(0, 0, 0, data));
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(clock.slept.count(), 0);
    EXPECT_EQ(LastReply().data, data);
}

TEST_F(ScriptedLinkTest, LogoModeSkipsBusyBytesButKeepsDataBytes) {
    SetLogoMode(true);
    Bytes reply = StatusReply(0, 0, 0, Bytes{0x16, 0x01});
    reply.insert(reply.begin() + 1, 3, 0x16);
    reply.insert(reply.begin(), 2, 0x16);
    port.answers.push_back(reply);
    bool ok = PrinterTransaction(Bytes{0x01, 0x02}, true);
    SetLogoMode(false);
    ASSERT_TRUE(ok);
    EXPECT_EQ(clock.slept.count(), 0);
    EXPECT_EQ(LastReply().data, (Bytes{0x16, 0x01}));
    EXPECT_EQ(port.writes[0], (Bytes{0x01, 0x02, 0xFD})) << "a raw chunk has no frame";
    EXPECT_EQ(LastChecksum(), 0xFD);
    // A chunk longer than the printer takes is refused before anything is sent.
    EXPECT_FALSE(PrinterTransaction(Bytes(kMaxRawChunk + 1, 0x55), true));
    EXPECT_EQ(port.writes.size(), 1u);
}

TEST_F(ScriptedLinkTest, NakFrameCostsATryLoneNakWaitsForTheLimit) {
    port.answers.push_back(ReplyFrame(Bytes{1, 0, 0, 0, 0}, 0x15));
    port.answers.push_back(Bytes{0x15});
    port.answers.push_back(StatusReply());
    auto before = clock.now;
    EXPECT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(port.writes.size(), 3u);
    EXPECT_GT(clock.now - before, kReplyLimit) << "the lone NAK ends its try only at the limit";
}

TEST_F(ScriptedLinkTest, BadChecksumFailsWithoutAnotherTry) {
    Bytes bad = StatusReply();
    bad[bad.size() - 3] ^= 0x40;
    port.answers.push_back(bad);
    port.answers.push_back(StatusReply());
    EXPECT_FALSE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(port.writes.size(), 1u);
}

TEST_F(ScriptedLinkTest, ReplyEndingInALongDleRunCompletes) {
    // Four data DLEs and a checksum of 10: eleven DLE bytes before ETX.
    Bytes body{0x01, 0x00, 0x00, 0x00, 0x00, 0x10, 0x10, 0x10, 0x10};
    uint8_t sum = std::accumulate(body.begin(), body.end(), uint8_t{0});
    body[1] = static_cast<uint8_t>(0 - 0x10 - sum);
    port.answers.push_back(ReplyFrame(body));
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(LastReply().data, (Bytes{0x10, 0x10, 0x10, 0x10}));
}

TEST_F(ScriptedLinkTest, AckEnqKeepsThePreviousHeader) {
    port.answers.push_back(StatusReply(0x01, 0x10, 0x04));
    port.answers.push_back(Bytes{0x06, 0x05});
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(LastReply().header.status, 0x01);
    EXPECT_EQ(LastReply().header.error, 0x10);
    EXPECT_TRUE(LastReply().data.empty());
    EXPECT_EQ(LastReply().flags.noPaper, -1);
}

TEST_F(ScriptedLinkTest, UnframedReaderStopsWhenTheLineFallsIdle) {
    port.answers.push_back(Bytes{'O', 'K', '\r'});
    ASSERT_TRUE(WriteUnframed(Bytes{'~', '~', '#', '0', '0', '#'}));
    Bytes out;
    ASSERT_TRUE(ReceiveUntilIdle(out));
    EXPECT_EQ(out, (Bytes{'O', 'K', '\r'}));
    // Nothing at all: the reply limit ends the wait.
    ASSERT_TRUE(WriteUnframed(Bytes{'~'}));
    EXPECT_FALSE(ReceiveUntilIdle(out));
    EXPECT_TRUE(out.empty());
}

TEST(LinkWithoutPort, FailsAtOnceWithTheTimeoutText) {
    krv::test::FakeClock clock;
    SetLinkClockForTesting(&clock);
    FPClose();
    auto before = clock.now;
    EXPECT_FALSE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(clock.now, before) << "no reads, no waits";
    EXPECT_FALSE(StandardResult(false));
    EXPECT_EQ(krv::platform::Cp1251ToUtf8(FPErrorMessage()), kTimeoutText);
    SetLinkClockForTesting(nullptr);
}

TEST(ReplyLimit, TheTestVariableCanOnlyShortenIt) {
    const struct {
        const char *text;
        long long ms;
    } cases[] = {
        {nullptr, kReplyLimit.count()},
        {"300", 300},
        {"1", 1},
        {"5184", 5184},
        {"5185", 5184},
        {"0", 5184},
        {"-5", 5184},
        {"", 5184},
        {"300ms", 5184},
        {" 300", 5184},
        {"99999999999999999999", 5184},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReplyLimitFrom(c.text).count(), c.ms) << (c.text ? c.text : "<unset>");
}

// Device data is untrusted: random and cut replies must parse or be refused
// without reading outside them (the sanitizer build watches), and every well
// formed reply must give back exactly its data.
TEST(FrameCodec, RandomAndCutRepliesNeverReadOutside) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 3000; ++round) {
        Bytes data(random() % 40);
        for (auto &b : data)
            b = static_cast<uint8_t>(random() % 4 == 0 ? 0x10 : random());
        Bytes raw =
            StatusReply(static_cast<uint8_t>(random()), static_cast<uint8_t>(random()), 0, data);
        ReplyHeader header;
        Bytes parsed;
        ASSERT_TRUE(EndsWithFrameEnd(raw));
        ASSERT_TRUE(ParseReply(raw, header, parsed));
        ASSERT_EQ(parsed, data);
        // Every shorter cut, and random noise, is refused or parsed, never overrun.
        Bytes cut(raw.begin(), raw.begin() + static_cast<long>(random() % raw.size()));
        (void)ParseReply(cut, header, parsed);
        (void)VerifyReplyChecksum(cut);
        Bytes noise(random() % 24);
        for (auto &b : noise)
            b = static_cast<uint8_t>(random() % 3 == 0 ? 0x10 : random() % 8);
        (void)ParseReply(noise, header, parsed);
        (void)EndsWithFrameEnd(noise);
        (void)CheckReplyShape(noise);
    }
}

// A busy printer costs its busy time and one wait, however densely its SYNs
// come; SYNs among other bytes before a frame are noise that restarts nothing.
TEST_F(ScriptedLinkTest, BusySynsCostTheBusyTimeAndOneWait) {
    struct Case {
        int syns;
        int gapMs;
    } cases[] = {{400, 0}, {450, 100}, {40, 30}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.syns);
        Bytes reply = StatusReply(0, 0, 0, Bytes{0x42});
        reply.insert(reply.begin() + 1, static_cast<size_t>(c.syns), 0x16);
        port.answers.push_back(reply);
        port.gap = std::chrono::milliseconds(c.gapMs);
        const auto before = clock.now;
        const size_t writes = port.writes.size();
        ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
        EXPECT_EQ(port.writes.size(), writes + 1);
        EXPECT_EQ(LastReply().data, Bytes{0x42});
        const auto busy = std::chrono::milliseconds(c.gapMs) * reply.size();
        EXPECT_LE(clock.now - before, busy + kSynWait + std::chrono::milliseconds(100));
    }
}

TEST_F(ScriptedLinkTest, NoiseBeforeAFrameNeitherWaitsNorRestartsTheLimit) {
    std::mt19937 random(7);
    for (int i = 0; i < kTries; ++i) {
        Bytes noise{0x41};
        for (int n = 0; n < 6000; ++n) // a minute at 10 ms a byte
            noise.push_back(random() % 4 == 0 ? 0x16 : static_cast<uint8_t>(0x40 + random() % 8));
        port.answers.push_back(noise);
    }
    port.gap = std::chrono::milliseconds(10);
    const auto before = clock.now;
    EXPECT_FALSE(LinkResult(PrinterTransaction(Bytes{0x00})));
    EXPECT_EQ(clock.slept.count(), 0);
    EXPECT_LE(clock.now - before, kTries * (kReplyLimit + port.readTimeout));
    EXPECT_EQ(krv::platform::Cp1251ToUtf8(FPErrorMessage()), kTimeoutText);
}

// A frame that never ends and a modem that floods text stop at their bound,
// at once and without another try, with the format text.
TEST_F(ScriptedLinkTest, RepliesPastTheirBoundFailAtOnceWithTheFormatText) {
    Bytes endless{0x06, 0x10, 0x02};
    endless.insert(endless.end(), 100000, 0x41);
    port.answers.push_back(endless);
    EXPECT_FALSE(LinkResult(PrinterTransaction(Bytes{0x00})));
    EXPECT_EQ(port.writes.size(), 1u);
    EXPECT_EQ(LastLinkFault(), LinkFault::ReplyTooLong);
    EXPECT_LE(LastReply().raw.size(), kMaxReplyBytes + 1);
    EXPECT_EQ(krv::platform::Cp1251ToUtf8(FPErrorMessage()), kReplyFormatText);

    port.answers.push_back(Bytes(kMaxModemReplyBytes * 4, 'x'));
    port.perByte = std::chrono::milliseconds(0); // a pty floods faster than any line
    const char *text = "untouched";
    EXPECT_EQ(L5GetStateText(&text), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(krv::platform::Cp1251ToUtf8(FPErrorMessage()), kReplyFormatText);
    // A real answer of the longest kind still comes through whole.
    port.answers.push_back(Bytes(190, 'y'));
    ASSERT_EQ(L5GetStateText(&text), -1);
    EXPECT_EQ(std::string(text), std::string(190, 'y'));
}
