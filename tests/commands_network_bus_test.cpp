// Network settings, I2C transactions, the clock chips' registers and MDIO: the bytes on the
// wire, the replies taken apart, and the time-outs.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "commands_fixture.h"

namespace tarvex::testing {
namespace {

using NetworkCommands = CommandTest;
using BusCommands = CommandTest;

TEST_F(NetworkCommands, SettersSendTheAddressBytesInArrayOrder) {
    const std::uint8_t ip[4] = {192, 168, 1, 10};
    struct Case {
        int (*set)(std::uint16_t, const std::uint8_t*);
        std::uint8_t selector;
    } const cases[] = {
        {u_SetEthIPAddr, 0}, {u_SetEthIPMask, 1}, {u_SetEthIPGateway, 2}};
    for (const auto& c : cases) {
        board->clearReceived();
        const Bytes before = commandBuffer();
        EXPECT_EQ(c.set(0, ip), 1);
        ASSERT_EQ(received().size(), 1u);
        EXPECT_EQ(sent(0), with(before, {{0, 0xF9}, {1, 0x00}, {3, c.selector},
                                         {4, 0xC0}, {5, 0xA8}, {6, 0x01}, {7, 0x0A}}));
    }
}

TEST_F(NetworkCommands, TheMacAddressTakesSixPayloadBytesThatLaterSettersCarryOn) {
    const std::uint8_t mac[6] = {0x00, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F};
    const Bytes before = commandBuffer();
    EXPECT_EQ(u_SetEthMACAddress(0, mac), 1);
    EXPECT_EQ(sent(0), with(before, {{0, 0xF9}, {1, 0x00}, {3, 3}, {4, 0x00}, {5, 0x1B},
                                     {6, 0x2C}, {7, 0x3D}, {8, 0x4E}, {9, 0x5F}}));
    const std::uint8_t ip[4] = {10, 0, 0, 1};
    EXPECT_EQ(u_SetEthIPAddr(0, ip), 1);
    EXPECT_EQ(sent(1)[8], 0x4E);
    EXPECT_EQ(sent(1)[9], 0x5F);
}

TEST_F(NetworkCommands, GettersReadTheReplyStraightIntoTheArray) {
    struct Case {
        int (*get)(std::uint16_t, std::uint8_t*);
        std::uint8_t selector;
        Bytes reply;
    } const cases[] = {
        {u_GetEthIPAddr, 0, {192, 168, 1, 10}},
        {u_GetEthIPMask, 1, {255, 255, 255, 0}},
        {u_GetEthIPGateway, 2, {192, 168, 1, 1}},
    };
    for (const auto& c : cases) {
        board->clearReceived();
        firmware->script[CMD_ETH].push_back(c.reply);
        const Bytes before = commandBuffer();
        Bytes addr(4, 0);
        EXPECT_EQ(c.get(0, addr.data()), XFER_OK);
        EXPECT_EQ(addr, c.reply);
        EXPECT_EQ(sent(0), with(before, {{0, 0xF9}, {1, 0x01}, {3, c.selector}}))
            << "the length byte is not written";
    }
}

TEST_F(NetworkCommands, TheMacGetterLeavesLengthSixForTheNextCommand) {
    firmware->script[CMD_ETH] = {{1, 2, 3, 4, 5, 6}, {1, 2, 3, 4}};
    Bytes mac(6, 0);
    const Bytes before = commandBuffer();
    EXPECT_EQ(u_GetEthMACAddress(0, mac.data()), XFER_OK);
    EXPECT_EQ(mac, (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(sent(0), with(before, {{0, 0xF9}, {1, 0x01}, {2, 6}, {3, 3}}));
    Bytes addr(4, 0);
    EXPECT_EQ(u_GetEthIPAddr(0, addr.data()), XFER_OK);
    EXPECT_EQ(sent(1)[2], 6);
}

TEST_F(NetworkCommands, AThreeByteReplyToAFourByteGetterWritesThreeBytes) {
    firmware->script[CMD_ETH].push_back({10, 20, 30});
    Bytes addr = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(u_GetEthIPGateway(0, addr.data()), XFER_SHORT);
    EXPECT_EQ(addr, (Bytes{10, 20, 30, 0xEE}));
}

TEST_F(NetworkCommands, AGetterThatFailsBeforeTheReadLeavesTheArrayUntouched) {
    board->injectFault({FaultKind::kRefuseWrite, platform::kErrorGenFailure});
    Bytes addr = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(u_GetEthIPAddr(0, addr.data()), XFER_FAIL);
    EXPECT_EQ(addr, Bytes(4, 0xEE));
}

TEST_F(NetworkCommands, MissingArraysAreRefusedWithoutIo) {
    for (auto* set : {u_SetEthIPAddr, u_SetEthIPMask, u_SetEthIPGateway, u_SetEthMACAddress})
        EXPECT_EQ(set(0, nullptr), 0);
    for (auto* get : {u_GetEthIPAddr, u_GetEthIPMask, u_GetEthIPGateway, u_GetEthMACAddress})
        EXPECT_EQ(get(0, nullptr), XFER_FAIL);
    EXPECT_TRUE(received().empty());
}

// ---- I2C ------------------------------------------------------------------------------------

TEST_F(BusCommands, AnI2cWriteSendsItsHeaderThenExactlyCountBytes) {
    Bytes data(200);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes before = commandBuffer();
    EXPECT_EQ(u_I2C_Write(0, 0x68, data.data(), 200, 0x12, 0x34), 1);
    ASSERT_EQ(received().size(), 2u);
    EXPECT_EQ(sent(0), with(before, {{0, 0xF2}, {1, 0x00}, {2, 200}, {3, 2}, {4, 0x68},
                                     {5, 0x12}, {6, 0x34}}));
    EXPECT_EQ(sent(1), data) << "one write of 200 bytes, not padded, not through outBuff";
    EXPECT_EQ(commandBuffer()[7], before[7]);
}

TEST_F(BusCommands, AnI2cWriteWhoseHeaderFailsSendsNoData) {
    board->injectFault({FaultKind::kRefuseWrite, platform::kErrorGenFailure});
    const Bytes data(8, 0x55);
    EXPECT_EQ(u_I2C_Write(0, 0x68, data.data(), 8, 0, 0), 0);
    EXPECT_TRUE(received().empty());
}

TEST_F(BusCommands, AnI2cWriteWhoseDataFailsReturnsZero) {
    board->injectFault(noFault());
    board->injectFault({FaultKind::kRefuseWrite, platform::kErrorGenFailure});
    const Bytes data(8, 0x55);
    EXPECT_EQ(u_I2C_Write(0, 0x68, data.data(), 8, 0, 0), 0);
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(BusCommands, AnI2cWriteOfNoBytesStillMakesAnEmptyWrite) {
    const std::uint8_t one = 0x99;
    for (const std::uint8_t* buffer : {&one, static_cast<const std::uint8_t*>(nullptr)}) {
        board->clearReceived();
        EXPECT_EQ(u_I2C_Write(0, 0x68, buffer, 0, 1, 2), 1);
        ASSERT_EQ(received().size(), 2u);
        EXPECT_EQ(sent(0)[2], 0) << "length 0";
        EXPECT_TRUE(sent(1).empty());
    }
}

TEST_F(BusCommands, AnI2cTransferWithoutABufferForItsBytesIsRefusedWithoutIo) {
    EXPECT_EQ(u_I2C_Write(0, 0x68, nullptr, 5, 0, 0), 0);
    EXPECT_EQ(u_I2C_Read(0, 0x68, 5, nullptr, 0, 0), XFER_FAIL);
    EXPECT_TRUE(received().empty());
}

TEST_F(BusCommands, AnI2cReadAsksForCountBytesStraightIntoTheBuffer) {
    firmware->script[CMD_I2C] = {{9, 8, 7}, {9}};
    const Bytes before = commandBuffer();
    Bytes buffer(3, 0xEE);
    EXPECT_EQ(u_I2C_Read(0, 0x50, 3, buffer.data(), 0x10, 0x20), XFER_OK);
    EXPECT_EQ(buffer, (Bytes{9, 8, 7}));
    EXPECT_EQ(sent(0), with(before, {{0, 0xF2}, {1, 0x01}, {2, 3}, {3, 2}, {4, 0x50},
                                     {5, 0x10}, {6, 0x20}}));
    buffer.assign(3, 0xEE);
    EXPECT_EQ(u_I2C_Read(0, 0x50, 3, buffer.data(), 0x10, 0x20), XFER_SHORT);
    EXPECT_EQ(buffer, (Bytes{9, 0xEE, 0xEE}));
}

// ---- clock chips ------------------------------------------------------------------------------

TEST_F(BusCommands, ClockChipRegistersTravelInBytesFourToSix) {
    struct Case {
        int (*set)(std::uint16_t, std::uint8_t, std::uint8_t, std::uint8_t);
        int (*get)(std::uint16_t, std::uint8_t, std::uint8_t, std::uint8_t*);
        std::uint8_t selector;
    } const cases[] = {{u_SetSi5326, u_GetSi5326, 0}, {u_SetSi5338, u_GetSi5338, 1}};
    for (const auto& c : cases) {
        board->clearReceived();
        const Bytes before = commandBuffer();
        EXPECT_EQ(c.set(0, 0x68, 0x88, 0x5A), 1);
        EXPECT_EQ(sent(0), with(before, {{0, 0xF2}, {1, 0x00}, {3, c.selector}, {4, 0x68},
                                         {5, 0x88}, {6, 0x5A}}));
        firmware->script[CMD_I2C].push_back({0x00, 0xC3});
        const Bytes afterSet = commandBuffer();
        std::uint8_t value = 0;
        EXPECT_EQ(c.get(0, 0x69, 0x89, &value), XFER_OK);
        EXPECT_EQ(value, 0xC3) << "the second reply byte";
        EXPECT_EQ(sent(1), with(afterSet, {{1, 0x01}, {4, 0x69}, {5, 0x89}}))
            << "byte 6 goes out as the setter left it";
    }
}

TEST_F(BusCommands, AClockChipReplyOfOneByteIsShort) {
    firmware->script[CMD_I2C].push_back({0x7E});
    std::uint8_t value = 0x77;
    EXPECT_EQ(u_GetSi5338(0, 0x70, 1, &value), XFER_SHORT);
    EXPECT_EQ(value, 0) << "byte 1 of the zeroed reply buffer";
}

TEST_F(BusCommands, ClockChipCommandsWaitOneHundredMilliseconds) {
    std::uint8_t value = 0;
    Micros start = world.now();
    EXPECT_EQ(u_GetSi5326(0, 0x68, 1, &value), XFER_FAIL);  // no reply
    EXPECT_EQ(msSince(start), 100.0);
    board->injectFault({FaultKind::kStallWrite});
    start = world.now();
    EXPECT_EQ(u_SetSi5338(0, 0x70, 1, 2), 0);
    EXPECT_EQ(msSince(start), 100.0);
    start = world.now();
    std::uint8_t buffer[2];
    EXPECT_EQ(u_I2C_Read(0, 0x50, 2, buffer, 0, 0), XFER_FAIL);
    EXPECT_EQ(msSince(start), 250.0) << "a raw I2C read waits the usual 250 ms";
}

// ---- MDIO -----------------------------------------------------------------------------------

TEST_F(BusCommands, AnMdioWriteSendsRegisterAndValueLittleEndian) {
    const Bytes before = commandBuffer();
    EXPECT_EQ(u_SetMDIO(0, 0x1F, 0x1234, 0xABCD), 1);
    EXPECT_EQ(sent(0), with(before, {{0, 0xF5}, {1, 0x00}, {3, 0x1F}, {4, 0x34}, {5, 0x12},
                                     {6, 0xCD}, {7, 0xAB}}));
}

TEST_F(BusCommands, AnMdioReadTakesTheValueFromReplyBytesOneAndTwo) {
    firmware->script[CMD_MDIO] = {{0x00, 0xCD, 0xAB}, {0x00, 0xCD}};
    const Bytes before = commandBuffer();
    std::uint16_t value = 0;
    EXPECT_EQ(u_GetMDIO(0, 0x01, 0x0203, &value), XFER_OK);
    EXPECT_EQ(value, 0xABCD);
    EXPECT_EQ(sent(0), with(before, {{0, 0xF5}, {1, 0x01}, {3, 0x01}, {4, 0x03}, {5, 0x02}}));
    EXPECT_EQ(u_GetMDIO(0, 0x01, 0x0203, &value), XFER_SHORT);
    EXPECT_EQ(value, 0x00CD);
    const Micros start = world.now();
    EXPECT_EQ(u_GetMDIO(0, 0x01, 0x0203, &value), XFER_FAIL);
    EXPECT_EQ(msSince(start), 250.0);
    EXPECT_EQ(value, 0);
}

TEST_F(BusCommands, GettersWithNowhereToPutTheValueAreRefusedWithoutIo) {
    EXPECT_EQ(u_GetSi5326(0, 1, 2, nullptr), XFER_FAIL);
    EXPECT_EQ(u_GetSi5338(0, 1, 2, nullptr), XFER_FAIL);
    EXPECT_EQ(u_GetMDIO(0, 1, 2, nullptr), XFER_FAIL);
    EXPECT_TRUE(received().empty());
}

}  // namespace
}  // namespace tarvex::testing
