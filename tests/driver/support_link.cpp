#include "support_link.h"

#include "codepage.h"
#include "errors.h"

#include <algorithm>
#include <cstdlib>

namespace krv::test {

void EmulatorTest::SetUp() {
    m_emulator = std::make_unique<krv::emu::PrinterEmulator>(Options());
    krv::emu::RegisterAllCommands(*m_emulator);
    ASSERT_TRUE(m_emulator->Start());
    std::string var = "KRV_COM" + std::to_string(kPort);
    ::setenv(var.c_str(), m_emulator->SlavePath().c_str(), 1);
    ASSERT_EQ(FPInit(kPort, 9600, 3, 3), -1);
}

void EmulatorTest::TearDown() {
    FPClose();
    if (m_emulator)
        m_emulator->Stop();
}

std::vector<uint8_t> EmulatorTest::LastRequest() {
    auto requests = m_emulator->Requests();
    return requests.empty() ? std::vector<uint8_t>{} : requests.back();
}

std::string EmulatorTest::ErrorText() {
    return krv::platform::Cp1251ToUtf8(FPErrorMessage());
}

int ScriptedPort::ReadByte(uint8_t &byte) {
    if (m_pos < m_current.size() && Arrival(m_pos) <= m_clock.now + readTimeout) {
        m_clock.now = std::max(m_clock.now, Arrival(m_pos)) + perByte;
        byte = m_current[m_pos++];
        return 1;
    }
    m_clock.now += readTimeout;
    return 0;
}

size_t ScriptedPort::SkipArrived(uint8_t value) {
    size_t skipped = 0;
    while (m_pos < m_current.size() && Arrival(m_pos) <= m_clock.now && m_current[m_pos] == value) {
        ++m_pos;
        ++skipped;
    }
    return skipped;
}

size_t ScriptedPort::Write(std::span<const uint8_t> data) {
    writes.emplace_back(data.begin(), data.end());
    m_current.clear();
    m_pos = 0;
    m_writeTime = m_clock.now;
    if (!answers.empty()) {
        m_current = std::move(answers.front());
        answers.pop_front();
    }
    return data.size();
}

bool ScriptedPort::Purge(bool, bool) {
    ++purges;
    return true;
}

void ScriptedLinkTest::SetUp() {
    krv::drv::SetLinkIoForTesting(&port);
    krv::drv::SetLinkClockForTesting(&clock);
}

void ScriptedLinkTest::TearDown() {
    krv::drv::SetLinkIoForTesting(nullptr);
    krv::drv::SetLinkClockForTesting(nullptr);
}

std::string Cp(const std::string &utf8) {
    return krv::platform::Utf8ToCp1251(utf8);
}

std::vector<uint8_t> Oem(const std::string &utf8) {
    const std::string oem = krv::platform::AnsiToOem(Cp(utf8));
    return std::vector<uint8_t>(oem.begin(), oem.end());
}

std::vector<uint8_t> Concat(std::vector<uint8_t> head, std::string_view tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::vector<uint8_t> ReplyFrame(std::vector<uint8_t> body, uint8_t lead) {
    std::vector<uint8_t> out{lead, 0x10, 0x02};
    uint8_t sum = 0;
    auto put = [&](uint8_t b) {
        out.push_back(b);
        if (b == 0x10)
            out.push_back(0x10);
    };
    for (uint8_t b : body) {
        put(b);
        sum = static_cast<uint8_t>(sum + b);
    }
    put(static_cast<uint8_t>(0 - sum));
    out.push_back(0x10);
    out.push_back(0x03);
    return out;
}

} // namespace krv::test
