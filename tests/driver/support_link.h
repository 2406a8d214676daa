// Test support for the driver: an emulator on a pty reached through the
// driver's own COM mapping, and a scripted port with a clock that never
// really waits.
#pragma once

#include "KRV_T100DRV.h"
#include "emulator.h"
#include "link.h"
#include "serial_port.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace krv::test {

// Starts an emulator with every command it knows, points KRV_COM<kPort> at its
// pty and opens the driver on it at 9600 baud with the console's 300 ms
// time-outs.
class EmulatorTest : public ::testing::Test {
  protected:
    static constexpr uint8_t kPort = 200;

    void SetUp() override;
    void TearDown() override;
    virtual krv::emu::EmulatorOptions Options() { return {}; }

    krv::emu::PrinterEmulator &Emu() { return *m_emulator; }
    // How many requests the emulator has received.
    size_t RequestCount() { return Emu().Requests().size(); }
    // The last request the emulator received (command byte first).
    std::vector<uint8_t> LastRequest();
    // The driver's last error text, in UTF-8.
    std::string ErrorText();

  private:
    std::unique_ptr<krv::emu::PrinterEmulator> m_emulator;
};

// A clock that moves only when the link sleeps or reads: each read costs
// `perRead` of fake time, so time limits pass without real waiting.
class FakeClock final : public krv::drv::LinkClock {
  public:
    std::chrono::milliseconds now{1000000};
    std::chrono::milliseconds slept{0};
    std::chrono::milliseconds Now() override { return now; }
    void Sleep(std::chrono::milliseconds d) override {
        now += d;
        slept += d;
    }
};

// A port whose replies are scripted: each write consumes the next scripted
// answer, whose bytes are then read one at a time; an empty read advances the
// fake clock by the read time-out. Byte i of an answer arrives `gap` * i after
// the write (all at once by default).
class ScriptedPort final : public krv::platform::SerialIo {
  public:
    explicit ScriptedPort(FakeClock &clock) : m_clock(clock) {}
    std::vector<std::vector<uint8_t>> writes;
    std::deque<std::vector<uint8_t>> answers; // one per write; missing = silence
    int purges = 0;
    std::chrono::milliseconds readTimeout{300};
    std::chrono::milliseconds perByte{1};
    std::chrono::milliseconds gap{0};

    int ReadByte(uint8_t &byte) override;
    size_t SkipArrived(uint8_t value) override;
    size_t Write(std::span<const uint8_t> data) override;
    bool Purge(bool output, bool input) override;
    bool IsOpen() const override { return true; }

  private:
    std::chrono::milliseconds Arrival(size_t pos) const { return m_writeTime + gap * pos; }

    FakeClock &m_clock;
    std::vector<uint8_t> m_current;
    size_t m_pos = 0;
    std::chrono::milliseconds m_writeTime{0};
};

// Installs a scripted port and a fake clock behind the link for one test.
class ScriptedLinkTest : public ::testing::Test {
  protected:
    FakeClock clock;
    ScriptedPort port{clock};
    void SetUp() override;
    void TearDown() override;
};

// Text as callers hand it to the driver (Windows-1251) and as it goes on the
// wire (the printer's OEM code page), from UTF-8 test literals.
std::string Cp(const std::string &utf8);
std::vector<uint8_t> Oem(const std::string &utf8);

// Bytes followed by the bytes of a text.
std::vector<uint8_t> Concat(std::vector<uint8_t> head, std::string_view tail);

// A framed reply as the printer sends it: ACK, DLE STX, stuffed body and
// checksum, DLE ETX. Written here independently of the driver's codec.
std::vector<uint8_t> ReplyFrame(std::vector<uint8_t> body, uint8_t lead = 0x06);

} // namespace krv::test
