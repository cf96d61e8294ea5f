// Requests that end after their cancel.  A driver may complete a cancelled request later, and
// when the reply comes in before the cancel takes effect it completes with the data, written into
// the caller's buffer at that moment.  The library must not return before the request has ended:
// once a call is back, nothing the caller owns may change.  The buffers here live on the heap and
// are freed when the call returns, so a write after the return is also a use after free that the
// address sanitizer reports.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "reliability/rig.h"

namespace tarvex::reliability {
namespace {

constexpr Micros kCancelLatency = 50 * kMs;

// A buffer the call writes into, its bytes compared after the call and once more after every
// late completion could have happened.
struct Watched {
    explicit Watched(std::size_t n) : bytes(new std::uint8_t[n]), size(n) {
        std::memset(bytes.get(), 0xEE, n);
    }
    std::vector<std::uint8_t> copy() const { return {bytes.get(), bytes.get() + size}; }
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size;
};

class LateCancel : public ::testing::Test {
protected:
    LateCancel() { r.world.setCancelLatency(kCancelLatency); }

    // Lets every scheduled completion, reply and cancel happen.
    void settle() { r.world.advance(2000); }

    Rig r;
};

TEST_F(LateCancel, AReadWhoseReplyBeatsTheCancelEndsBeforeMPUSBReadReturns) {
    // Ping written; its reply comes 10 ms after the 250 ms read gave up, before the 50 ms cancel.
    r.board->injectFault({FaultKind::kLateReply, 260});
    const std::uint8_t ping[64] = {CMD_SYSTEM, DIR_GET, 0, SYS_PING};
    ASSERT_EQ(MPUSBWrite(r.hostOut, ping, 64, nullptr, 250), 1u);

    Watched buffer(20);
    auto count = std::make_unique<std::uint32_t>(77);
    const Micros start = r.world.now();
    EXPECT_EQ(MPUSBRead(r.hostIn, buffer.bytes.get(), 20, count.get(), 250), 0u);
    EXPECT_EQ(r.lastError(), 997u) << "a time-out is reported as one";
    EXPECT_EQ(*count, 0u);
    EXPECT_EQ(r.world.pendingRequestCount(), 0u) << "the read outlived the call";
    EXPECT_DOUBLE_EQ(r.msSince(start), 260.0) << "waited for the request to end, no longer";

    EXPECT_NE(buffer.copy(), std::vector<std::uint8_t>(20, 0xEE))
        << "the reply that beat the cancel landed during the call";
    buffer.bytes.reset();  // freed: a late write would be a use after free
    count.reset();
    settle();
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);
}

TEST_F(LateCancel, TheCallersBufferAndCountDoNotChangeAfterTheCallReturns) {
    for (std::uint32_t late : {200u /* in time */, 260u /* beats the cancel */,
                               320u /* after the cancel */}) {
        SCOPED_TRACE("reply " + std::to_string(late) + " ms late");
        r.board->clearFaults();
        r.board->replies().clear();
        r.board->injectFault({FaultKind::kLateReply, late});
        const std::uint8_t ping[64] = {CMD_SYSTEM, DIR_GET, 0, SYS_PING};
        ASSERT_EQ(MPUSBWrite(r.hostOut, ping, 64, nullptr, 250), 1u);

        Watched buffer(20);
        std::uint32_t count = 77;
        const std::uint32_t result = MPUSBRead(r.hostIn, buffer.bytes.get(), 20, &count, 250);
        EXPECT_EQ(result, late < 250 ? 1u : 0u);
        EXPECT_EQ(count, late < 250 ? 20u : 0u);
        EXPECT_EQ(r.world.pendingRequestCount(), 0u);
        const auto afterReturn = buffer.copy();
        const std::uint32_t countAfterReturn = count;
        settle();
        EXPECT_EQ(buffer.copy(), afterReturn) << "the buffer changed after MPUSBRead returned";
        EXPECT_EQ(count, countAfterReturn);
        if (late > 300) {
            // The cancel won: the caller's buffer was never written.
            EXPECT_EQ(afterReturn, std::vector<std::uint8_t>(20, 0xEE));
        }
    }
}

TEST_F(LateCancel, ACommandReplyThatBeatsTheCancelLandsBeforeTheCommandReturns) {
    // u_Ping reads straight into the caller's buffer.
    r.board->injectFault({FaultKind::kLateReply, 260});
    Watched reply(20);
    EXPECT_EQ(u_Ping(0, reply.bytes.get()), XFER_FAIL);
    EXPECT_EQ(r.lastError(), 997u);
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);
    EXPECT_FALSE(r.rowDropped()) << "a time-out keeps the row";
    reply.bytes.reset();
    settle();

    // A command that unpacks its value: the value is written once, before the return.
    r.board->injectFault({FaultKind::kLateReply, 260});
    auto value = std::make_unique<std::uint16_t>(0xBEEF);
    EXPECT_EQ(u_GetPort(0, 3, value.get()), XFER_FAIL);
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);
    value.reset();
    settle();
}

TEST_F(LateCancel, AStalledWriteEndsBeforeMPUSBWriteReturns) {
    r.board->injectFault({FaultKind::kStallWrite});
    auto packet = std::make_unique<std::uint8_t[]>(64);
    std::memset(packet.get(), 0, 64);
    std::uint32_t count = 77;
    const Micros start = r.world.now();
    EXPECT_EQ(MPUSBWrite(r.hostOut, packet.get(), 64, &count, 250), 0u);
    EXPECT_EQ(r.lastError(), 997u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);
    EXPECT_DOUBLE_EQ(r.msSince(start), 300.0) << "the time-out, then the cancel's 50 ms";
    packet.reset();
    settle();
}

TEST_F(LateCancel, AnInterruptReadEndsBeforeMPUSBReadIntReturns) {
    Watched buffer(64);
    std::uint32_t count = 77;
    const Micros start = r.world.now();
    EXPECT_EQ(MPUSBReadInt(r.hostIn, buffer.bytes.get(), 64, &count, 100), 0u);
    EXPECT_EQ(r.lastError(), 997u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);
    EXPECT_DOUBLE_EQ(r.msSince(start), 150.0);
    buffer.bytes.reset();
    settle();
}

TEST_F(LateCancel, ACaptureWithLateRepliesLeavesItsSamplesAndStatsAloneAfterReturning) {
    // Every packet's reply beats the cancel: each packet fails and its reply lands during the
    // settle of its own read; the next packet starts clean.
    r.board->injectFaults(7, noFault());
    r.board->injectFaults(kRigPackets, {FaultKind::kLateReply, 260});
    auto samples = std::make_unique<std::uint16_t[]>(kRigPackets * 32);
    auto stats = std::make_unique<ScopeStats>();
    EXPECT_EQ(u_GetScopeSamples(0, kRigPackets, samples.get(), stats.get()), 1);
    EXPECT_EQ(stats->failCount, kRigPackets);
    EXPECT_EQ(stats->okCount + stats->shortCount, 0);
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);
    samples.reset();
    stats.reset();
    settle();
}

}  // namespace
}  // namespace tarvex::reliability
