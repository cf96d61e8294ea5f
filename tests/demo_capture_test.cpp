// The capture FIFO under port 3's acquisition bits, and the scope and fast packets it feeds.
#include <algorithm>

#include "demo_firmware_test.h"

namespace tarvex::emulated::demo::testing {
namespace {

std::size_t marks(const std::vector<std::uint16_t>& words) {
    return static_cast<std::size_t>(
        std::count_if(words.begin(), words.end(), [](std::uint16_t w) { return (w & 0x1000) != 0; }));
}

TEST(DemoCapture, ACaptureDeliversTwelveBitSamplesWithTheFirstMarked) {
    DemoFirmware firmware;
    Host host(firmware);
    host.startCapture();
    const auto words = host.words(100);
    ASSERT_EQ(words.size(), 3200u);
    EXPECT_NE(words[0] & 0x1000, 0);
    EXPECT_EQ(marks(words), 1u);
    for (std::uint16_t w : words) {
        EXPECT_EQ(w & 0xE000, 0);
        EXPECT_GE(w & 0x0FFF, 1);  // a sample is never 0: 0 is what an empty FIFO reads
    }
}

TEST(DemoCapture, BeforeAnyCaptureAPacketReadsZerosAndFlagsUnderflow) {
    DemoFirmware firmware;
    Host host(firmware);
    const auto words = host.words(1);
    ASSERT_EQ(words.size(), 32u);
    for (std::uint16_t w : words) EXPECT_EQ(w, 0);
    EXPECT_EQ(host.getPort(3), 0x0083);
    // A FIFO reset clears the flag.
    host.setPort(3, 0x0000);
    host.setPort(3, 0x0003);
    EXPECT_EQ(host.getPort(3), 0x0003);
}

TEST(DemoCapture, OnlyARisingCaptureEnableEdgeStartsACapture) {
    DemoFirmware firmware;
    Host host(firmware);
    host.setPort(3, 0x0023);  // 0 -> 1
    EXPECT_TRUE(firmware.fifo().capturing());
    EXPECT_EQ(firmware.fifo().capturesStarted(), 1u);
    auto first = host.words(1);
    EXPECT_NE(first[0] & 0x1000, 0);
    host.setPort(3, 0x0023);  // stays 1: the capture goes on, no new trigger
    EXPECT_EQ(firmware.fifo().capturesStarted(), 1u);
    auto next = host.words(1);
    EXPECT_EQ(marks(next), 0u);
    host.setPort(3, 0x0003);
    host.setPort(3, 0x0023);
    EXPECT_EQ(firmware.fifo().capturesStarted(), 2u);
    EXPECT_NE(host.words(1)[0] & 0x1000, 0);
}

TEST(DemoCapture, FifoResetHoldsTheFifoEmptyAndStopsTheCapture) {
    DemoFirmware firmware;
    Host host(firmware);
    host.startCapture();
    host.words(3);
    for (std::uint16_t held : {0x0020, 0x0021, 0x0022}) {
        host.setPort(3, held);
        EXPECT_FALSE(firmware.fifo().capturing()) << held;
        EXPECT_FALSE(firmware.fifo().holdsData()) << held;
    }
    // A capture enable edge while the FIFO is held starts nothing.
    host.setPort(3, 0x0000);
    host.setPort(3, 0x0020);
    EXPECT_FALSE(firmware.fifo().capturing());
    // Out of reset the FIFO is empty and ready, but only a new edge starts it.
    host.setPort(3, 0x0023);
    EXPECT_FALSE(firmware.fifo().capturing());
    EXPECT_FALSE(firmware.fifo().holdsData());
    EXPECT_EQ(host.getPort(3), 0x0023);
}

TEST(DemoCapture, TheLibrarysCaptureStartWritesTriggerOneCapture) {
    DemoFirmware firmware;
    Host host(firmware);
    for (int capture = 1; capture <= 3; ++capture) {
        host.startCapture();
        EXPECT_EQ(firmware.fifo().capturesStarted(), static_cast<std::uint32_t>(capture));
        EXPECT_EQ(host.getPort(3), 0x0023);
        const auto words = host.words(4);
        EXPECT_NE(words[0] & 0x1000, 0);
        EXPECT_EQ(marks(words), 1u);
    }
}

TEST(DemoCapture, StoppingACaptureLeavesTheFifoContentReadable) {
    DemoOptions options;
    options.fifoDepth = 96;
    DemoFirmware firmware(options);
    Host host(firmware);
    host.startCapture();
    host.words(10);  // a running capture keeps the FIFO full
    EXPECT_EQ(firmware.fifo().buffered(), 96u);
    host.setPort(3, 0x0003);
    const auto rest = host.words(3);
    for (std::uint16_t w : rest) EXPECT_NE(w & 0x0FFF, 0);
    EXPECT_EQ(host.getPort(3) & 0x0080, 0);
    const auto empty = host.words(1);
    for (std::uint16_t w : empty) EXPECT_EQ(w, 0);
    EXPECT_EQ(host.getPort(3) & 0x0080, 0x0080);
}

TEST(DemoCapture, FastPacketsComeFromTheSameFifo) {
    DemoOptions options;
    options.signal.noiseRms = 0;
    options.signal.jitterRms = 0;
    DemoFirmware scopeBoard(options);
    DemoFirmware mixedBoard(options);
    Host scope(scopeBoard);
    Host mixed(mixedBoard);
    scope.startCapture();
    mixed.startCapture();
    const auto expected = scope.words(4);
    std::vector<std::uint16_t> got = mixed.words(1, CMD_SCOPE_FAST);
    const auto more = mixed.words(2, CMD_SCOPE);
    got.insert(got.end(), more.begin(), more.end());
    const auto last = mixed.words(1, CMD_SCOPE_FAST);
    got.insert(got.end(), last.begin(), last.end());
    EXPECT_EQ(got, expected);
}

TEST(DemoCapture, FastPacketLengthIsAnOption) {
    DemoOptions options;
    options.fastPacketBytes = 512;
    DemoFirmware firmware(options);
    Host host(firmware);
    host.startCapture();
    EXPECT_EQ(host.get(CMD_SCOPE_FAST, {}).size(), 512u);
    EXPECT_EQ(host.get(CMD_SCOPE, {}).size(), 64u);
    options.fastPacketBytes = 4096;  // more than a fast slot holds
    EXPECT_EQ(DemoFirmware(options).options().fastPacketBytes, 512u);
    options.fastPacketBytes = 0;
    EXPECT_EQ(DemoFirmware(options).options().fastPacketBytes, 2u);
}

TEST(DemoCapture, ScopePacketsIgnoreWhateverTheOtherBytesHold) {
    DemoFirmware a;
    DemoFirmware b;
    Host hostA(a, 0x00);
    Host hostB(b, 0x5F);
    hostA.startCapture();
    hostB.startCapture();
    EXPECT_EQ(hostA.words(5), hostB.words(5));
}

}  // namespace
}  // namespace tarvex::emulated::demo::testing
