// A board that leaves in the middle of a long sequence: a 1000-packet capture and the VScope
// eye.  The sequence runs to its end with its sleeps, every packet after the unplug fails at once
// without waiting, and the counters and results say exactly how much arrived.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "reliability/command_bytes.h"
#include "reliability/rig.h"

namespace tarvex::reliability {
namespace {

constexpr std::uint16_t kPackets = 1000;
constexpr std::uint32_t kUnplugAtPacket = 500;  // packets 1..500 arrive, 501..1000 do not
constexpr std::uint32_t kCaptureStartWrites = 7;

struct CaptureKind {
    const char* name;
    bool fast;
    bool eye;
};
// GoogleTest would otherwise print the struct's bytes, its padding among them.
void PrintTo(const CaptureKind& kind, std::ostream* os) { *os << kind.name; }

class UnplugMidCapture
    : public ::testing::TestWithParam<std::tuple<CaptureKind, std::uint32_t /*dead handle code*/>> {};

TEST_P(UnplugMidCapture, CountsWhatArrivedAndFailsTheRestAtOnce) {
    const auto [kind, deadCode] = GetParam();
    Rig r;
    r.world.setVanishedError(deadCode);
    r.board->injectFaults(kCaptureStartWrites + kUnplugAtPacket, noFault());
    r.board->injectFault({FaultKind::kUnplug});

    std::vector<std::uint16_t> samples(std::size_t{kPackets} * 32, 0xEEEE);
    std::vector<std::uint16_t> eyeX(samples.size(), 0xEEEE);
    std::vector<std::uint8_t> fast(std::size_t{kPackets} * 512, 0xEE);
    ScopeStats stats{};
    const Micros start = r.world.now();
    int result = 0;
    if (kind.eye)
        result = u_GetEyeXY(0, kPackets, 10.3125e9, 100e6, eyeX.data(), 0, samples.data(), &stats);
    else if (kind.fast)
        result = u_GetScopeSamplesFast(0, kPackets, fast.data(), &stats);
    else
        result = u_GetScopeSamples(0, kPackets, samples.data(), &stats);

    EXPECT_EQ(result, 1);
    EXPECT_EQ(stats.okCount, kUnplugAtPacket);
    EXPECT_EQ(stats.failCount, kPackets - kUnplugAtPacket);
    EXPECT_EQ(stats.shortCount, 0);
    EXPECT_EQ(stats.sampleCount, kPackets * (kind.fast ? 256u : 32u));
    // The capture start's sleeps; the packets the board answered at once and the dead ones
    // failed at once, so nothing waited for a time-out.
    EXPECT_DOUBLE_EQ(r.msSince(start), 150.0);
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);
    EXPECT_EQ(r.rowDropped(), deadCode == 6);

    const std::string wire =
        r.model.advance(wire::scopeSamples(kind.fast, kPackets), r.takeReceived());
    EXPECT_TRUE(wire.empty()) << wire;
    EXPECT_EQ(r.board->received().size(), kCaptureStartWrites + kUnplugAtPacket);

    if (!kind.fast) {
        for (std::uint16_t s : samples) ASSERT_LE(s, 4095) << "samples are 12 bits";
    } else {
        // Slots of packets that never came keep what the caller had there.
        for (std::size_t i = kUnplugAtPacket * 512; i < fast.size(); ++i) ASSERT_EQ(fast[i], 0xEE);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Captures, UnplugMidCapture,
    ::testing::Combine(::testing::Values(CaptureKind{"Samples", false, false},
                                         CaptureKind{"Fast", true, false},
                                         CaptureKind{"EyeXY", false, true}),
                       ::testing::Values(1167u, 6u)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == 6 ? "DeadHandlesInvalid" : "DeadHandlesNotConnected");
    });

TEST(UnplugMidVScope, TheRemainingPagesFailAtOnceAndTheSleepsStillHappen) {
    Rig r;
    r.board->injectFaults(8, noFault());  // the generate request and pages 1 to 7 arrive
    r.board->injectFault({FaultKind::kUnplug});
    std::uint8_t eye[1024];
    std::fill(std::begin(eye), std::end(eye), 0xEE);

    const Micros start = r.world.now();
    EXPECT_EQ(u_GetVScopeSamples(0, eye), 0);
    EXPECT_DOUBLE_EQ(r.msSince(start), 1500.0 + 16 * 25.0);
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);

    const std::string wire = r.model.advance(wire::vScopeSamples(), r.takeReceived());
    EXPECT_TRUE(wire.empty()) << wire;
    EXPECT_EQ(r.board->received().size(), 8u);
    // Pages 8 to 16 never came: the caller's bytes there are as they were.
    for (std::size_t i = 7 * 64; i < sizeof eye; ++i) ASSERT_EQ(eye[i], 0xEE);
}

}  // namespace
}  // namespace tarvex::reliability
