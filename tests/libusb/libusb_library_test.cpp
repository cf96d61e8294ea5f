// The whole library on a real-time board behind libusb: the port table and the board commands
// over the libusb backend, the emulated kernel device and the demo board's firmware.
#include "emulated/world.h"
#include "libusb/libusb_fixture.h"

namespace tarvex::libusbtest {
namespace {

using LibusbLibrary = LibusbTest;

TEST_F(LibusbLibrary, PingPortAndAShortCaptureRunThroughTheWholeLibrary) {
    EmulatedUsbDevice& board = plugBoard(emulated::makeDemoFirmware());
    ASSERT_EQ(u_GetDeviceCount(), 1);
    ASSERT_EQ(openPort(0), 1);

    std::uint8_t pong[20] = {};
    EXPECT_EQ(u_Ping(0, pong), XFER_OK);
    Bytes ping = board.written().back();
    ASSERT_EQ(ping.size(), 64u);
    EXPECT_EQ(ping[0], CMD_SYSTEM);
    EXPECT_EQ(ping[1], DIR_GET);
    EXPECT_EQ(ping[3], SYS_PING);

    EXPECT_EQ(u_SetPort(0, 9, 0xBEEF), XFER_OK);
    std::uint16_t value = 0;
    EXPECT_EQ(u_GetPort(0, 9, &value), XFER_OK);
    EXPECT_EQ(value, 0xBEEF);
    Bytes get = board.written().back();
    EXPECT_EQ((Bytes{get[0], get[1], get[3]}), (Bytes{CMD_PORT, DIR_GET, 9}));

    std::uint16_t samples[4 * SAMPLES_PER_PACKET] = {};
    ScopeStats stats{};
    const std::size_t before = board.written().size();
    EXPECT_EQ(u_GetScopeSamples(0, 4, samples, &stats), 1);
    EXPECT_EQ(stats.okCount, 4);
    EXPECT_EQ(stats.failCount, 0);
    EXPECT_EQ(stats.shortCount, 0);
    EXPECT_EQ(stats.sampleCount, 4u * SAMPLES_PER_PACKET);
    const std::vector<Bytes> written = board.written();
    ASSERT_GE(written.size(), before + 4);
    for (std::size_t i = written.size() - 4; i < written.size(); ++i) {
        EXPECT_EQ(written[i][0], CMD_SCOPE);
        EXPECT_EQ(written[i][1], DIR_GET);
    }

    EXPECT_EQ(CloseUSBPort(0), 1);
    EXPECT_FALSE(board.interfaceClaimed());
}

// A firmware that sends every reply as a whole 64-byte packet: the get commands read 3 or 20
// bytes of it.
TEST_F(LibusbLibrary, GetCommandsPassAgainstABoardThatPadsItsReplies) {
    DeviceSpec spec;
    spec.firmware = emulated::makeDemoFirmware();
    spec.padReplies = true;
    testbed().plug(std::move(spec));
    ASSERT_EQ(OpenUSBPort(0), 1);

    std::uint8_t pong[20] = {};
    EXPECT_EQ(u_Ping(0, pong), XFER_OK);
    EXPECT_EQ(u_SetPort(0, 9, 0xBEEF), XFER_OK);
    std::uint16_t value = 0;
    EXPECT_EQ(u_GetPort(0, 9, &value), XFER_OK);
    EXPECT_EQ(value, 0xBEEF);
    std::uint8_t status[4] = {};
    EXPECT_EQ(u_GetStatus(0, status), XFER_OK);
    std::uint16_t samples[2 * SAMPLES_PER_PACKET] = {};
    ScopeStats stats{};
    EXPECT_EQ(u_GetScopeSamples(0, 2, samples, &stats), 1);
    EXPECT_EQ(stats.okCount, 2);
    EXPECT_EQ(stats.failCount, 0);
}

TEST_F(LibusbLibrary, ASilentBoardFailsTheExchangeAndLeavesThePortOpen) {
    EmulatedUsbDevice& board = plugBoard();
    ASSERT_EQ(openPort(0), 1);
    const Bytes packet = commandPacket(CMD_PORT, DIR_GET, 3);
    std::uint8_t reply[3] = {};
    std::uint32_t replyLength = 3;
    EXPECT_EQ(SendReceiveUSBPacket(0, packet.data(), 64, reply, &replyLength, 250, 100), XFER_FAIL);
    EXPECT_EQ(replyLength, 0u);
    EXPECT_EQ(board.written().size(), 1u);

    // Not reopened: the next exchange goes through the same row.
    board.queueReply({0, 0x34, 0x12});
    replyLength = 3;
    EXPECT_EQ(SendReceiveUSBPacket(0, packet.data(), 64, reply, &replyLength, 250, 100), XFER_OK);
    EXPECT_EQ(replyLength, 3u);
    EXPECT_EQ(board.claims(), 1);
    EXPECT_EQ(board.written().size(), 2u);
}

TEST_F(LibusbLibrary, AnUnpluggedBoardFailsTheCommandsAndItsPortStillCloses) {
    EmulatedUsbDevice& board = plugBoard(emulated::makeDemoFirmware());
    ASSERT_EQ(openPort(0), 1);
    std::uint16_t value = 0;
    ASSERT_EQ(u_GetPort(0, 3, &value), XFER_OK);

    testbed().unplug(board);
    EXPECT_EQ(u_GetPort(0, 3, &value), XFER_FAIL);
    EXPECT_EQ(lastError(), platform::kErrorDeviceNotConnected);
    EXPECT_EQ(u_GetDeviceCount(), 0);
    EXPECT_EQ(CloseUSBPort(0), 1);
}

// No window system is assumed: the box's caption and text go to standard error, and it counts as
// acknowledged.
TEST_F(LibusbLibrary, TheAboutBoxIsWrittenToStandardErrorAndAcknowledged) {
    ::testing::internal::CaptureStderr();
    StdoutCapture output;
    EXPECT_EQ(os().messageBox("Line one", "Caption", platform::kMbOk), 1);  // IDOK
    EXPECT_EQ(u_About(), 1);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(output.take(), "");
    const std::string first = "Caption\n\nLine one\n";
    EXPECT_EQ(errors.substr(0, first.size()), first);
    EXPECT_GT(errors.size(), first.size());  // the about box after it
}

}  // namespace
}  // namespace tarvex::libusbtest
