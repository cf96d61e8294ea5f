// System commands: the About box, the API revision, the device count, and the bytes that ping,
// the resets and the device id put on the wire.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

#include "commands/packet.h"
#include "support/board_fixture.h"
#include "port/port_table.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using emulated::Board;
using platform::Handle;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) found.push_back(line);
    return found;
}

class SystemCommands : public EmulatedBoardTest {
protected:
    SystemCommands() { firmware->standing[CMD_SYSTEM] = pattern(20); }
    void openBoard() {
        ASSERT_EQ(openPort(0), 1);
        spy.clear();
    }
};

TEST_F(SystemCommands, AboutShowsTheLibrarysMessageBox) {
    EXPECT_EQ(u_About(), 1) << "the message box's result";
    ASSERT_EQ(world.messageBoxes().size(), 1u);
    const auto& box = world.messageBoxes()[0];
    EXPECT_EQ(box.caption, "About Tarvex API");
    EXPECT_EQ(box.style, 0x40u) << "OK button, information icon";
    const auto text = lines(box.text);
    ASSERT_EQ(text.size(), 3u) << box.text;
    EXPECT_EQ(box.text.find('\r'), std::string::npos) << "lines end with a line feed only";
    EXPECT_EQ(text[0], "Tarvex device API");
    EXPECT_FALSE(text[1].empty());
    EXPECT_NE(text[2].find("http"), std::string::npos) << "the maker's web address";
    EXPECT_EQ(spy.fileCalls(), 0u);
}

TEST_F(SystemCommands, TheApiRevisionIs4096) {
    EXPECT_EQ(u_GetAPIRev(), 4096);
    EXPECT_TRUE(spy.calls.empty());
}

TEST_F(SystemCommands, TheDeviceCountNeedsNoOpenIndexAndOpensNothing) {
    world.plugDevice(0x1234, 0x5678);
    Board& second = world.plugBoard(std::make_unique<ScriptedFirmware>());
    EXPECT_EQ(u_GetDeviceCount(), 2);
    EXPECT_EQ(spy.count("createFile"), 0u);
    EXPECT_TRUE(board->received().empty());
    EXPECT_TRUE(second.received().empty());
    EXPECT_EQ(spy.count("getClassDevs"), 1u) << "member indexes 0 to 126, from one snapshot";
    EXPECT_EQ(spy.count("regOpenKey"), 3u) << "one key per interface present";
    world.unplug(second);
    EXPECT_EQ(u_GetDeviceCount(), 1);
}

// One command and the bytes it owns: it must send the packet as it found it, with only these
// bytes changed.
struct WireCase {
    const char* name;
    std::function<int()> call;
    std::uint8_t direction;
    std::uint8_t selector;
    std::optional<std::uint8_t> payload0;
    int result;
};

TEST_F(SystemCommands, EachCommandWritesOnlyItsOwnBytes) {
    openBoard();
    Bytes pingReply(20, 0);
    const WireCase cases[] = {
        {"u_SetDeviceID", [] { return u_SetDeviceID(0, 0x5A); }, DIR_SET, SYS_DEVICE_ID, 0x5A, 1},
        {"u_Ping", [&] { return u_Ping(0, pingReply.data()); }, DIR_GET, SYS_PING, {}, XFER_OK},
        {"u_Reset_MCU", [] { return u_Reset_MCU(0); }, DIR_SET, SYS_RESET, {}, 1},
        {"u_Reset_MCU_Boot", [] { return u_Reset_MCU_Boot(0); }, DIR_SET, SYS_RESET_BOOT, {}, 1},
        {"u_SetDeviceID (low 8 bits)", [] { return u_SetDeviceID(0, 0x07); }, DIR_SET,
         SYS_DEVICE_ID, 0x07, 1},
    };
    // Leave bytes behind as an earlier command would: a length, a selector, a payload.
    commands::outBuff.length = 6;
    for (int i = 0; i < 60; ++i) commands::outBuff.payload[i] = static_cast<std::uint8_t>(0x80 + i);

    for (const auto& c : cases) {
        Bytes expected = commandBuffer();
        expected[0] = CMD_SYSTEM;
        expected[1] = c.direction;
        expected[3] = c.selector;
        if (c.payload0) expected[4] = *c.payload0;
        board->clearReceived();
        EXPECT_EQ(c.call(), c.result) << c.name;
        ASSERT_EQ(board->received().size(), 1u) << c.name;
        EXPECT_EQ(board->received()[0].bytes, expected) << c.name;
        EXPECT_EQ(expected[2], 6) << "length travels as it was left";
    }
    EXPECT_EQ(pingReply, pattern(20));
}

TEST_F(SystemCommands, PingReadsTwentyBytesStraightIntoTheCallersBuffer) {
    openBoard();
    Bytes reply(20, 0);
    const Micros start = world.now();
    EXPECT_EQ(u_Ping(0, reply.data()), XFER_OK);
    EXPECT_EQ(reply, pattern(20));
    const auto reads = spy.of("readFile");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].out, reply.data());
    EXPECT_EQ(reads[0].length, 20u);
    const auto writes = spy.of("writeFile");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].length, 64u);
    EXPECT_EQ(writes[0].out, &commands::outBuff);
    EXPECT_EQ(world.now(), start);
}

TEST_F(SystemCommands, PingTimeOutsAre250Milliseconds) {
    openBoard();
    board->injectFault(emulated::Fault{emulated::FaultKind::kNoReply});
    Bytes reply(20, 0xEE);
    const Micros start = world.now();
    EXPECT_EQ(u_Ping(0, reply.data()), XFER_FAIL);
    EXPECT_EQ(world.now() - start, 250 * kMs);
    EXPECT_EQ(reply, Bytes(20, 0xEE));
    EXPECT_TRUE(port::outPipeOf(0) != platform::invalidHandle()) << "a time-out keeps the row";
}

TEST_F(SystemCommands, AShortPingReplyIsShortAndLeavesTheRestOfTheBuffer) {
    openBoard();
    firmware->standing[CMD_SYSTEM] = pattern(5);
    Bytes reply(20, 0xEE);
    EXPECT_EQ(u_Ping(0, reply.data()), XFER_SHORT);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 5), pattern(5));
    EXPECT_EQ(Bytes(reply.begin() + 5, reply.end()), Bytes(15, 0xEE));
}

TEST_F(SystemCommands, PingOnAnIndexNeverOpenedFails) {
    // Row 26 is not used by any other test.
    Bytes reply(20, 0xEE);
    EXPECT_EQ(u_Ping(26, reply.data()), XFER_FAIL);
    EXPECT_EQ(reply, Bytes(20, 0xEE));
    EXPECT_EQ(u_Ping(26, reply.data()), XFER_FAIL);
    EXPECT_EQ(spy.count("writeFile"), 1u) << "the second ping finds the row dropped";
}

TEST_F(SystemCommands, AResetLeavesThePortTableAsItWas) {
    openBoard();
    const Handle out = port::outPipeOf(0), in = port::inPipeOf(0);
    EXPECT_EQ(u_Reset_MCU(0), 1);
    EXPECT_EQ(u_Reset_MCU_Boot(0), 1);
    EXPECT_EQ(port::outPipeOf(0), out);
    EXPECT_EQ(port::inPipeOf(0), in);
    EXPECT_EQ(spy.count("readFile"), 0u) << "no reply is read";
}

TEST_F(SystemCommands, CommandsOnAClosedIndexFail) {
    openBoard();
    ASSERT_EQ(CloseUSBPort(0), 1);
    spy.clear();
    Bytes reply(20, 0);
    EXPECT_EQ(u_Ping(0, reply.data()), XFER_FAIL);
    EXPECT_EQ(u_Reset_MCU(0), 0);
    EXPECT_EQ(u_Reset_MCU_Boot(0), 0);
    EXPECT_EQ(u_SetDeviceID(0, 1), 0);
    EXPECT_EQ(spy.fileCalls(), 0u);
}

}  // namespace
}  // namespace tarvex::testing

namespace tarvex::testing {
namespace {

TEST(SystemCommandsOnTheDemoBoard, PingIsAnsweredWithTwentyBytes) {
    emulated::World world;
    world.plugBoard();  // the demo firmware
    platform::ScopedBackend use{world};
    ASSERT_EQ(OpenUSBPort(0), 1);
    Bytes reply(20, 0xEE);
    EXPECT_EQ(u_Ping(0, reply.data()), XFER_OK);
    EXPECT_EQ(u_SetDeviceID(0, 3), 1);
    EXPECT_EQ(u_Ping(0, reply.data()), XFER_OK);
    EXPECT_EQ(u_GetDeviceCount(), 1);
    EXPECT_EQ(CloseUSBPort(0), 1);
    EXPECT_EQ(world.openHandleCount(), 0u);
}

}  // namespace
}  // namespace tarvex::testing
