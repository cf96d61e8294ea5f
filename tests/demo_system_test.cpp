// System commands, transfer framing, and the rule that the board reads only the bytes a command
// defines.
#include <cstring>
#include <string>

#include "demo_firmware_test.h"

namespace tarvex::emulated::demo::testing {
namespace {

TEST(DemoSystem, PingAnswersTwentyBytesOfFirmwareIdentification) {
    DemoFirmware firmware;
    Host host(firmware);
    const Bytes reply = host.get(CMD_SYSTEM, {selector(SYS_PING)});
    ASSERT_EQ(reply.size(), 20u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), "TVX-SCOPE FW 1.04");
    for (std::size_t i = std::strlen("TVX-SCOPE FW 1.04"); i < 20; ++i) EXPECT_EQ(reply[i], 0) << i;
}

TEST(DemoSystem, ResetIntoBootLoaderIsRecordedAndAPlainResetLeavesIt) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_SYSTEM, {selector(SYS_RESET_BOOT)});
    EXPECT_TRUE(firmware.inBootLoader());
    EXPECT_EQ(firmware.counters().bootLoaderResets, 1u);
    Bytes reply = host.get(CMD_SYSTEM, {selector(SYS_PING)});
    ASSERT_EQ(reply.size(), 20u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), "TVX-SCOPE BOOT 1.00");

    host.set(CMD_SYSTEM, {selector(SYS_RESET)});
    EXPECT_FALSE(firmware.inBootLoader());
    EXPECT_EQ(firmware.counters().resets, 1u);
    reply = host.get(CMD_SYSTEM, {selector(SYS_PING)});
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply.data())), "TVX-SCOPE FW 1.04");
}

TEST(DemoSystem, ResetRestoresRegistersButKeepsNonVolatileSettings) {
    DemoFirmware firmware;
    Host host(firmware);
    host.setPort(9, 0xBEEF);
    host.set(CMD_SYSTEM, {selector(SYS_DEVICE_ID), payload(0, 7)});
    host.set(CMD_ETH, {selector(ETH_IP_ADDR), payload(0, 10), payload(1, 0), payload(2, 0),
                       payload(3, 9)});
    host.startCapture();
    ASSERT_TRUE(firmware.fifo().capturing());

    host.set(CMD_SYSTEM, {selector(SYS_RESET)});
    EXPECT_EQ(host.getPort(9), 0x0000);
    EXPECT_EQ(host.getPort(3), 0x0003);
    EXPECT_FALSE(firmware.fifo().capturing());
    EXPECT_EQ(firmware.deviceId(), 7);
    EXPECT_EQ(host.get(CMD_ETH, {selector(ETH_IP_ADDR)}), (Bytes{10, 0, 0, 9}));
}

TEST(DemoSystem, DeviceIdComesFromPayloadByteZeroOnly) {
    DemoFirmware firmware;
    Host host(firmware);
    EXPECT_EQ(firmware.deviceId(), 0);
    host.set(CMD_SYSTEM, {selector(SYS_DEVICE_ID), payload(0, 0x3C), payload(1, 0x99)});
    EXPECT_EQ(firmware.deviceId(), 0x3C);
}

TEST(DemoSystem, UnknownRequestsGetNoReplyAndAreCounted) {
    struct Case {
        const char* what;
        std::uint8_t command;
        std::uint8_t direction;
        std::uint8_t selector;
    };
    const Case cases[] = {
        {"unknown command", 0xF3, DIR_GET, 0},
        {"unknown command", 0x00, DIR_GET, 0},
        {"unknown direction", CMD_PORT, 2, 3},
        {"ping as a set", CMD_SYSTEM, DIR_SET, SYS_PING},
        {"reset as a get", CMD_SYSTEM, DIR_GET, SYS_RESET},
        {"device id as a get", CMD_SYSTEM, DIR_GET, SYS_DEVICE_ID},
        {"system selector 9", CMD_SYSTEM, DIR_GET, 9},
        {"network selector 4", CMD_ETH, DIR_GET, 4},
        {"i2c selector 3", CMD_I2C, DIR_GET, 3},
        {"scope packet as a set", CMD_SCOPE, DIR_SET, 0},
        {"temperature sensor 1", CMD_VSC_TEMP, DIR_GET, 1},
        {"temperature as a set", CMD_VSC_TEMP, DIR_SET, 0},
    };
    for (const Case& c : cases) {
        DemoFirmware firmware;
        Host host(firmware);
        const auto replies = host.request(c.command, c.direction, {selector(c.selector)});
        EXPECT_TRUE(replies.empty()) << c.what;
        EXPECT_EQ(firmware.counters().unknownRequests, 1u) << c.what;
        EXPECT_EQ(firmware.counters().packets, 1u) << c.what;
    }
}

TEST(DemoSystem, TransfersThatAreNeitherPacketNorAwaitedBlockAreIgnored) {
    DemoFirmware firmware;
    Host host(firmware);
    // A port write cut short, and a calibration block with no packet before it.
    const std::uint8_t shortPacket[4] = {CMD_PORT, DIR_SET, 0, 9};
    EXPECT_TRUE(host.transfer(shortPacket, sizeof shortPacket).empty());
    Bytes orphan(28, CMD_PORT);
    EXPECT_TRUE(host.block(orphan).empty());
    EXPECT_TRUE(host.transfer(nullptr, 0).empty());
    EXPECT_EQ(firmware.counters().strayTransfers, 3u);
    EXPECT_EQ(firmware.counters().packets, 0u);
    EXPECT_EQ(host.getPort(9), 0);
}

// Each request sent twice from fresh boards whose host buffers hold different leftovers: the
// replies and the state reached must not depend on the bytes the command leaves undefined.
TEST(DemoSystem, BytesACommandDoesNotDefineAreIgnored) {
    struct Case {
        const char* what;
        std::uint8_t command;
        std::uint8_t direction;
        std::vector<Field> fields;
    };
    const std::vector<Case> cases = {
        {"ping", CMD_SYSTEM, DIR_GET, {selector(SYS_PING)}},
        {"device id", CMD_SYSTEM, DIR_SET, {selector(SYS_DEVICE_ID), payload(0, 5)}},
        {"port write", CMD_PORT, DIR_SET, {selector(9), payload(0, 0x34), payload(1, 0x12)}},
        {"port read", CMD_PORT, DIR_GET, {selector(1)}},
        {"ip address write", CMD_ETH, DIR_SET,
         {selector(0), payload(0, 1), payload(1, 2), payload(2, 3), payload(3, 4)}},
        {"ip mask read", CMD_ETH, DIR_GET, {selector(ETH_IP_MASK)}},
        {"mac read", CMD_ETH, DIR_GET, {length(6), selector(ETH_MAC_ADDR)}},
        {"si5326 write", CMD_I2C, DIR_SET,
         {selector(I2C_SI5326), payload(0, 0x68), payload(1, 10), payload(2, 0x5A)}},
        {"si5338 read", CMD_I2C, DIR_GET, {selector(I2C_SI5338), payload(0, 0x70), payload(1, 0)}},
        {"i2c read", CMD_I2C, DIR_GET,
         {length(8), selector(I2C_RAW), payload(0, 0x50), payload(1, 0), payload(2, 0)}},
        {"mdio write", CMD_MDIO, DIR_SET,
         {selector(0), payload(0, 4), payload(1, 0), payload(2, 0x41), payload(3, 0x01)}},
        {"mdio read", CMD_MDIO, DIR_GET, {selector(0), payload(0, 2), payload(1, 0)}},
        {"temperature", CMD_VSC_TEMP, DIR_GET, {selector(0)}},
        {"calibration read", CMD_SYSTEM, DIR_GET, {length(28), selector(SYS_CALIBRATION)}},
        {"vscope page", CMD_VSCOPE, DIR_GET, {length(64), selector(0), payload(0, 0)}},
    };
    for (const Case& c : cases) {
        std::vector<Reply> replies[2];
        std::uint16_t port9[2];
        NetworkSettings network[2];
        std::uint8_t deviceId[2];
        std::uint8_t si5326[2];
        std::uint16_t mdio[2];
        for (int run = 0; run < 2; ++run) {
            DemoFirmware firmware;
            Host host(firmware, run == 0 ? 0x00 : 0xFF);
            // Request the way the library does: only the listed bytes written.
            host.buffer[0] = c.command;
            host.buffer[1] = c.direction;
            for (const Field& f : c.fields) host.buffer[f.at] = f.value;
            replies[run] = host.transfer(host.buffer.data(), 64);
            port9[run] = firmware.port(9);
            network[run] = firmware.network();
            deviceId[run] = firmware.deviceId();
            si5326[run] = firmware.si5326().read(10);
            mdio[run] = firmware.mdio().read(0, 4);
            EXPECT_EQ(firmware.counters().unknownRequests, 0u) << c.what;
        }
        ASSERT_EQ(replies[0].size(), replies[1].size()) << c.what;
        for (std::size_t i = 0; i < replies[0].size(); ++i)
            EXPECT_EQ(replies[0][i].bytes, replies[1][i].bytes) << c.what;
        EXPECT_EQ(port9[0], port9[1]) << c.what;
        EXPECT_EQ(network[0].ipAddress, network[1].ipAddress) << c.what;
        EXPECT_EQ(network[0].mac, network[1].mac) << c.what;
        EXPECT_EQ(deviceId[0], deviceId[1]) << c.what;
        EXPECT_EQ(si5326[0], si5326[1]) << c.what;
        EXPECT_EQ(mdio[0], mdio[1]) << c.what;
    }
}

TEST(DemoSystem, EveryGetRequestGetsExactlyOneReplyOfItsLength) {
    struct Case {
        const char* what;
        std::uint8_t command;
        std::vector<Field> fields;
        std::size_t replyBytes;
    };
    const std::vector<Case> cases = {
        {"ping", CMD_SYSTEM, {selector(SYS_PING)}, 20},
        {"calibration", CMD_SYSTEM, {length(28), selector(SYS_CALIBRATION)}, 29},
        {"ip address", CMD_ETH, {selector(ETH_IP_ADDR)}, 4},
        {"ip mask", CMD_ETH, {selector(ETH_IP_MASK)}, 4},
        {"gateway", CMD_ETH, {selector(ETH_IP_GATEWAY)}, 4},
        {"mac", CMD_ETH, {length(6), selector(ETH_MAC_ADDR)}, 6},
        {"si5326", CMD_I2C, {selector(I2C_SI5326), payload(0, 0x68), payload(1, 134)}, 2},
        {"si5338", CMD_I2C, {selector(I2C_SI5338), payload(0, 0x70), payload(1, 0)}, 2},
        {"i2c read 17", CMD_I2C, {length(17), selector(I2C_RAW), payload(0, 0x50)}, 17},
        {"i2c read 255", CMD_I2C, {length(255), selector(I2C_RAW), payload(0, 0x50)}, 255},
        {"mdio", CMD_MDIO, {selector(0), payload(0, 2), payload(1, 0)}, 3},
        {"port", CMD_PORT, {selector(3)}, 3},
        {"scope packet", CMD_SCOPE, {}, 64},
        {"fast packet", CMD_SCOPE_FAST, {}, 64},
        {"temperature", CMD_VSC_TEMP, {selector(0)}, 2},
    };
    for (const Case& c : cases) {
        DemoFirmware firmware;
        Host host(firmware);
        for (const Field& f : c.fields) host.buffer[f.at] = f.value;
        const auto replies = host.request(c.command, DIR_GET, {});
        ASSERT_EQ(replies.size(), 1u) << c.what;
        EXPECT_EQ(replies[0].bytes.size(), c.replyBytes) << c.what;
    }
}

TEST(DemoSystem, MakeDemoFirmwareGivesTheDemoBoard) {
    const auto plain = makeDemoFirmware();
    ASSERT_NE(dynamic_cast<DemoFirmware*>(plain.get()), nullptr);
    std::vector<Reply> replies;
    std::array<std::uint8_t, 64> ping{CMD_SYSTEM, DIR_GET, 0, SYS_PING};
    plain->receive(ping.data(), ping.size(), 0, replies);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes.size(), 20u);
    EXPECT_FALSE(plain->interruptData(0).has_value());

    DemoOptions options;
    options.fastPacketBytes = 512;
    const auto configured = makeDemoFirmware(options);
    EXPECT_EQ(configured->options().fastPacketBytes, 512u);
}

}  // namespace
}  // namespace tarvex::emulated::demo::testing
