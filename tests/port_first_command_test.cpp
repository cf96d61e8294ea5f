// The command buffer holds zeros when the library is loaded: the first command sends zeros in
// every byte it does not write, and later commands send what earlier ones left.  Its own
// executable, so that nothing has written the buffer before.
#include <gtest/gtest.h>

#include "support/board_fixture.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

TEST(FirstCommand, SendsZerosInEveryByteItDoesNotWrite) {
    EmulatedBoard bench;
    bench.firmware->standing[CMD_SYSTEM] = pattern(20);
    const emulated::Board& board = *bench.board;
    ASSERT_EQ(bench.openPort(0), 1);

    ASSERT_EQ(u_Reset_MCU(0), 1);
    Bytes expected(64, 0);
    expected[0] = 0xFA;
    expected[3] = 1;
    EXPECT_EQ(board.lastPacket(), expected);

    ASSERT_EQ(u_SetDeviceID(0, 0x33), 1);
    expected[3] = 4;
    expected[4] = 0x33;
    EXPECT_EQ(board.lastPacket(), expected);

    Bytes reply(20, 0);
    ASSERT_EQ(u_Ping(0, reply.data()), XFER_OK);
    expected[1] = 1;
    expected[3] = 0;
    EXPECT_EQ(board.lastPacket(), expected) << "the device id travels on in payload byte 0";

    EXPECT_EQ(CloseUSBPort(0), 1);
}

}  // namespace
}  // namespace tarvex::testing
