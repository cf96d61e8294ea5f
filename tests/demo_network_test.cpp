// Network settings: defaults, round trips, and the bytes each selector uses.
#include "demo_firmware_test.h"

namespace tarvex::emulated::demo::testing {
namespace {

TEST(DemoNetwork, StartsWithPlausibleSettings) {
    DemoFirmware firmware;
    Host host(firmware);
    EXPECT_EQ(host.get(CMD_ETH, {selector(ETH_IP_ADDR)}), (Bytes{192, 168, 1, 50}));
    EXPECT_EQ(host.get(CMD_ETH, {selector(ETH_IP_MASK)}), (Bytes{255, 255, 255, 0}));
    EXPECT_EQ(host.get(CMD_ETH, {selector(ETH_IP_GATEWAY)}), (Bytes{192, 168, 1, 1}));
    const Bytes mac = host.get(CMD_ETH, {length(6), selector(ETH_MAC_ADDR)});
    ASSERT_EQ(mac.size(), 6u);
    EXPECT_EQ(mac[0] & 0x03, 0x02);  // locally administered, unicast
}

TEST(DemoNetwork, EachSettingReadsBackAsWritten) {
    struct Case {
        std::uint8_t selector;
        Bytes value;
    };
    const Case cases[] = {
        {ETH_IP_ADDR, {10, 0, 0, 7}},
        {ETH_IP_MASK, {255, 255, 0, 0}},
        {ETH_IP_GATEWAY, {10, 0, 255, 254}},
        {ETH_MAC_ADDR, {0x00, 0x1B, 0xC5, 0x01, 0x02, 0x03}},
    };
    DemoFirmware firmware;
    Host host(firmware);
    for (const Case& c : cases) {
        for (std::size_t i = 0; i < c.value.size(); ++i) host.buffer[4 + i] = c.value[i];
        host.set(CMD_ETH, {selector(c.selector)});
        EXPECT_EQ(host.get(CMD_ETH, {selector(c.selector)}), c.value) << int(c.selector);
    }
    // Each write touched only its own setting.
    EXPECT_EQ(firmware.network().ipAddress, (NetworkSettings::Address{10, 0, 0, 7}));
    EXPECT_EQ(firmware.network().ipMask, (NetworkSettings::Address{255, 255, 0, 0}));
    EXPECT_EQ(firmware.network().gateway, (NetworkSettings::Address{10, 0, 255, 254}));
    EXPECT_EQ(firmware.network().mac, (NetworkSettings::Mac{0x00, 0x1B, 0xC5, 0x01, 0x02, 0x03}));
}

TEST(DemoNetwork, AnAddressWriteUsesFourBytesWhateverFollowsThem) {
    DemoFirmware firmware;
    Host host(firmware);
    // The MAC address leaves bytes 8 and 9 behind; the next address write must not use them.
    host.set(CMD_ETH, {selector(ETH_MAC_ADDR), payload(0, 1), payload(1, 2), payload(2, 3),
                       payload(3, 4), payload(4, 5), payload(5, 6)});
    host.set(CMD_ETH, {selector(ETH_IP_ADDR), payload(0, 172), payload(1, 16), payload(2, 0),
                       payload(3, 1)});
    EXPECT_EQ(firmware.network().ipAddress, (NetworkSettings::Address{172, 16, 0, 1}));
    EXPECT_EQ(firmware.network().mac, (NetworkSettings::Mac{1, 2, 3, 4, 5, 6}));
}

TEST(DemoNetwork, AddressReadsAreFourBytesEvenAfterTheMacLeftLengthSix) {
    DemoFirmware firmware;
    Host host(firmware);
    host.get(CMD_ETH, {length(6), selector(ETH_MAC_ADDR)});
    EXPECT_EQ(host.buffer[2], 6);
    EXPECT_EQ(host.get(CMD_ETH, {selector(ETH_IP_ADDR)}).size(), 4u);
}

TEST(DemoNetwork, SettingsSurviveAResetIntoTheBootLoader) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_ETH, {selector(ETH_IP_GATEWAY), payload(0, 1), payload(1, 1), payload(2, 1),
                       payload(3, 1)});
    host.set(CMD_SYSTEM, {selector(SYS_RESET_BOOT)});
    EXPECT_EQ(host.get(CMD_ETH, {selector(ETH_IP_GATEWAY)}), (Bytes{1, 1, 1, 1}));
}

}  // namespace
}  // namespace tarvex::emulated::demo::testing
