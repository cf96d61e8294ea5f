// Scope packets and captures: the capture start on port 3, the packet loop, the unpacking of
// sample words and the counters of ScopeStats.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "commands/capture.h"
#include "commands_fixture.h"

namespace tarvex::testing {
namespace {

using CaptureCommands = CommandTest;

// A 64-byte scope packet of 32 little-endian sample words.
Bytes scopePacket(const std::vector<std::uint16_t>& words) {
    Bytes bytes(SCOPE_PACKET_BYTES, 0);
    for (std::size_t j = 0; j < words.size() && j < 32; ++j) {
        bytes[2 * j] = static_cast<std::uint8_t>(words[j] & 0xFF);
        bytes[2 * j + 1] = static_cast<std::uint8_t>(words[j] >> 8);
    }
    return bytes;
}

ScopeStats garbageStats() {
    ScopeStats stats;
    std::memset(&stats, 0xCC, sizeof stats);
    return stats;
}

// The transfers from `first` on that are scope packet requests.
std::size_t countCommand(const emulated::BoundedLog<emulated::Transfer>& transfers,
                         std::uint8_t command) {
    std::size_t n = 0;
    for (const auto& t : transfers) n += t.bytes.size() == 64 && t.bytes[0] == command;
    return n;
}

TEST_F(CaptureCommands, AScopePacketRequestWritesOnlyCommandAndDirection) {
    firmware->standing[CMD_SCOPE] = scopePacket({1, 2, 3});
    firmware->standing[CMD_SCOPE_FAST] = scopePacket({4, 5, 6});
    for (const std::uint8_t command : {CMD_SCOPE, CMD_SCOPE_FAST}) {
        board->clearReceived();
        const Bytes before = commandBuffer();
        Bytes buffer(64, 0);
        const int result = command == CMD_SCOPE ? u_GetScopePacket(0, buffer.data())
                                                : u_GetScopePacketFast(0, buffer.data());
        EXPECT_EQ(result, XFER_OK);
        EXPECT_EQ(buffer, firmware->standing[command]);
        ASSERT_EQ(received().size(), 1u);
        EXPECT_EQ(sent(0), with(before, {{0, command}, {1, DIR_GET}}))
            << "length and selector go out as the last command left them";
    }
}

TEST_F(CaptureCommands, AFastPacketIsReadAsSixtyFourBytes) {
    // A full-speed board answers in 64-byte packets; more is never asked for.
    firmware->standing[CMD_SCOPE_FAST] = Bytes(512, 0x11);
    Bytes buffer(512, 0xEE);
    EXPECT_EQ(u_GetScopePacketFast(0, buffer.data()), XFER_OK);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 64), Bytes(64, 0x11));
    EXPECT_EQ(Bytes(buffer.begin() + 64, buffer.end()), Bytes(448, 0xEE));
}

TEST_F(CaptureCommands, AShortPacketReturnsTwo) {
    firmware->script[CMD_SCOPE].push_back(Bytes(10, 0x22));
    Bytes buffer(64, 0xEE);
    EXPECT_EQ(u_GetScopePacket(0, buffer.data()), XFER_SHORT);
    EXPECT_EQ(buffer[9], 0x22);
    EXPECT_EQ(buffer[10], 0xEE);
}

TEST_F(CaptureCommands, PacketRequestsWithoutABufferAreRefusedWithoutIo) {
    EXPECT_EQ(u_GetScopePacket(0, nullptr), XFER_FAIL);
    EXPECT_EQ(u_GetScopePacketFast(0, nullptr), XFER_FAIL);
    EXPECT_TRUE(received().empty());
}

TEST_F(CaptureCommands, ACaptureStartsWithFifoResetAndACaptureEnableToggle) {
    firmware->ports[3] = 0x0020;
    firmware->standing[CMD_SCOPE] = scopePacket({});
    std::vector<std::uint16_t> samples(32);
    ScopeStats stats = garbageStats();
    const Micros start = world.now();
    EXPECT_EQ(u_GetScopeSamples(0, 1, samples.data(), &stats), 1);

    struct Step {
        std::uint8_t direction;
        std::uint16_t value;  // the value written (writes only)
        Micros at;
    } const steps[] = {
        {DIR_GET, 0, 0},            // FIFO reset: read port 3
        {DIR_SET, 0x0020, 0},       //   reset bits low
        {DIR_SET, 0x0023, 50},      //   and high again 50 ms later
        {DIR_GET, 0, 100},          // capture disable, after the reset's 50 ms settle
        {DIR_SET, 0x0003, 100},
        {DIR_GET, 0, 150},          // capture enable, 50 ms later
        {DIR_SET, 0x0023, 150},
    };
    ASSERT_EQ(received().size(), 8u);
    for (std::size_t i = 0; i < 7; ++i) {
        const Bytes& p = sent(i);
        EXPECT_EQ(p[0], CMD_PORT) << "step " << i;
        EXPECT_EQ(p[1], steps[i].direction) << "step " << i;
        EXPECT_EQ(p[3], 3) << "step " << i;
        if (steps[i].direction == DIR_SET) {
            EXPECT_EQ(p[4] | (p[5] << 8), steps[i].value) << "step " << i;
        }
        EXPECT_EQ(received()[i].at, start + steps[i].at * kMs) << "step " << i;
    }
    EXPECT_EQ(sent(7)[0], CMD_SCOPE);
    EXPECT_EQ(received()[7].at, start + 150 * kMs) << "the first packet right after the enable";
}

TEST_F(CaptureCommands, ACaptureOfNoPacketsStillStartsTheCapture) {
    firmware->ports[3] = 0x0000;
    for (const bool fast : {false, true}) {
        board->clearReceived();
        ScopeStats stats = garbageStats();
        const int result = fast ? u_GetScopeSamplesFast(0, 0, nullptr, &stats)
                                : u_GetScopeSamples(0, 0, nullptr, &stats);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(received().size(), 7u) << "FIFO reset and capture enable toggle, no packet";
        EXPECT_EQ(countCommand(received(), CMD_SCOPE) + countCommand(received(), CMD_SCOPE_FAST), 0u);
        EXPECT_EQ(stats.sampleCount, 0u);
        EXPECT_EQ(stats.failCount, 0);
        EXPECT_EQ(stats.okCount, 0);
        EXPECT_EQ(stats.shortCount, 0);
        EXPECT_EQ(stats.flagSeen, 0);
    }
}

TEST_F(CaptureCommands, SampleWordsAreTwelveBitsAndBitTwelveIsTheFlag) {
    struct Case {
        std::uint8_t low, high;
        std::uint16_t sample;
        std::uint8_t flagSeen;
    } const cases[] = {
        {0x34, 0x1A, 0x0A34, 1},
        {0xFF, 0xEF, 0x0FFF, 0},  // bits 13 to 15 are ignored
        {0x00, 0x10, 0x0000, 1},
        {0xFF, 0x0F, 0x0FFF, 0},
    };
    for (const auto& c : cases) {
        Bytes packet = scopePacket({});
        packet[0] = c.low;
        packet[1] = c.high;
        firmware->script[CMD_SCOPE].push_back(packet);
        std::vector<std::uint16_t> samples(32, 0xBEEF);
        ScopeStats stats = garbageStats();
        EXPECT_EQ(u_GetScopeSamples(0, 1, samples.data(), &stats), 1);
        EXPECT_EQ(samples[0], c.sample);
        EXPECT_EQ(stats.flagSeen, c.flagSeen);
        EXPECT_EQ(samples[1], 0);
    }
}

TEST_F(CaptureCommands, SamplesLandInTheOrderTheBoardSentThem) {
    for (std::uint16_t p = 0; p < 3; ++p) {
        std::vector<std::uint16_t> words(32);
        for (std::uint16_t j = 0; j < 32; ++j) words[j] = static_cast<std::uint16_t>(p * 100 + j);
        firmware->script[CMD_SCOPE].push_back(scopePacket(words));
    }
    std::vector<std::uint16_t> samples(96, 0xBEEF);
    ScopeStats stats = garbageStats();
    EXPECT_EQ(u_GetScopeSamples(0, 3, samples.data(), &stats), 1);
    for (std::size_t i = 0; i < 96; ++i) EXPECT_EQ(samples[i], (i / 32) * 100 + i % 32) << i;
    EXPECT_EQ(stats.okCount, 3);
}

// sampleCount changes only once the last packet has come back: a caller watching the counters
// from another thread may take it as the sign that the capture is over.
TEST_F(CaptureCommands, AHundredPacketsCountThirtyTwoOrTwoHundredFiftySixSamplesEach) {
    firmware->standing[CMD_SCOPE] = scopePacket({1});
    firmware->standing[CMD_SCOPE_FAST] = scopePacket({2});
    std::vector<std::uint16_t> samples(100 * 32);
    std::vector<std::uint8_t> buffer(100 * 512);
    ScopeStats stats = garbageStats();
    std::vector<std::uint32_t> seen;  // sampleCount as each transfer arrived
    board->onReceive = [&](const emulated::Transfer&) { seen.push_back(stats.sampleCount); };
    EXPECT_EQ(u_GetScopeSamples(0, 100, samples.data(), &stats), 1);
    EXPECT_EQ(stats.sampleCount, 3200u);
    EXPECT_EQ(stats.okCount, 100);
    EXPECT_EQ(stats.failCount + stats.shortCount, 0);
    stats = garbageStats();
    EXPECT_EQ(u_GetScopeSamplesFast(0, 100, buffer.data(), &stats), 1);
    EXPECT_EQ(stats.sampleCount, 25600u);
    EXPECT_EQ(stats.okCount, 100);
    EXPECT_EQ(stats.flagSeen, 0);
    board->onReceive = nullptr;
    ASSERT_EQ(seen.size(), received().size());
    EXPECT_EQ(countCommand(received(), CMD_SCOPE) + countCommand(received(), CMD_SCOPE_FAST), 200u);
    EXPECT_EQ(seen, std::vector<std::uint32_t>(seen.size(), garbageStats().sampleCount));
}

TEST_F(CaptureCommands, ABoardThatAnswersNothingFailsEveryPacketAndTheCaptureStillReturnsOne) {
    firmware->ports[3] = 0x0023;
    std::vector<std::uint16_t> samples(5 * 32, 0xBEEF);
    ScopeStats stats = garbageStats();
    const Micros start = world.now();
    EXPECT_EQ(u_GetScopeSamples(0, 5, samples.data(), &stats), 1);
    EXPECT_EQ(stats.failCount, 5);
    EXPECT_EQ(stats.okCount, 0);
    EXPECT_EQ(stats.shortCount, 0);
    EXPECT_EQ(stats.sampleCount, 160u);
    EXPECT_EQ(countCommand(received(), CMD_SCOPE), 5u) << "no packet is skipped";
    EXPECT_EQ(msSince(start), 150.0 + 5 * 250.0) << "each packet waits out its own time-out";
    EXPECT_EQ(samples, std::vector<std::uint16_t>(160, 0)) << "the buffer starts zeroed";
}

TEST_F(CaptureCommands, AShortPacketIsCountedAndUnpackedOverThePreviousOne) {
    std::vector<std::uint16_t> first(32);
    for (std::uint16_t j = 0; j < 32; ++j) first[j] = static_cast<std::uint16_t>(0x100 + j);
    firmware->script[CMD_SCOPE] = {scopePacket(first), Bytes{0x55, 0x05}};
    std::vector<std::uint16_t> samples(64);
    ScopeStats stats = garbageStats();
    EXPECT_EQ(u_GetScopeSamples(0, 2, samples.data(), &stats), 1);
    EXPECT_EQ(stats.okCount, 1);
    EXPECT_EQ(stats.shortCount, 1);
    EXPECT_EQ(samples[32], 0x0555);
    EXPECT_EQ(samples[33], 0x101) << "the rest of the previous packet";
}

TEST_F(CaptureCommands, FastPacketThreeStartsAtByte1024) {
    for (std::uint8_t p = 1; p <= 4; ++p) firmware->script[CMD_SCOPE_FAST].push_back(Bytes(64, p));
    std::vector<std::uint8_t> buffer(4 * 512, 0xEE);
    ScopeStats stats = garbageStats();
    EXPECT_EQ(u_GetScopeSamplesFast(0, 4, buffer.data(), &stats), 1);
    for (std::size_t slot = 0; slot < 4; ++slot) {
        const auto at = buffer.begin() + static_cast<std::ptrdiff_t>(512 * slot);
        EXPECT_EQ(Bytes(at, at + 64), Bytes(64, static_cast<std::uint8_t>(slot + 1))) << slot;
        EXPECT_EQ(Bytes(at + 64, at + 512), Bytes(448, 0xEE)) << "the rest of the slot is kept";
    }
    EXPECT_EQ(buffer[1024], 3);
}

TEST_F(CaptureCommands, ASecondCaptureStartsItsCountersFromZero) {
    ScopeStats stats = garbageStats();
    std::vector<std::uint16_t> samples(3 * 32);
    Bytes flagged = scopePacket({0x1000});
    firmware->script[CMD_SCOPE] = {flagged, Bytes{1}};  // one OK, one short, one without reply
    EXPECT_EQ(u_GetScopeSamples(0, 3, samples.data(), &stats), 1);
    EXPECT_EQ(stats.okCount, 1);
    EXPECT_EQ(stats.shortCount, 1);
    EXPECT_EQ(stats.failCount, 1);
    EXPECT_EQ(stats.flagSeen, 1);

    firmware->standing[CMD_SCOPE] = scopePacket({});
    EXPECT_EQ(u_GetScopeSamples(0, 2, samples.data(), &stats), 1);
    EXPECT_EQ(stats.okCount, 2);
    EXPECT_EQ(stats.shortCount, 0);
    EXPECT_EQ(stats.failCount, 0);
    EXPECT_EQ(stats.flagSeen, 0);
    EXPECT_EQ(stats.sampleCount, 64u);
}

TEST_F(CaptureCommands, ACaptureWithNowhereToPutItsResultsIsRefusedWithoutIo) {
    std::vector<std::uint16_t> samples(32);
    std::vector<std::uint8_t> buffer(512);
    ScopeStats stats = garbageStats();
    EXPECT_EQ(u_GetScopeSamples(0, 1, samples.data(), nullptr), 0);
    EXPECT_EQ(u_GetScopeSamples(0, 1, nullptr, &stats), 0);
    EXPECT_EQ(u_GetScopeSamplesFast(0, 1, buffer.data(), nullptr), 0);
    EXPECT_EQ(u_GetScopeSamplesFast(0, 1, nullptr, &stats), 0);
    EXPECT_EQ(u_GetScopeSamples(0, 0, nullptr, nullptr), 0);
    EXPECT_TRUE(received().empty());
    EXPECT_EQ(stats.okCount, 0xCCCC) << "a refused capture touches nothing";
}

TEST_F(CaptureCommands, ProgressIsReportedAfterEveryPacket) {
    firmware->standing[CMD_SCOPE] = scopePacket({});
    std::vector<std::pair<std::uint32_t, std::uint32_t>> calls;
    std::vector<std::uint16_t> samples(4 * 32);
    ScopeStats stats = garbageStats();
    EXPECT_EQ(commands::captureSamples(0, 4, samples.data(), &stats,
                                       [&](std::uint32_t done, std::uint32_t total) {
                                           calls.emplace_back(done, total);
                                           EXPECT_EQ(countCommand(received(), CMD_SCOPE), done);
                                           return true;
                                       }),
              1);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {1, 4}, {2, 4}, {3, 4}, {4, 4}};
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(stats.sampleCount, 128u);
}

TEST_F(CaptureCommands, ACaptureStoppedByItsProgressCountsOnlyThePacketsRequested) {
    firmware->standing[CMD_SCOPE] = scopePacket(std::vector<std::uint16_t>(32, 7));
    firmware->standing[CMD_SCOPE_FAST] = Bytes(64, 9);
    auto stopAfter3 = [](std::uint32_t done, std::uint32_t) { return done < 3; };

    std::vector<std::uint16_t> samples(10 * 32, 0xBEEF);
    ScopeStats stats = garbageStats();
    EXPECT_EQ(commands::captureSamples(0, 10, samples.data(), &stats, stopAfter3), 1);
    EXPECT_EQ(countCommand(received(), CMD_SCOPE), 3u);
    EXPECT_EQ(stats.okCount + stats.failCount + stats.shortCount, 3);
    EXPECT_EQ(stats.sampleCount, 96u);
    EXPECT_EQ(samples[95], 7);
    EXPECT_EQ(samples[96], 0xBEEF) << "samples past the stop are untouched";

    board->clearReceived();
    std::vector<std::uint8_t> buffer(10 * 512, 0xEE);
    stats = garbageStats();
    EXPECT_EQ(commands::captureSamplesFast(0, 10, buffer.data(), &stats, stopAfter3), 1);
    EXPECT_EQ(countCommand(received(), CMD_SCOPE_FAST), 3u);
    EXPECT_EQ(stats.okCount, 3);
    EXPECT_EQ(stats.sampleCount, 3u * 256);
    EXPECT_EQ(buffer[1024], 9);
    EXPECT_EQ(buffer[1536], 0xEE);
}

}  // namespace
}  // namespace tarvex::testing
