// The link end to end: the driver on a real pty against the emulator.
#include "support_link.h"

#include "errors.h"
#include "link.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace krv::drv;
using krv::emu::Fault;
using krv::emu::FaultSpec;
using krv::test::EmulatorTest;
using Bytes = std::vector<uint8_t>;

TEST_F(EmulatorTest, ExchangesAFrameAndRecordsThePayload) {
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    ASSERT_TRUE(PrinterTransaction(Bytes{0x2A, 0x10, 0x10, 0x03}));
    auto requests = Emu().Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], Bytes{0x00});
    EXPECT_EQ(requests[1], (Bytes{0x2A, 0x10, 0x10, 0x03}));
    EXPECT_EQ(LastReply().header.command, 0x2A);
    EXPECT_EQ(LastReply().header.sequence, SequenceCounter());
}

TEST_F(EmulatorTest, RetriesAfterSynFirstAndNakFrame) {
    Emu().QueueFault(Fault::SynFirst);
    Emu().QueueFault(Fault::NakFrame);
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(Emu().Requests().size(), 3u);
}

TEST_F(EmulatorTest, SynAfterAckStillGivesTheReply) {
    Emu().QueueFault(FaultSpec{Fault::SynAfterAck, 3, 0});
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(Emu().Requests().size(), 1u);
}

TEST_F(EmulatorTest, BadChecksumAndShortPayloadFailAtOnce) {
    Emu().QueueFault(Fault::BadChecksum);
    EXPECT_FALSE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(Emu().Requests().size(), 1u);
    Emu().QueueFault(Fault::ShortPayload);
    EXPECT_FALSE(StandardResult(PrinterTransaction(Bytes{0x00})));
    EXPECT_EQ(Emu().Requests().size(), 2u);
    EXPECT_EQ(ErrorText(), kTimeoutText);
}

TEST_F(EmulatorTest, AckEnqIsASuccessWithNoData) {
    Emu().QueueFault(Fault::AckEnq);
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_TRUE(LastReply().data.empty());
}

TEST_F(EmulatorTest, StatusAndErrorBytesReachTheResultRules) {
    Emu().SetHeaderOverride({0x20, 0x00, 0x00});
    EXPECT_TRUE(StandardResult(PrinterTransaction(Bytes{0x00})));
    EXPECT_NE(ErrorText().find("Превышение продолжительности смены"), std::string::npos);
    EXPECT_FALSE(StrictResult(PrinterTransaction(Bytes{0x00})));
    Emu().SetHeaderOverride({0x00, 0x15, 0x00});
    EXPECT_FALSE(StandardResult(PrinterTransaction(Bytes{0x00})));
    uint8_t code = 0, status = 0xFF, ext = 0xFF;
    EXPECT_EQ(FPCodeError(&code, &status, &ext), -1);
    EXPECT_EQ(code, 0x15);
    EXPECT_EQ(status, 0x00);
    EXPECT_EQ(ext, 0x00);
    EXPECT_EQ(ErrorText(), "\r\nНеверный пароль");
}

TEST_F(EmulatorTest, ReopeningAndBadRatesLeaveThePortClosed) {
    EXPECT_EQ(FPInit(kPort, 19200, 3, 3), -1) << "an open port is closed and opened again";
    ASSERT_TRUE(PrinterTransaction(Bytes{0x00}));
    EXPECT_EQ(FPInit(kPort, 0, 3, 3), 0);
    EXPECT_FALSE(LinkIsOpen());
    EXPECT_EQ(FPInit(kPort, 12345, 3, 3), 0);
    EXPECT_FALSE(LinkIsOpen());
    EXPECT_EQ(FPClose(), 0) << "nothing left to close";
    EXPECT_EQ(FPInit(kPort, 38400, 3, 3), -1);
    EXPECT_TRUE(PrinterTransaction(Bytes{0x00}));
}

TEST(ComMapping, EnvironmentVariableNamesTheDevice) {
    ::setenv("KRV_COM7", "/tmp/some-pty", 1);
    EXPECT_EQ(krv::platform::ComDevicePath(7), "/tmp/some-pty");
    ::unsetenv("KRV_COM7");
    EXPECT_EQ(krv::platform::ComDevicePath(7), "/dev/ttyS6");
    EXPECT_EQ(krv::platform::ComDevicePath(256), "/dev/ttyS255");
    ::setenv("KRV_COM9", "/nonexistent/port", 1);
    EXPECT_EQ(FPInit(9, 9600, 3, 3), 0);
    ::unsetenv("KRV_COM9");
}

// The emulator's link: one a stopped emulator left is taken over, a file
// under that name is refused and kept, and an emulator that ends removes the
// link only while it still leads to its own pty.
TEST(EmulatorLink, TakesOverOnlyALinkAndRemovesOnlyItsOwn) {
    char pattern[] = "/tmp/krv-emulator-link-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path folder = pattern;
    const std::string link = (folder / "com1").string();
    krv::emu::EmulatorOptions options;
    options.linkPath = link;

    std::filesystem::create_symlink("/nonexistent/pts", link);
    auto first = std::make_unique<krv::emu::PrinterEmulator>(options);
    ASSERT_TRUE(first->Start());
    EXPECT_EQ(std::filesystem::read_symlink(link), first->SlavePath());
    // A second emulator takes the name: the first one's end leaves it.
    krv::emu::PrinterEmulator second(options);
    ASSERT_TRUE(second.Start());
    first.reset();
    EXPECT_EQ(std::filesystem::read_symlink(link), second.SlavePath());
    second.Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

    std::ofstream(link) << "a user's file";
    krv::emu::PrinterEmulator refused(options);
    EXPECT_FALSE(refused.Start());
    EXPECT_EQ(errno, EEXIST);
    refused.Stop();
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(folder);
}
