// Port registers: reset values, round trips, read-only status bits and their meanings.
#include "demo_firmware_test.h"

namespace tarvex::emulated::demo::testing {
namespace {

TEST(DemoPorts, ReadReplyEchoesThePortThenTheValueLowByteFirst) {
    DemoFirmware firmware;
    Host host(firmware);
    host.setPort(9, 0x1234);
    EXPECT_EQ(host.get(CMD_PORT, {selector(9)}), (Bytes{9, 0x34, 0x12}));
}

TEST(DemoPorts, RegistersStartAtTheirResetValues) {
    struct Case {
        std::uint8_t port;
        std::uint16_t value;
    };
    // Port 2 shows PLL locked, nothing captured yet; port 3 the FIFO out of reset, capture off.
    const Case cases[] = {{0, 0x0000}, {1, 0x0800}, {2, 0x2000}, {3, 0x0003},
                          {4, 0x0000}, {5, 0x0100}, {6, 0x0000}, {255, 0x0000}};
    DemoFirmware firmware;
    Host host(firmware);
    for (const Case& c : cases) EXPECT_EQ(host.getPort(c.port), c.value) << int(c.port);
}

TEST(DemoPorts, PlainRegistersKeepEverySixteenBitValue) {
    DemoFirmware firmware;
    Host host(firmware);
    for (std::uint16_t value : {0x0000, 0x0001, 0x8000, 0xFFFF, 0xA55A}) {
        for (std::uint8_t port : {0, 1, 5, 6, 100, 255}) {
            host.setPort(port, value);
            EXPECT_EQ(host.getPort(port), value) << int(port);
        }
    }
}

TEST(DemoPorts, StatusBitsAreDrivenByTheBoardNotByWrites) {
    DemoFirmware firmware;
    Host host(firmware);
    host.setPort(2, 0xFFFF);
    host.setPort(4, 0xFFFF);
    EXPECT_EQ(host.getPort(2), 0xFFFF & ~0x0010);  // no data: bit 4 clear; PLL locked: bit 13 set
    EXPECT_EQ(host.getPort(4), 0xFFFF & ~0x0010);  // no fault
    host.setPort(2, 0x0000);
    host.setPort(4, 0x0000);
    EXPECT_EQ(host.getPort(2), 0x2000);
    EXPECT_EQ(host.getPort(4), 0x0000);
    host.setPort(3, 0x0083);
    EXPECT_EQ(host.getPort(3), 0x0003);
}

TEST(DemoPorts, PllLockAndFaultShowInTheirStatusBits) {
    DemoFirmware firmware;
    Host host(firmware);
    firmware.setPllLocked(false);
    firmware.setFault(true);
    EXPECT_EQ(host.getPort(2) & 0x2000, 0);
    EXPECT_EQ(host.getPort(4) & 0x0010, 0x0010);
    firmware.setPllLocked(true);
    firmware.setFault(false);
    EXPECT_EQ(host.getPort(2) & 0x2000, 0x2000);
    EXPECT_EQ(host.getPort(4) & 0x0010, 0);
}

TEST(DemoPorts, DataReadyFollowsTheFifo) {
    DemoOptions options;
    options.fifoDepth = 64;
    DemoFirmware firmware(options);
    Host host(firmware);
    EXPECT_EQ(host.getPort(2) & 0x0010, 0);
    host.startCapture();
    EXPECT_EQ(host.getPort(2) & 0x0010, 0x0010);
    // Capture stopped: the two packets left in the FIFO drain it.
    host.setPort(3, host.getPort(3) & 0xFFDF);
    host.words(2);
    EXPECT_EQ(host.getPort(2) & 0x0010, 0);
}

// The library's four status flags over a capture: flag 0 (port 3 bit 7 clear) stays 1 in normal
// work, flag 1 (data ready) is 1 once a capture runs, flag 2 (PLL locked) is 1, flag 3 (port 4
// bit 4 clear) is 1.
TEST(DemoPorts, StatusFlagsOfANormalCaptureAllReadOk) {
    DemoFirmware firmware;
    Host host(firmware);
    host.startCapture();
    host.words(10);
    EXPECT_EQ(host.getPort(3) & 0x0080, 0);
    EXPECT_EQ(host.getPort(2) & 0x2010, 0x2010);
    EXPECT_EQ(host.getPort(4) & 0x0010, 0);
}

}  // namespace
}  // namespace tarvex::emulated::demo::testing
