// Figure 2: u_GetScopeSamples of 1, 100 and 65535 packets, per packet, beside the bare
// transport making the same requests (the capture start's port reads and writes and settle
// sleeps, then one 64-byte scope packet and reply per 32 samples) plus unpacking the samples.
// The sleeps run on the virtual clock and cost nothing.  The board serves ready-made samples, so
// the figures show the transport and the library rather than the demo board's signal model.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_world.h"
#include "bench/benchmarks.h"
#include "bench/figures.h"
#include "commands/capture.h"
#include "commands/ports.h"
#include "tarvex.h"

namespace tarvex::bench {
namespace {

using commands::CAPTURE_ENABLE_MASK;
using commands::CAPTURE_OFF_MS;
using commands::kControlPort;
using commands::FIFO_RESET_HOLD_MS;
using commands::FIFO_RESET_MASK;
using commands::FIFO_RESET_SETTLE_MS;

constexpr std::uint16_t kPacketCounts[] = {1, 100, 65535};

void perPacket(benchmark::State& state, std::uint16_t packets) {
    state.counters["per_packet"] = benchmark::Counter(
        static_cast<double>(packets), benchmark::Counter::kIsIterationInvariantRate |
                                          benchmark::Counter::kInvert);
}

// ---- the library ------------------------------------------------------------------------------

void libraryCapture(benchmark::State& state, std::uint16_t packets, BoardKind kind) {
    BoardWorld w(true, kind);
    std::vector<std::uint16_t> samples(std::size_t{packets} * SAMPLES_PER_PACKET);
    ScopeStats stats{};
    for (auto _ : state) {
        u_GetScopeSamples(0, packets, samples.data(), &stats);
        if (stats.okCount != packets) state.SkipWithError("a scope packet failed");
        benchmark::DoNotOptimize(samples.data());
        w.board.clearReceived();
    }
    perPacket(state, packets);
}

// ---- the bare transport ---------------------------------------------------------------------

class BareCapture {
public:
    explicit BareCapture(BoardWorld& w)
        : world_(w.world), pipe_(w.world, w.world.interfacePath(w.world.idOf(w.board))) {}

    bool open() const { return pipe_.open(); }

    // The requests of a capture start: the FIFO reset (port 3 read, written with the reset bits
    // cleared, then set), the capture enable cleared and, 50 ms later, set again.
    bool start() {
        std::uint16_t port3 = 0;
        bool ok = getPort(port3) && setPort(port3 & ~FIFO_RESET_MASK);
        world_.sleep(FIFO_RESET_HOLD_MS);
        ok = ok && setPort(port3 | FIFO_RESET_MASK);
        world_.sleep(FIFO_RESET_SETTLE_MS);
        ok = ok && getPort(port3) && setPort(port3 & ~CAPTURE_ENABLE_MASK);
        world_.sleep(CAPTURE_OFF_MS);
        return ok && getPort(port3) && setPort(port3 | CAPTURE_ENABLE_MASK);
    }

    bool scopePacket(std::uint8_t* reply) {
        std::uint8_t packet[COMMAND_PACKET_BYTES] = {CMD_SCOPE, DIR_GET};
        return pipe_.write(packet, COMMAND_PACKET_BYTES) == COMMAND_PACKET_BYTES &&
               pipe_.read(reply, SCOPE_PACKET_BYTES) == SCOPE_PACKET_BYTES;
    }

private:
    bool getPort(std::uint16_t& value) {
        std::uint8_t packet[COMMAND_PACKET_BYTES] = {CMD_PORT, DIR_GET, 0, kControlPort};
        std::uint8_t reply[3] = {};
        const bool ok = pipe_.write(packet, COMMAND_PACKET_BYTES) == COMMAND_PACKET_BYTES &&
                        pipe_.read(reply, 3) == 3;
        value = static_cast<std::uint16_t>(reply[1] | (reply[2] << 8));
        return ok;
    }

    bool setPort(unsigned value) {
        std::uint8_t packet[COMMAND_PACKET_BYTES] = {CMD_PORT, DIR_SET, 0, kControlPort};
        packet[4] = static_cast<std::uint8_t>(value & 0xFF);
        packet[5] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
        return pipe_.write(packet, COMMAND_PACKET_BYTES) == COMMAND_PACKET_BYTES;
    }

    emulated::World& world_;
    BareTransport pipe_;
};

void bareCaptureRun(benchmark::State& state, std::uint16_t packets, BoardKind kind) {
    BoardWorld w(false, kind);
    BareCapture capture(w);
    if (!capture.open()) state.SkipWithError("the bare pipes did not open");
    std::vector<std::uint8_t> replies(std::size_t{packets} * SCOPE_PACKET_BYTES);
    for (auto _ : state) {
        bool ok = capture.start();
        for (std::size_t i = 0; i < packets; ++i)
            ok = capture.scopePacket(replies.data() + i * SCOPE_PACKET_BYTES) && ok;
        if (!ok) state.SkipWithError("a bare request failed");
        benchmark::DoNotOptimize(replies.data());
        w.board.clearReceived();
    }
    perPacket(state, packets);
}

// ---- the sample unpacking the goal allows on top -----------------------------------------------

// 32 little-endian words per packet: the 12-bit sample, and bit 12 noted as the flag; done as
// the capture does it (the words put together in a local array, then masked), one packet at a
// time.
void unpackSamples(benchmark::State& state, std::uint16_t packets) {
    std::vector<std::uint8_t> replies(std::size_t{packets} * SCOPE_PACKET_BYTES);
    for (std::size_t i = 0; i < replies.size(); ++i)
        replies[i] = static_cast<std::uint8_t>(i * 2654435761u >> 13);
    std::vector<std::uint16_t> samples(std::size_t{packets} * SAMPLES_PER_PACKET);
    for (auto _ : state) {
        bool flag = false;
        for (std::size_t p = 0; p < packets; ++p) {
            const std::uint8_t* reply = replies.data() + p * SCOPE_PACKET_BYTES;
            std::uint16_t* out = samples.data() + p * SAMPLES_PER_PACKET;
            std::uint16_t words[SAMPLES_PER_PACKET];
            for (int j = 0; j < SAMPLES_PER_PACKET; ++j)
                words[j] = static_cast<std::uint16_t>(reply[2 * j] | (reply[2 * j + 1] << 8));
            std::uint16_t seen = 0;
            for (int j = 0; j < SAMPLES_PER_PACKET; ++j) {
                seen |= words[j];
                out[j] = static_cast<std::uint16_t>(words[j] & 0x0FFF);
            }
            flag = flag || (seen & 0x1000) != 0;
            // Each reply is unpacked as it comes, not all of them in one sweep.
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(flag);
        benchmark::DoNotOptimize(samples.data());
    }
    perPacket(state, packets);
}

}  // namespace

void registerCaptureBenchmarks() {
    for (std::uint16_t packets : kPacketCounts) {
        const std::string n = std::to_string(packets);
        const std::string bare = "capture/" + n + "/bare";
        const std::string unpack = "capture/" + n + "/unpack";
        const std::string library = "capture/" + n;
        benchmark::RegisterBenchmark(bare.c_str(), bareCaptureRun, packets, BoardKind::kLean)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(unpack.c_str(), unpackSamples, packets)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(library.c_str(), libraryCapture, packets, BoardKind::kLean)
            ->Unit(benchmark::kMicrosecond);
        addFigure({.title = "u_GetScopeSamples, " + n + " packet" + (packets > 1 ? "s" : ""),
                   .measured = library,
                   .bound = {{bare}},
                   .allowance = {{unpack}},
                   .goal = 1.3,
                   .per = static_cast<double>(packets),
                   .perText = "per packet",
                   .boundText = "bare capture"});
    }
    // Per packet against one bare port read of figure 1: a scope packet is that round trip with
    // a 64-byte reply, plus the unpacking.
    addFigure({.title = "u_GetScopeSamples, 65535 packets, vs u_GetPort's bare round trip",
               .measured = "capture/65535",
               .bound = {{"command/u_GetPort/bare", 65535.0}},
               .per = 65535.0,
               .perText = "per packet",
               .boundText = "bare write 64 + read 3"});

    // For the record, on the demo board, whose signal model makes every sample (rise time,
    // jitter and noise: a tanh per edge and Gaussian draws) and dominates a packet's cost.
    benchmark::RegisterBenchmark("capture/65535/demo-board/bare", bareCaptureRun, 65535,
                                 BoardKind::kDemo)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("capture/65535/demo-board", libraryCapture, 65535,
                                 BoardKind::kDemo)
        ->Unit(benchmark::kMicrosecond);
    addFigure({.title = "u_GetScopeSamples, 65535 packets from the demo board",
               .measured = "capture/65535/demo-board",
               .bound = {{"capture/65535/demo-board/bare"}},
               .allowance = {{"capture/65535/unpack"}},
               .per = 65535.0,
               .perText = "per packet",
               .boundText = "bare capture"});
}

}  // namespace tarvex::bench
