// Calibration values: the fixed-point wire format both ways, to the byte and to the float, and
// the two exchanges that store and read the seven values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "commands/calibration.h"
#include "commands_fixture.h"
#include "port/port_table.h"

namespace tarvex::testing {
namespace {

using commands::CalibEntry;
using commands::decodeCalib;
using commands::encodeCalib;

// Bit-for-bit equality of floats (so that 1.2345f is not "close enough" to 1.2346f).
std::uint32_t bitsOf(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

struct Row {
    float value;
    std::uint16_t intPart, fracPart;
    float readBack;
};

TEST(CalibrationFormat, EncodesAndDecodesEveryRowExactly) {
    const Row rows[] = {
        {1.5f, 1, 5000, 1.5f},
        {1.2346f, 1, 2345, 1.2345f},  // its float lies just below 1.2346
        {100.0001f, 100, 0, 100.0f},
        {2.7182817f, 2, 7182, 2.7182f},
        {0.00009f, 0, 0, 0.0f},
        {65535.9999f, 0, 0, 0.0f},  // 65536 in single precision
        {65535.99609375f, 65535, 9960, 65535.99609375f},
        {-0.5f, 0, 60536, 6.0536f},
        {-1.5f, 65535, 60536, 65541.0546875f},
        {70000.25f, 4464, 2500, 4464.25f},
        {0.0f, 0, 0, 0.0f},
    };
    for (const auto& r : rows) {
        const CalibEntry e = encodeCalib(r.value);
        EXPECT_EQ(e.intPart, r.intPart) << r.value;
        EXPECT_EQ(e.fracPart, r.fracPart) << r.value;
        EXPECT_EQ(bitsOf(decodeCalib(e)), bitsOf(r.readBack)) << r.value << " read back as "
                                                          << decodeCalib(e);
    }
}

TEST(CalibrationFormat, AnySixteenBitFractionIsAcceptedOnReading) {
    EXPECT_EQ(bitsOf(decodeCalib({0, 0xFFFF})), bitsOf(6.5535f));
    EXPECT_EQ(bitsOf(decodeCalib({65535, 0xFFFF})), bitsOf(65535.0f + 6.5535f));
    EXPECT_EQ(bitsOf(decodeCalib({3, 10000})), bitsOf(4.0f));
}

TEST(CalibrationFormat, ValuesBeyondThirtyTwoBitsKeepTheSixteenBitRemainders) {
    struct Case {
        float value;
        std::uint16_t intPart, fracPart;
    } const cases[] = {
        {262143.5f, 65535, 5000},  // the last value whose truncations both fit 32 bits
        {262144.5f, 0, 5000},
        {300000.5f, 37856, 5000},
        {-196608.5f, 0, 60536},
        {-196609.5f, 65535, 60536},
        {3e9f, 24064, 0},           // its truncation does not fit a 32-bit integer either
        {1e20f, 0, 0},
        {-1e20f, 0, 0},
        {std::numeric_limits<float>::max(), 0, 0},
    };
    for (const auto& c : cases) {
        const CalibEntry e = encodeCalib(c.value);
        EXPECT_EQ(e.intPart, c.intPart) << c.value;
        EXPECT_EQ(e.fracPart, c.fracPart) << c.value;
    }
}

TEST(CalibrationFormat, NanAndInfinitiesEncodeAsZero) {
    for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity()}) {
        const CalibEntry e = encodeCalib(v);
        EXPECT_EQ(e.intPart, 0) << v;
        EXPECT_EQ(e.fracPart, 0) << v;
    }
}

// ---- the exchanges --------------------------------------------------------------------------

using CalibrationCommands = CommandTest;

const float kValues[CALIB_VALUE_COUNT] = {1.5f, 1.2346f, -0.5f, 70000.25f, 0.0f, 2.7182817f,
                                          65535.99609375f};
const Bytes kBlock = {0x01, 0x00, 0x88, 0x13,   // 1.5
                      0x01, 0x00, 0x29, 0x09,   // 1 and 2345
                      0x00, 0x00, 0x78, 0xEC,   // 0 and 60536
                      0x70, 0x11, 0xC4, 0x09,   // 4464 and 2500
                      0x00, 0x00, 0x00, 0x00,   //
                      0x02, 0x00, 0x0E, 0x1C,   // 2 and 7182
                      0xFF, 0xFF, 0xE8, 0x26};  // 65535 and 9960

TEST_F(CalibrationCommands, StoreSendsTheHeaderThenTheTwentyEightByteBlock) {
    const Bytes before = commandBuffer();
    EXPECT_EQ(u_StoreScopeCalibValues(0, kValues), 1);
    ASSERT_EQ(received().size(), 2u);
    EXPECT_EQ(sent(0), with(before, {{0, 0xFA}, {1, 0x00}, {2, 28}, {3, 3}}));
    EXPECT_EQ(sent(1), kBlock) << "28 bytes, not padded";
}

TEST_F(CalibrationCommands, StoreStillWritesTheBlockAfterAHeaderThatTimedOut) {
    board->injectFault({FaultKind::kStallWrite});
    const Micros start = world.now();
    EXPECT_EQ(u_StoreScopeCalibValues(0, kValues), 0);
    ASSERT_EQ(received().size(), 1u) << "the stalled header never arrived; the block did";
    EXPECT_EQ(sent(0), kBlock);
    EXPECT_EQ(msSince(start), 250.0);
}

TEST_F(CalibrationCommands, StoreReportsAFailedBlockWrite) {
    board->injectFault(noFault());
    board->injectFault({FaultKind::kRefuseWrite, platform::kErrorGenFailure});
    EXPECT_EQ(u_StoreScopeCalibValues(0, kValues), 0);
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(CalibrationCommands, StoreOnANeverOpenedIndexWritesNoBlock) {
    // Index 9 is opened nowhere in this test program: its pipes hold the handle 0.
    ASSERT_EQ(port::outPipeOf(9), nullptr);
    EXPECT_EQ(u_StoreScopeCalibValues(9, kValues), 0);
    const auto writes = spy.of("writeFile");
    ASSERT_EQ(writes.size(), 1u) << "the header's write is tried once; the block never is";
    EXPECT_EQ(writes[0].handle, nullptr);
    EXPECT_EQ(writes[0].length, 64u);
    EXPECT_TRUE(received().empty());
}

TEST_F(CalibrationCommands, ReadSendsTheRequestAndDecodesReplyBytesOneToTwentyEight) {
    Bytes reply = {0x5A};
    reply.insert(reply.end(), kBlock.begin(), kBlock.end());
    firmware->script[CMD_SYSTEM].push_back(reply);
    const Bytes before = commandBuffer();
    float values[CALIB_VALUE_COUNT];
    EXPECT_EQ(u_GetScopeCalibValues(0, values), XFER_OK);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(sent(0), with(before, {{0, 0xFA}, {1, 0x01}, {2, 28}, {3, 3}}));
    const float expected[] = {1.5f, 1.2345f, 6.0536f, 4464.25f, 0.0f, 2.7182f, 65535.99609375f};
    for (int i = 0; i < CALIB_VALUE_COUNT; ++i) EXPECT_EQ(bitsOf(values[i]), bitsOf(expected[i])) << i;
}

TEST_F(CalibrationCommands, ReadFillsAllSevenValuesWhateverTheResult) {
    // Short: entries 0 and 1 arrive, the rest read from the zeroed buffer.
    Bytes shortReply = {0x00, 0x01, 0x00, 0x88, 0x13, 0x02, 0x00};
    firmware->script[CMD_SYSTEM].push_back(shortReply);
    float values[CALIB_VALUE_COUNT];
    std::fill(std::begin(values), std::end(values), -1.0f);
    EXPECT_EQ(u_GetScopeCalibValues(0, values), XFER_SHORT);
    EXPECT_EQ(values[0], 1.5f);
    EXPECT_EQ(values[1], 2.0f);
    for (int i = 2; i < CALIB_VALUE_COUNT; ++i) EXPECT_EQ(values[i], 0.0f) << i;

    std::fill(std::begin(values), std::end(values), -1.0f);
    const Micros start = world.now();
    EXPECT_EQ(u_GetScopeCalibValues(0, values), XFER_FAIL);  // no reply
    EXPECT_EQ(msSince(start), 250.0);
    for (float v : values) EXPECT_EQ(v, 0.0f);
}

TEST_F(CalibrationCommands, MissingValuesAreRefusedWithoutIo) {
    EXPECT_EQ(u_StoreScopeCalibValues(0, nullptr), 0);
    EXPECT_EQ(u_GetScopeCalibValues(0, nullptr), XFER_FAIL);
    EXPECT_TRUE(received().empty());
}

}  // namespace
}  // namespace tarvex::testing
