// The I2C bus (EEPROM and clock chips) and the MDIO PHY, through their commands.
#include <numeric>
#include <string>

#include "demo_firmware_test.h"

namespace tarvex::emulated::demo::testing {
namespace {

constexpr std::uint8_t kEeprom = 0x50;
constexpr std::uint8_t kSi5326 = 0x68;
constexpr std::uint8_t kSi5338 = 0x70;

Bytes getClockRegister(Host& host, std::uint8_t which, std::uint8_t device, std::uint8_t reg) {
    return host.get(CMD_I2C, {selector(which), payload(0, device), payload(1, reg)});
}
void setClockRegister(Host& host, std::uint8_t which, std::uint8_t device, std::uint8_t reg,
                      std::uint8_t value) {
    host.set(CMD_I2C, {selector(which), payload(0, device), payload(1, reg), payload(2, value)});
}
void i2cWrite(Host& host, std::uint8_t device, std::uint8_t reg, const Bytes& data) {
    host.set(CMD_I2C, {length(static_cast<std::uint8_t>(data.size())), selector(I2C_RAW),
                       payload(0, device), payload(1, reg), payload(2, 0)});
    EXPECT_TRUE(host.block(data).empty());
}
Bytes i2cRead(Host& host, std::uint8_t device, std::uint8_t reg, std::uint8_t count) {
    return host.get(CMD_I2C, {length(count), selector(I2C_RAW), payload(0, device), payload(1, reg),
                              payload(2, 0)});
}

TEST(DemoBus, ClockChipsAnswerWithTheirIdentification) {
    struct Case {
        const char* what;
        std::uint8_t selector;
        std::uint8_t device;
        std::uint8_t reg;
        std::uint8_t value;
    };
    const Case cases[] = {
        {"Si5326 part number high", I2C_SI5326, kSi5326, 134, 0x1A},
        {"Si5326 part number low, revision", I2C_SI5326, kSi5326, 135, 0x22},
        {"Si5338 revision", I2C_SI5338, kSi5338, 0, 0x01},
        {"Si5338 part", I2C_SI5338, kSi5338, 2, 0x26},
        {"Si5338 lock status", I2C_SI5338, kSi5338, 218, 0x00},
    };
    DemoFirmware firmware;
    Host host(firmware);
    for (const Case& c : cases)
        EXPECT_EQ(getClockRegister(host, c.selector, c.device, c.reg), (Bytes{0x00, c.value})) << c.what;
}

TEST(DemoBus, ClockChipRegistersReadBackWhatWasWritten) {
    DemoFirmware firmware;
    Host host(firmware);
    setClockRegister(host, I2C_SI5326, kSi5326, 25, 0xA0);
    setClockRegister(host, I2C_SI5338, kSi5338, 31, 0xC1);
    EXPECT_EQ(getClockRegister(host, I2C_SI5326, kSi5326, 25), (Bytes{0x00, 0xA0}));
    EXPECT_EQ(getClockRegister(host, I2C_SI5338, kSi5338, 31), (Bytes{0x00, 0xC1}));
    EXPECT_EQ(firmware.si5326().read(25), 0xA0);
    EXPECT_EQ(firmware.si5338().read(31), 0xC1);
    // A read leaves the value byte of the last write in the packet; it must not be written.
    EXPECT_EQ(getClockRegister(host, I2C_SI5326, kSi5326, 26), (Bytes{0x00, 0x00}));
    EXPECT_EQ(firmware.si5326().read(26), 0x00);
}

TEST(DemoBus, IdentificationRegistersIgnoreWrites) {
    DemoFirmware firmware;
    Host host(firmware);
    setClockRegister(host, I2C_SI5326, kSi5326, 134, 0x00);
    setClockRegister(host, I2C_SI5338, kSi5338, 0, 0xFF);
    EXPECT_EQ(getClockRegister(host, I2C_SI5326, kSi5326, 134)[1], 0x1A);
    EXPECT_EQ(getClockRegister(host, I2C_SI5338, kSi5338, 0)[1], 0x01);
}

TEST(DemoBus, Si5326SoftResetRestoresItsRegisters) {
    DemoFirmware firmware;
    Host host(firmware);
    setClockRegister(host, I2C_SI5326, kSi5326, 0, 0x55);
    setClockRegister(host, I2C_SI5326, kSi5326, 136, 0x80);
    EXPECT_EQ(getClockRegister(host, I2C_SI5326, kSi5326, 0)[1], 0x14);
    EXPECT_EQ(getClockRegister(host, I2C_SI5326, kSi5326, 136)[1], 0x00);
}

TEST(DemoBus, AnAddressNobodyAnswersNaksAndReadsTheIdleBus) {
    DemoFirmware firmware;
    Host host(firmware);
    EXPECT_EQ(getClockRegister(host, I2C_SI5326, 0x00, 134), (Bytes{0x01, 0xFF}));
    setClockRegister(host, I2C_SI5338, 0x71, 31, 0x12);
    EXPECT_EQ(i2cRead(host, 0x3C, 0, 5), (Bytes(5, 0xFF)));
    EXPECT_EQ(firmware.i2c().naks(), 3u);
}

TEST(DemoBus, TheAddressByteChoosesTheChip) {
    DemoFirmware firmware;
    Host host(firmware);
    // The Si5338 read routine pointed at the Si5326 reaches the Si5326.
    EXPECT_EQ(getClockRegister(host, I2C_SI5338, kSi5326, 134), (Bytes{0x00, 0x1A}));
}

TEST(DemoBus, BlockWriteThenReadRoundTripsThroughTheEeprom) {
    DemoFirmware firmware;
    Host host(firmware);
    Bytes data(200);
    std::iota(data.begin(), data.end(), std::uint8_t{7});
    i2cWrite(host, kEeprom, 40, data);
    EXPECT_EQ(i2cRead(host, kEeprom, 40, 200), data);
    EXPECT_EQ(firmware.eepromBytes()[40], 7);
    EXPECT_EQ(firmware.eepromBytes()[239], static_cast<std::uint8_t>(206));
    EXPECT_EQ(firmware.counters().blocks, 1u);
}

TEST(DemoBus, EepromLeavesTheFactoryWithTheBoardsIdentity) {
    DemoFirmware firmware;
    Host host(firmware);
    const Bytes head = i2cRead(host, kEeprom, 0, 4);
    EXPECT_EQ(std::string(head.begin(), head.end()), "TVX1");
    EXPECT_EQ(i2cRead(host, kEeprom, 200, 3), (Bytes{0xFF, 0xFF, 0xFF}));
}

TEST(DemoBus, EepromAddressWrapsAtItsEnd) {
    DemoFirmware firmware;
    Host host(firmware);
    i2cWrite(host, kEeprom, 254, {0xA1, 0xA2, 0xA3, 0xA4});
    EXPECT_EQ(firmware.eepromBytes()[255], 0xA2);
    EXPECT_EQ(firmware.eepromBytes()[0], 0xA3);
    EXPECT_EQ(i2cRead(host, kEeprom, 254, 4), (Bytes{0xA1, 0xA2, 0xA3, 0xA4}));
}

TEST(DemoBus, ClockChipsAreReachableAsRawDevicesToo) {
    DemoFirmware firmware;
    Host host(firmware);
    EXPECT_EQ(i2cRead(host, kSi5326, 134, 2), (Bytes{0x1A, 0x22}));
    i2cWrite(host, kSi5338, 40, {0x11, 0x22});
    EXPECT_EQ(firmware.si5338().read(40), 0x11);
    EXPECT_EQ(firmware.si5338().read(41), 0x22);
}

TEST(DemoBus, AZeroByteWriteTakesItsEmptyBlockAndTheNextPacketIsACommand) {
    DemoFirmware firmware;
    Host host(firmware);
    const auto before = firmware.eepromBytes();
    i2cWrite(host, kEeprom, 0, {});
    EXPECT_EQ(firmware.counters().blocks, 1u);
    EXPECT_EQ(firmware.eepromBytes(), before);
    EXPECT_EQ(i2cRead(host, kEeprom, 0, 0), Bytes{});
    EXPECT_EQ(firmware.counters().strayTransfers, 0u);
}

TEST(DemoBus, AWriteWhoseBlockNeverCameLeavesTheNextPacketACommand) {
    DemoFirmware firmware;
    Host host(firmware);
    const auto before = firmware.eepromBytes();
    host.set(CMD_I2C, {length(5), selector(I2C_RAW), payload(0, kEeprom), payload(1, 0)});
    EXPECT_EQ(host.get(CMD_SYSTEM, {selector(SYS_PING)}).size(), 20u);
    EXPECT_EQ(firmware.counters().missedBlocks, 1u);
    // The block arriving late is a stray, not a write.
    EXPECT_TRUE(host.block({1, 2, 3, 4, 5}).empty());
    EXPECT_EQ(firmware.counters().strayTransfers, 1u);
    EXPECT_EQ(firmware.eepromBytes(), before);
}

TEST(DemoBus, ABlockOfPacketSizeIsDataWhenAnnounced) {
    DemoFirmware firmware;
    Host host(firmware);
    Bytes data(64, CMD_SYSTEM);  // looks like a system command, but it is EEPROM data
    data[1] = DIR_SET;
    data[3] = SYS_RESET;
    i2cWrite(host, kEeprom, 64, data);
    EXPECT_EQ(firmware.counters().resets, 0u);
    EXPECT_EQ(i2cRead(host, kEeprom, 64, 64), data);
}

TEST(DemoBus, PhyAnswersWithItsIdentifiers) {
    DemoFirmware firmware;
    Host host(firmware);
    EXPECT_EQ(host.get(CMD_MDIO, {selector(0), payload(0, 2), payload(1, 0)}),
              (Bytes{0x00, 0x22, 0x00}));
    EXPECT_EQ(host.get(CMD_MDIO, {selector(0), payload(0, 3), payload(1, 0)}),
              (Bytes{0x00, 0x22, 0x16}));
    EXPECT_EQ(host.get(CMD_MDIO, {selector(0), payload(0, 1), payload(1, 0)}),
              (Bytes{0x00, 0x6D, 0x79}));
}

TEST(DemoBus, MdioRegistersRoundTripWithSixteenBitNumbersAndValues) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_MDIO, {selector(0), payload(0, 0x34), payload(1, 0x12), payload(2, 0xCD),
                        payload(3, 0xAB)});
    EXPECT_EQ(firmware.mdio().read(0, 0x1234), 0xABCD);
    EXPECT_EQ(host.get(CMD_MDIO, {selector(0), payload(0, 0x34), payload(1, 0x12)}),
              (Bytes{0x00, 0xCD, 0xAB}));
    // Register 0x0034 is another register.
    EXPECT_EQ(firmware.mdio().read(0, 0x0034), 0x0000);
}

TEST(DemoBus, AnEmptyMdioAddressReadsAllOnes) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_MDIO, {selector(5), payload(0, 4), payload(1, 0), payload(2, 1), payload(3, 0)});
    EXPECT_EQ(host.get(CMD_MDIO, {selector(5), payload(0, 4), payload(1, 0)}),
              (Bytes{0x05, 0xFF, 0xFF}));
}

TEST(DemoBus, PhyStatusIsReadOnlyAndItsResetBitRestoresIt) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_MDIO, {selector(0), payload(0, 1), payload(1, 0), payload(2, 0), payload(3, 0)});
    EXPECT_EQ(firmware.mdio().read(0, 1), 0x796D);
    host.set(CMD_MDIO, {selector(0), payload(0, 4), payload(1, 0), payload(2, 0x61), payload(3, 0)});
    EXPECT_EQ(firmware.mdio().read(0, 4), 0x0061);
    host.set(CMD_MDIO, {selector(0), payload(0, 0), payload(1, 0), payload(2, 0x00), payload(3, 0x80)});
    EXPECT_EQ(firmware.mdio().read(0, 4), 0x01E1);
    EXPECT_EQ(firmware.mdio().read(0, 0), 0x1140);
}

}  // namespace
}  // namespace tarvex::emulated::demo::testing
