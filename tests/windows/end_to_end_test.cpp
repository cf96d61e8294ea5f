// tarvex.dll end to end under Wine: the real SetupAPI finds the driver's interfaces in Wine's
// registry, the real CreateFileA opens the board's data pipe, and the demo board's firmware
// answers from a named pipe served by this test program.  Another vendor's device of the same
// driver sits at member index 0, the board at index 1.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dll_test.h"
#include "emulated/demo/demo_firmware.h"
#include "emulated/world.h"
#include "pipe_board.h"
#include "wine_device.h"

namespace tarvex::wine {
namespace {

using emulated::Bytes;

constexpr std::uint16_t kBoard = 1;
constexpr std::uint16_t kOtherDevice = 0;
const std::string kSerialPrefix = "TVXE2E";

class EndToEnd : public DllTest {
protected:
    void SetUp() override {
        DllTest::SetUp();
        if (HasFatalFailure()) return;

        // Names unique to this test, so a prefix shared with other test programs sees no clash;
        // interfaces that a stopped run of this program left behind go first.
        removeInterfacesWithSerialPrefix(kSerialPrefix);
        static int run = 0;
        const std::string unique = std::to_string(GetCurrentProcessId()) + "X" +
                                   std::to_string(run++);
        other = std::make_unique<WineDeviceInterface>("VID_0403&PID_6001",
                                                      kSerialPrefix + ("O" + unique));
        boardInterface = std::make_unique<WineDeviceInterface>("VID_04D8&PID_0030",
                                                               kSerialPrefix + ("B" + unique));
        board = std::make_unique<PipeBoard>("tarvex-board-" + unique, emulated::makeDemoFirmware());
        ASSERT_TRUE(boardInterface->routeDataPipe(board->pipeName()));

        ASSERT_EQ(listedInterfacePaths(),
                  (std::vector<std::string>{other->path(), boardInterface->path()}))
            << "SetupAPI does not list the two interfaces in the expected order";
    }

    void TearDown() override {
        if (dll->module()) dll->CloseUSBPort(kBoard);
        board.reset();
        boardInterface.reset();
        other.reset();
    }

    void unplugBoard() {
        boardInterface->unplug();
        board->stop();
    }

    // The command packets (64-byte transfers) the board received with command byte `command`.
    std::vector<Bytes> packets(std::uint8_t command) const {
        std::vector<Bytes> result;
        for (const Bytes& transfer : board->received())
            if (transfer.size() == COMMAND_PACKET_BYTES && transfer[0] == command)
                result.push_back(transfer);
        return result;
    }

    std::unique_ptr<WineDeviceInterface> other;
    std::unique_ptr<WineDeviceInterface> boardInterface;
    std::unique_ptr<PipeBoard> board;
};

TEST_F(EndToEnd, TheBoardIsCountedAndOpenedAtItsMemberIndexBehindAnotherVendorsDevice) {
    EXPECT_EQ(dll->u_GetDeviceCount(), 1);
    EXPECT_EQ(dll->MPUSBGetDeviceCount(nullptr), 2u);
    EXPECT_EQ(dll->MPUSBGetDeviceCount("vid_0403&pid_6001"), 1u);
    EXPECT_EQ(dll->MPUSBGetDeviceCount("VID_04D8&PID_0030"), 0u) << "only the registry is lowered";

    // Index 0 is the other vendor's: the board's vendor/product never opens there.
    EXPECT_EQ(dll->MPUSBOpen(kOtherDevice, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_READ, 0),
              TARVEX_INVALID_HANDLE);
    EXPECT_EQ(dll->OpenUSBPort(kOtherDevice), 0);
    EXPECT_EQ(dll->CloseUSBPort(kOtherDevice), 1);

    EXPECT_EQ(dll->OpenUSBPort(kBoard), 1);
    EXPECT_EQ(dll->CloseUSBPort(kBoard), 1);
    EXPECT_TRUE(board->received().empty()) << "opening and closing sent something";
}

TEST_F(EndToEnd, CommandsReachTheBoardAndItsRepliesComeBack) {
    ASSERT_EQ(dll->OpenUSBPort(kBoard), 1);

    std::uint8_t reply[20] = {};
    EXPECT_EQ(dll->u_Ping(kBoard, reply), XFER_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply)),
              emulated::demo::DemoFirmware::kFirmwareId);
    ASSERT_EQ(packets(CMD_SYSTEM).size(), 1u);
    const Bytes ping = packets(CMD_SYSTEM).front();
    EXPECT_EQ(ping[1], DIR_GET);
    EXPECT_EQ(ping[3], SYS_PING);

    EXPECT_EQ(dll->u_SetPort(kBoard, 1, 0x0A5C), 1);
    std::uint16_t value = 0;
    EXPECT_EQ(dll->u_GetPort(kBoard, 1, &value), XFER_OK);
    EXPECT_EQ(value, 0x0A5C);
    const std::vector<Bytes> portPackets = packets(CMD_PORT);
    ASSERT_EQ(portPackets.size(), 2u);
    EXPECT_EQ(portPackets[0][1], DIR_SET);
    EXPECT_EQ(portPackets[0][3], 1);
    EXPECT_EQ(portPackets[0][4], 0x5C);
    EXPECT_EQ(portPackets[0][5], 0x0A);
    EXPECT_EQ(portPackets[1][1], DIR_GET);
    EXPECT_EQ(portPackets[1][3], 1);

    const std::uint8_t address[4] = {192, 168, 7, 42};
    std::uint8_t readBack[4] = {};
    EXPECT_EQ(dll->u_SetEthIPAddr(kBoard, address), 1);
    EXPECT_EQ(dll->u_GetEthIPAddr(kBoard, readBack), XFER_OK);
    EXPECT_EQ(0, std::memcmp(readBack, address, sizeof address));

    // The calibration store sends a data block of its own after its packet.  The values travel
    // as fixed point with four decimals, which these carry exactly.
    const float calibration[CALIB_VALUE_COUNT] = {1.5f, 0.25f, 3.0f, 0.0f, 100.5f, 42.0f, 7.75f};
    float calibrationBack[CALIB_VALUE_COUNT] = {};
    EXPECT_EQ(dll->u_StoreScopeCalibValues(kBoard, calibration), 1);
    EXPECT_EQ(dll->u_GetScopeCalibValues(kBoard, calibrationBack), XFER_OK);
    EXPECT_EQ(0, std::memcmp(calibrationBack, calibration, sizeof calibration));

    EXPECT_EQ(dll->CloseUSBPort(kBoard), 1);
}

TEST_F(EndToEnd, ACaptureDeliversEveryPacketsSamples) {
    ASSERT_EQ(dll->OpenUSBPort(kBoard), 1);
    constexpr std::uint16_t kPackets = 8;
    std::vector<std::uint16_t> samples(kPackets * SAMPLES_PER_PACKET, 0xFFFF);
    ScopeStats stats{};
    EXPECT_EQ(dll->u_GetScopeSamples(kBoard, kPackets, samples.data(), &stats), 1);

    EXPECT_EQ(stats.sampleCount, kPackets * SAMPLES_PER_PACKET);
    EXPECT_EQ(stats.okCount, kPackets);
    EXPECT_EQ(stats.failCount, 0);
    EXPECT_EQ(stats.shortCount, 0);
    EXPECT_EQ(stats.flagSeen, 1) << "the board marks the first sample of a capture with bit 12";
    EXPECT_EQ(packets(CMD_SCOPE).size(), kPackets);
    std::set<std::uint16_t> distinct;
    for (std::uint16_t sample : samples) {
        EXPECT_LE(sample, 0x0FFF);
        distinct.insert(sample);
    }
    EXPECT_GT(distinct.size(), 16u) << "the samples do not look like a signal";
    EXPECT_EQ(dll->CloseUSBPort(kBoard), 1);
}

TEST_F(EndToEnd, APortClosedAndOpenedAgainWorksAndAClosedPortSendsNothing) {
    ASSERT_EQ(dll->OpenUSBPort(kBoard), 1);
    std::uint8_t reply[20] = {};
    EXPECT_EQ(dll->u_Ping(kBoard, reply), XFER_OK);
    EXPECT_EQ(dll->CloseUSBPort(kBoard), 1);

    const std::size_t before = board->received().size();
    EXPECT_EQ(dll->u_Ping(kBoard, reply), XFER_FAIL);
    EXPECT_EQ(board->received().size(), before) << "a closed port reached the board";

    ASSERT_TRUE(board->awaitingHost(5000)) << "the board never saw the port close";
    ASSERT_EQ(dll->OpenUSBPort(kBoard), 1);
    EXPECT_EQ(dll->u_Ping(kBoard, reply), XFER_OK);
    EXPECT_EQ(dll->CloseUSBPort(kBoard), 1);
}

TEST_F(EndToEnd, AnUnpluggedBoardFailsItsCommandsAndIsNoLongerCounted) {
    ASSERT_EQ(dll->OpenUSBPort(kBoard), 1);
    std::uint8_t reply[20] = {};
    ASSERT_EQ(dll->u_Ping(kBoard, reply), XFER_OK);

    unplugBoard();

    EXPECT_EQ(dll->u_GetDeviceCount(), 0);
    EXPECT_EQ(dll->MPUSBGetDeviceCount(nullptr), 1u);
    EXPECT_EQ(dll->u_Ping(kBoard, reply), XFER_FAIL);
    std::uint16_t value = 0;
    EXPECT_EQ(dll->u_GetPort(kBoard, 1, &value), XFER_FAIL);
    // The handles were the board's; closing them still succeeds.
    EXPECT_EQ(dll->CloseUSBPort(kBoard), 1);
    EXPECT_EQ(dll->OpenUSBPort(kBoard), 0) << "no interface at the board's index any more";
}

}  // namespace
}  // namespace tarvex::wine
