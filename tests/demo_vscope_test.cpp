// The VScope eye (build time, pages, shape) and the VSC temperature sensor.
#include <algorithm>
#include <cstdlib>

#include "demo_firmware_test.h"

namespace tarvex::emulated::demo::testing {
namespace {

constexpr Micros kBuildTime = 1'200'000;

Bytes page(Host& host, std::uint8_t pageLength, std::uint16_t offset) {
    return host.get(CMD_VSCOPE, {length(pageLength), selector(static_cast<std::uint8_t>(offset & 0xFF)),
                                 payload(0, static_cast<std::uint8_t>(offset >> 8))});
}

Bytes wholeEye(Host& host) {
    Bytes eye;
    for (std::uint16_t offset = 0; offset < 1024; offset += 64) {
        const Bytes bytes = page(host, 64, offset);
        eye.insert(eye.end(), bytes.begin(), bytes.end());
    }
    return eye;
}

TEST(DemoVScope, NoEyeBeforeTheFirstGenerate) {
    DemoFirmware firmware;
    Host host(firmware);
    host.now = 10'000'000;
    EXPECT_EQ(page(host, 64, 0), Bytes{});
}

TEST(DemoVScope, TheEyeIsReadyOnlyOnceItsBuildTimeHasPassed) {
    DemoFirmware firmware;
    Host host(firmware);
    host.now = 5'000'000;
    host.set(CMD_VSCOPE, {});
    host.now += kBuildTime - 1;
    EXPECT_EQ(page(host, 64, 0), Bytes{});
    host.now += 1;
    EXPECT_EQ(page(host, 64, 0).size(), 64u);
}

TEST(DemoVScope, TheHostsSettleTimeIsEnough) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_VSCOPE, {});
    host.now += 1'500'000;
    const Bytes eye = wholeEye(host);
    ASSERT_EQ(eye.size(), 1024u);
    EXPECT_TRUE(std::equal(eye.begin(), eye.end(), firmware.vscope().eye().begin()));
}

TEST(DemoVScope, PagesComeFromTheirOffsetWithTheirLength) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_VSCOPE, {});
    host.now += kBuildTime;
    const auto& eye = firmware.vscope().eye();
    struct Case {
        std::uint8_t length;
        std::uint16_t offset;
    };
    for (const Case c : {Case{64, 0}, Case{64, 960}, Case{17, 300}, Case{255, 512}, Case{1, 1023}}) {
        const Bytes bytes = page(host, c.length, c.offset);
        ASSERT_EQ(bytes.size(), c.length);
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), eye.begin() + c.offset)) << c.offset;
    }
}

TEST(DemoVScope, APageRequestReadsOnlyItsLengthAndOffsetBytes) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_VSCOPE, {});
    host.now += kBuildTime;
    std::fill(host.buffer.begin() + 5, host.buffer.end(), std::uint8_t{0x00});
    const Bytes first = page(host, 32, 128);
    std::fill(host.buffer.begin() + 5, host.buffer.end(), std::uint8_t{0xFF});
    EXPECT_EQ(page(host, 32, 128), first);
    EXPECT_EQ(firmware.vscope().builds(), 1u);
}

TEST(DemoVScope, BytesPastTheEyesEndReadZero) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_VSCOPE, {});
    host.now += kBuildTime;
    const Bytes straddling = page(host, 64, 1000);
    ASSERT_EQ(straddling.size(), 64u);
    EXPECT_TRUE(std::equal(straddling.begin(), straddling.begin() + 24,
                           firmware.vscope().eye().begin() + 1000));
    for (std::size_t i = 24; i < 64; ++i) EXPECT_EQ(straddling[i], 0) << i;
    EXPECT_EQ(page(host, 64, 65472), Bytes(64, 0));  // page 0's offset
    EXPECT_EQ(page(host, 0, 0), Bytes{});
}

TEST(DemoVScope, TheEyeIsOpenInTheMiddleAndCrossesAtTheEdges) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_VSCOPE, {});
    host.now += kBuildTime;
    const Bytes eye = wholeEye(host);
    auto cell = [&](int row, int column) { return eye[static_cast<std::size_t>(32 * row + column)]; };
    int centreMiddle = 0, centreRails = 0, edgeMiddle = 0;
    for (int column = 13; column <= 18; ++column) {
        for (int row = 11; row <= 20; ++row) centreMiddle += cell(row, column);
        for (int row = 0; row < 32; ++row) centreRails += cell(row, column);
    }
    for (int column : {0, 31})
        for (int row = 11; row <= 20; ++row) edgeMiddle += cell(row, column);
    EXPECT_EQ(centreMiddle, 0);
    EXPECT_GT(centreRails, 500);
    EXPECT_GT(edgeMiddle, 20);
}

TEST(DemoVScope, EachBuildIsANewSweep) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_VSCOPE, {});
    host.now += kBuildTime;
    const Bytes first = wholeEye(host);
    host.set(CMD_VSCOPE, {});
    EXPECT_EQ(page(host, 64, 0), Bytes{});  // the old eye is gone while the new one builds
    host.now += kBuildTime;
    const Bytes second = wholeEye(host);
    EXPECT_NE(first, second);
    EXPECT_EQ(firmware.vscope().builds(), 2u);
    // A little, not a different picture: no busy cell of one build is empty in the other, and
    // the counts move by far less than they hold.
    int total = 0, moved = 0;
    for (std::size_t i = 0; i < first.size(); ++i) {
        total += first[i];
        moved += std::abs(int(first[i]) - int(second[i]));
        if (first[i] >= 20) {
            EXPECT_GT(second[i], 0) << i;
        }
        if (second[i] >= 20) {
            EXPECT_GT(first[i], 0) << i;
        }
    }
    EXPECT_LT(moved, total / 3);
}

TEST(DemoVScope, AResetLosesTheEye) {
    DemoFirmware firmware;
    Host host(firmware);
    host.set(CMD_VSCOPE, {});
    host.now += kBuildTime;
    host.set(CMD_SYSTEM, {selector(SYS_RESET)});
    EXPECT_EQ(page(host, 64, 0), Bytes{});
}

TEST(DemoVScope, BuildTimeIsAnOption) {
    DemoOptions options;
    options.vscopeBuildTime = 100;
    DemoFirmware firmware(options);
    Host host(firmware);
    host.set(CMD_VSCOPE, {});
    host.now += 99;
    EXPECT_EQ(page(host, 8, 0), Bytes{});
    host.now += 1;
    EXPECT_EQ(page(host, 8, 0).size(), 8u);
}

double celsius(const Bytes& reading) { return reading[1] + reading[0] / 256.0; }

TEST(DemoTemperature, TheDieWarmsFromPowerOnTowardItsSettledTemperature) {
    DemoFirmware firmware;
    Host host(firmware);
    const Bytes cold = host.get(CMD_VSC_TEMP, {selector(0)});
    ASSERT_EQ(cold.size(), 2u);
    EXPECT_EQ(cold[1], 35);
    EXPECT_EQ(cold[0], 0);
    double previous = celsius(cold);
    for (Micros seconds : {60, 300, 900, 1800}) {
        host.now = seconds * 1'000'000;
        const double now = celsius(host.get(CMD_VSC_TEMP, {selector(0)}));
        EXPECT_GT(now, previous) << seconds;
        previous = now;
    }
    host.now = Micros{3} * 3600 * 1'000'000;
    const Bytes warm = host.get(CMD_VSC_TEMP, {selector(0)});
    EXPECT_NEAR(warm[1], 48, 1);
}

TEST(DemoTemperature, ReadingsWanderSlowlyAndRepeatForTheSameTime) {
    DemoFirmware a;
    DemoFirmware b;
    Host hostA(a);
    Host hostB(b);
    double low = 1e9, high = -1e9;
    for (Micros second = 7200; second < 7200 + 600; second += 5) {
        hostA.now = hostB.now = second * 1'000'000;
        const Bytes reading = hostA.get(CMD_VSC_TEMP, {selector(0)});
        EXPECT_EQ(reading, hostB.get(CMD_VSC_TEMP, {selector(0)}));
        low = std::min(low, celsius(reading));
        high = std::max(high, celsius(reading));
    }
    EXPECT_GT(high - low, 0.3);
    EXPECT_LT(high - low, 2.0);
}

}  // namespace
}  // namespace tarvex::emulated::demo::testing
