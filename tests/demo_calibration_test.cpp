// The calibration store: factory block, store by packet and block, and read with its origin.
#include "demo_firmware_test.h"

namespace tarvex::emulated::demo::testing {
namespace {

Bytes readCalibration(Host& host) {
    return host.get(CMD_SYSTEM, {length(28), selector(SYS_CALIBRATION)});
}

Bytes sampleBlock() {
    Bytes block(28);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(0x30 + 3 * i);
    return block;
}

TEST(DemoCalibration, FactoryValuesReadWithTheirOriginFirst) {
    DemoFirmware firmware;
    Host host(firmware);
    const Bytes reply = readCalibration(host);
    ASSERT_EQ(reply.size(), 29u);
    EXPECT_EQ(reply[0], 0x01);
    // Gain 1.0 and zero code 2048.0 lead, 0.6104 third: integer part, then fraction / 10000.
    EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 13),
              (Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0xD8, 0x17}));
}

TEST(DemoCalibration, AStoredBlockReadsBackBehindTheUserOrigin) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_SYSTEM, {length(28), selector(SYS_CALIBRATION)});
    EXPECT_TRUE(host.block(sampleBlock()).empty());
    const Bytes reply = readCalibration(host);
    ASSERT_EQ(reply.size(), 29u);
    EXPECT_EQ(reply[0], 0x02);
    EXPECT_EQ(Bytes(reply.begin() + 1, reply.end()), sampleBlock());
    EXPECT_TRUE(std::equal(firmware.calibration().block().begin(), firmware.calibration().block().end(),
                           sampleBlock().begin()));
}

TEST(DemoCalibration, StoredValuesSurviveResets) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_SYSTEM, {length(28), selector(SYS_CALIBRATION)});
    host.block(sampleBlock());
    host.set(CMD_SYSTEM, {selector(SYS_RESET)});
    host.set(CMD_SYSTEM, {selector(SYS_RESET_BOOT)});
    const Bytes reply = readCalibration(host);
    EXPECT_EQ(Bytes(reply.begin() + 1, reply.end()), sampleBlock());
}

TEST(DemoCalibration, AStoreAnnouncingAnotherLengthIsRefusedAndItsBlockIgnored) {
    DemoFirmware firmware;
    Host host(firmware);
    const Bytes before = readCalibration(host);
    host.set(CMD_SYSTEM, {length(27), selector(SYS_CALIBRATION)});
    EXPECT_EQ(firmware.counters().unknownRequests, 1u);
    host.block(Bytes(27, 0x11));
    EXPECT_EQ(firmware.counters().strayTransfers, 1u);
    EXPECT_EQ(readCalibration(host), before);
}

TEST(DemoCalibration, AReadIgnoresItsLengthByte) {
    DemoFirmware firmware;
    Host host(firmware);
    EXPECT_EQ(host.get(CMD_SYSTEM, {length(6), selector(SYS_CALIBRATION)}).size(), 29u);
}

TEST(DemoCalibration, APacketInPlaceOfTheBlockIsACommandAndStoresNothing) {
    DemoFirmware firmware;
    Host host(firmware);
    const Bytes before = readCalibration(host);
    host.set(CMD_SYSTEM, {length(28), selector(SYS_CALIBRATION)});
    EXPECT_EQ(host.get(CMD_PORT, {selector(3)}).size(), 3u);
    EXPECT_EQ(firmware.counters().missedBlocks, 1u);
    EXPECT_EQ(readCalibration(host), before);
}

}  // namespace
}  // namespace tarvex::emulated::demo::testing
