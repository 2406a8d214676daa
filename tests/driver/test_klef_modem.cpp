// Electronic control tape, the 72-hour lock and the modem's text queries.
#include "support_link.h"

#include "codepage.h"
#include "values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using krv::emu::Fault;
using krv::emu::FaultSpec;
using krv::test::EmulatorTest;
using krv::test::ScriptedLinkTest;

double Moment(int y, int mo, int d, int h, int mi, int s) {
    return *krv::drv::EncodeDate({y, mo, d}) + *krv::drv::EncodeTime({h, mi, s});
}

class TapeTest : public EmulatorTest {
  protected:
    void AddPackets(uint32_t count) {
        auto lock = Emu().Lock();
        Emu().State().ext.AddPackets(count);
    }
};

// ---- tape status ----------------------------------------------------------------------

TEST_F(TapeTest, StatusReportsPacketsAndFreeSpace) {
    {
        auto lock = Emu().Lock();
        auto &ext = Emu().State().ext;
        ext.WriteLe(0x10, 0x003F, 0x01000000, 4);
        ext.AddPackets(3);
    }
    int32_t first = 0, last = 0;
    uint16_t free = 0;
    ASSERT_EQ(FPGetStatusKLEF(&first, &last, &free), -1)
        << krv::platform::Cp1251ToUtf8(FPErrorMessage());
    EXPECT_EQ(LastRequest(), Bytes{0x33});
    EXPECT_EQ(first, 0x01000001);
    EXPECT_EQ(last, 0x01000003);
    EXPECT_EQ(free, 60000 - 3 * 120);
}

TEST_F(TapeTest, StatusShortReplyIsAFailureAndLeavesTheOutputs) {
    AddPackets(2);
    Emu().QueueFault(FaultSpec{Fault::TruncatedData, 1, 9});
    int32_t first = -1, last = -1;
    uint16_t free = 7;
    EXPECT_EQ(FPGetStatusKLEF(&first, &last, &free), 0);
    EXPECT_EQ(ErrorText(), "Ответная посылка не соответствует формату данных!");
    EXPECT_EQ(first, -1);
    EXPECT_EQ(last, -1);
    EXPECT_EQ(free, 7);
}

// ---- clear, acknowledge, lock ------------------------------------------------------------

TEST_F(TapeTest, ClearSendsTheLastPacketAndTheRefusalIsAFailure) {
    AddPackets(10);
    ASSERT_EQ(FPClrKLEF(0, 4), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x37, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00}));
    {
        auto lock = Emu().Lock();
        EXPECT_EQ(Emu().State().ext.firstPacket, 5u);
    }
    // Packet 2 is gone already: the printer refuses with code 30.
    EXPECT_EQ(FPClrKLEF(0, 2), 0);
    EXPECT_EQ(ErrorText(), "\r\nНеправильный номер данных КЛЭФ");
    uint8_t code = 0, status = 0, ext = 0;
    FPCodeError(&code, &status, &ext);
    EXPECT_EQ(code, 0x30);
}

TEST_F(TapeTest, TapeCommandsIgnoreTheStatusByte) {
    AddPackets(10);
    // A printer out of time for its tape still takes them.
    Emu().SetHeaderOverride({0x02, std::nullopt, std::nullopt});
    EXPECT_EQ(FPClrKLEF(0, 3), -1) << ErrorText();
    EXPECT_EQ(FPAckKLEF(0, 4, 5, Moment(2026, 12, 8, 10, 0, 0)), -1) << ErrorText();
    EXPECT_EQ(FPSet72Lock(0, Moment(2026, 12, 8, 10, 0, 0), -1), -1) << ErrorText();
    int32_t first = 0, last = 0;
    uint16_t free = 0;
    EXPECT_EQ(FPGetStatusKLEF(&first, &last, &free), -1);
    // A refusal code is not ignored, whatever the status.
    Emu().SetHeaderOverride({0x02, 0x15, std::nullopt});
    EXPECT_EQ(FPAckKLEF(0, 4, 5, Moment(2026, 12, 8, 10, 0, 0)), 0);
    EXPECT_EQ(FPSet72Lock(0, Moment(2026, 12, 8, 10, 0, 0), 0), 0);
}

TEST_F(TapeTest, AcknowledgeSendsPacketNumbersAndTheMoment) {
    AddPackets(400);
    {
        auto lock = Emu().Lock();
        Emu().State().ext.SetPassword(9, 0x0201);
    }
    ASSERT_EQ(FPAckKLEF(0x0201, 1, 300, Moment(2006, 3, 14, 15, 4, 5)), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x38, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x2C, 0x01, 0x00,
                                    0x00, 0x14, 0x03, 0x06, 0x15, 0x04, 0x05}));
}

TEST_F(TapeTest, LockExtendsOrRemoves) {
    const double moment = Moment(2006, 3, 14, 15, 4, 5);
    ASSERT_EQ(FPSet72Lock(0, moment, 0), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x3A, 0x00, 0x00, 0x14, 0x03, 0x00, 0x15, 0x04, 0x05}));
    ASSERT_EQ(FPSet72Lock(0, moment, -1), -1) << ErrorText();
    EXPECT_EQ(LastRequest(), (Bytes{0x3A, 0x00, 0x00, 0x14, 0x03, 0x06, 0x15, 0x04, 0x05}));
    // The printer keeps the next lock, 72 hours on, where the lock record lives.
    uint8_t record[5] = {};
    const uint8_t length = 5;
    ASSERT_EQ(FPGetMemoryData(record, 4, &length, 0x0044, 0x10), -1);
    EXPECT_EQ(Bytes(record, record + 5), (Bytes{0x17, 0x03, 0x06, 0x15, 0x04}));
    ASSERT_EQ(FPSet72Lock(0, moment, 0), -1);
    ASSERT_EQ(FPGetMemoryData(record, 4, &length, 0x0044, 0x10), -1);
    EXPECT_EQ(Bytes(record, record + 5), Bytes(5, 0));
}

TEST_F(TapeTest, TimesOfDayAreSentInTwentyFourHourForm) {
    ASSERT_EQ(FPSet72Lock(0, Moment(2026, 1, 2, 0, 30, 0), -1), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x3A, 0x00, 0x00, 0x02, 0x01, 0x26, 0x00, 0x30, 0x00}));
    ASSERT_EQ(FPSet72Lock(0, Moment(2026, 1, 2, 12, 30, 0), -1), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x3A, 0x00, 0x00, 0x02, 0x01, 0x26, 0x12, 0x30, 0x00}));
    ASSERT_EQ(FPSet72Lock(0, Moment(2026, 1, 2, 15, 7, 9), -1), -1);
    EXPECT_EQ(LastRequest(), (Bytes{0x3A, 0x00, 0x00, 0x02, 0x01, 0x26, 0x15, 0x07, 0x09}));
}

TEST_F(TapeTest, MomentsThatAreNoDateAreRefusedBeforeSending) {
    // The last one rounds to the midnight after 31 December 9999.
    for (double bad : {std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity(), 1e12, -1e12, 2958465.999999999}) {
        EXPECT_EQ(FPSet72Lock(0, bad, -1), 0);
        EXPECT_EQ(ErrorText(), "Ошибка формата даты!");
        EXPECT_EQ(FPAckKLEF(0, 1, 2, bad), 0);
        EXPECT_EQ(ErrorText(), "Ошибка формата даты!");
    }
    EXPECT_TRUE(Emu().Requests().empty());
}

// ---- modem queries through the emulated modem ----------------------------------------------

TEST_F(TapeTest, ModemTextAndStateReplies) {
    const char *text = nullptr;
    ASSERT_EQ(L5GetStateText(&text), -1);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "KRV-L5 v1.07\r\nGSM: OK\r\nSIM: READY\r\nSIGNAL: 21\r\n");
    EXPECT_EQ(Emu().TextQueries(), (std::vector<std::string>{"~~#00#"}));

    {
        auto lock = Emu().Lock();
        auto &state = Emu().State().ext.modemState;
        state.assign(77, 0);
        state[0] = 0x4C;
        for (size_t i = 1; i < state.size(); ++i)
            state[i] = static_cast<uint8_t>(i);
    }
    int16_t count = 0;
    std::vector<uint8_t> buffer(200, 0xEE);
    ASSERT_EQ(L5GetStateStruct(&count, buffer.data(), 199), -1);
    EXPECT_EQ(Emu().TextQueries().back(), "~~#01#");
    EXPECT_EQ(count, 76);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[75], 76);
    EXPECT_EQ(buffer[76], 0xEE);
}

TEST_F(TapeTest, ModemStateOfOneByteAndOneTooLargeForTheBuffer) {
    {
        auto lock = Emu().Lock();
        Emu().State().ext.modemState = {0xBD};
    }
    int16_t count = 0;
    uint8_t buffer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(L5GetStateStruct(&count, buffer, 7), -1);
    EXPECT_EQ(count, 189);
    EXPECT_EQ(buffer[0], 0xEE);

    {
        auto lock = Emu().Lock();
        auto &state = Emu().State().ext.modemState;
        state.assign(190, 0x11);
        state[0] = 0xBD;
    }
    // Six bytes of room: the driver stops there and says so.
    EXPECT_EQ(L5GetStateStruct(&count, buffer, 5), 0);
    EXPECT_FALSE(ErrorText().empty());
    EXPECT_EQ(buffer[5], 0x11);
    EXPECT_EQ(buffer[6], 0xEE);
}

// ---- the modem's tries, on a scripted line ------------------------------------------------------

class ModemLinkTest : public ScriptedLinkTest {};

TEST_F(ModemLinkTest, QueryIsTriedThreeTimes) {
    port.answers = {{}, {}, {'O', 'K', '\r', '\n'}};
    const char *text = nullptr;
    ASSERT_EQ(L5GetStateText(&text), -1);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "OK\r\n");
    ASSERT_EQ(port.writes.size(), 3u);
    for (const auto &write : port.writes)
        EXPECT_EQ(write, (Bytes{'~', '~', '#', '0', '0', '#'}));
    EXPECT_GE(port.purges, 3);
}

TEST_F(ModemLinkTest, SilentModemAfterThreeTries) {
    const char *text = "stale";
    EXPECT_EQ(L5GetStateText(&text), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(krv::platform::Cp1251ToUtf8(FPErrorMessage()), "Модем не отвечает!");
    EXPECT_EQ(port.writes.size(), 3u);

    int16_t count = 5;
    uint8_t buffer[4] = {};
    EXPECT_EQ(L5GetStateStruct(&count, buffer, 3), 0);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(port.writes.size(), 6u);
    EXPECT_EQ(port.writes.back(), (Bytes{'~', '~', '#', '0', '1', '#'}));
}

} // namespace
