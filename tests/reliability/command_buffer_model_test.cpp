// The command buffer model itself: it must reject what a faulty command would send, or the
// matrix and the fuzzer that lean on it would prove nothing.
#include <gtest/gtest.h>

#include "reliability/command_buffer_model.h"
#include "reliability/command_bytes.h"

namespace tarvex::reliability {
namespace {

Bytes packetWith(std::initializer_list<std::pair<int, std::uint8_t>> bytes, Bytes base = Bytes(64, 0)) {
    for (const auto& [at, value] : bytes) base[static_cast<std::size_t>(at)] = value;
    return base;
}

TEST(CommandBufferModel, AcceptsACommandThatWritesExactlyItsBytes) {
    CommandBufferModel model;
    const Bytes mac = packetWith({{0, 0xF9}, {1, 0}, {3, 3}, {4, 1}, {5, 2}, {6, 3}, {7, 4}, {8, 5}, {9, 6}});
    const std::uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(model.advance(wire::setEth(3, bytes), {mac}), "");
    // The ping after it carries the MAC's bytes along.
    EXPECT_EQ(model.advance(wire::ping(), {packetWith({{0, 0xFA}, {1, 1}, {3, 0}}, mac)}), "");
}

TEST(CommandBufferModel, RejectsAByteTheCommandShouldNotHaveWritten) {
    CommandBufferModel model;
    EXPECT_NE(model.advance(wire::ping(), {packetWith({{0, 0xFA}, {1, 1}, {2, 6}})}), "");
}

TEST(CommandBufferModel, RejectsAForgottenLeftoverByte) {
    CommandBufferModel model;
    const std::uint8_t addr[4] = {9, 9, 9, 9};
    ASSERT_EQ(model.advance(wire::setEth(0, addr), {packetWith({{0, 0xF9}, {4, 9}, {5, 9}, {6, 9}, {7, 9}})}), "");
    // A scope request that cleared the payload instead of leaving it.
    EXPECT_NE(model.advance(wire::scopePacket(false), {packetWith({{0, 0xF6}, {1, 1}})}), "");
}

TEST(CommandBufferModel, RejectsATransferNoStepExplains) {
    CommandBufferModel model;
    const Bytes reset = packetWith({{0, 0xFA}, {3, 1}});
    EXPECT_NE(model.advance(wire::resetMcu(), {reset, reset}), "");
    const std::uint8_t data[2] = {1, 2};
    CommandBufferModel other;
    // I2C data after a header that never reached the board.
    EXPECT_NE(other.advance(wire::i2cWrite(0x50, data, 2, 0, 0), {Bytes{1, 2}}), "");
}

TEST(CommandBufferModel, ACommandThatNeverReachedTheBoardStillWroteTheBuffer) {
    CommandBufferModel model;
    ASSERT_EQ(model.advance(wire::setDeviceId(0x42), {}), "");
    EXPECT_EQ(model.value(4), 0x42);
    EXPECT_EQ(model.knownBits(4), 0xFF);
    EXPECT_NE(model.advance(wire::resetMcu(), {packetWith({{0, 0xFA}, {3, 1}})}), "")
        << "byte 4 must still hold the device id";
}

TEST(CommandBufferModel, RegisterBitsTheBoardDecidesAreCheckedOnlyWhereFixed) {
    CommandBufferModel model;
    const Bytes read = packetWith({{0, 0xF0}, {1, 1}, {3, 3}});
    const Bytes low = packetWith({{0, 0xF0}, {1, 0}, {3, 3}, {4, 0xA0}}, read);
    const Bytes high = packetWith({{0, 0xF0}, {1, 0}, {3, 3}, {4, 0xA3}}, read);
    EXPECT_EQ(model.advance(wire::resetFifo(), {read, low, high}), "");
    CommandBufferModel wrong;
    const Bytes notLow = packetWith({{0, 0xF0}, {1, 0}, {3, 3}, {4, 0xA1}}, read);
    EXPECT_NE(wrong.advance(wire::resetFifo(), {read, notLow, high}), "")
        << "the reset pulse must drive bits 0 and 1 low";
}

TEST(CommandBufferModel, CalibrationValuesEncodeAsTheProtocolSays) {
    const auto one = wire::encodeCalibration(1.5f);
    EXPECT_EQ(Bytes(one.bytes, one.bytes + 4), (Bytes{0x01, 0x00, 0x88, 0x13}));
    const auto negative = wire::encodeCalibration(-0.5f);
    EXPECT_EQ(Bytes(negative.bytes, negative.bytes + 4), (Bytes{0x00, 0x00, 0x78, 0xEC}));
    const auto big = wire::encodeCalibration(70000.25f);
    EXPECT_EQ(Bytes(big.bytes, big.bytes + 4), (Bytes{0x70, 0x11, 0xC4, 0x09}));
}

}  // namespace
}  // namespace tarvex::reliability
