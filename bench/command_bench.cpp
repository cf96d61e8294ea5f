// Figure 1: what one command costs through the whole library, beside the bare emulated
// transport carrying the same packet and reply.
//
// u_GetPort and u_Ping write a 64-byte packet and read a 3- and a 20-byte reply; u_SetPort writes
// a packet and reads nothing.  The bare rounds make the same requests on the world directly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "bench/bench_world.h"
#include "bench/benchmarks.h"
#include "bench/figures.h"
#include "platform/export_lock.h"
#include "tarvex.h"

namespace tarvex::bench {
namespace {

constexpr std::uint8_t kPort = 3;
constexpr std::uint32_t kPingReply = 20;
constexpr std::uint32_t kPortReply = 3;

// The packets the three commands send (the bytes they leave alone are zero here).
struct Packet {
    std::uint8_t bytes[COMMAND_PACKET_BYTES] = {};
    Packet(std::uint8_t command, std::uint8_t direction, std::uint8_t selector) {
        bytes[0] = command;
        bytes[1] = direction;
        bytes[3] = selector;
    }
};

// ---- the library ------------------------------------------------------------------------------

void libraryGetPort(benchmark::State& state) {
    BoardWorld w(true);
    std::uint64_t round = 0;
    std::uint16_t value = 0;
    for (auto _ : state) {
        if (u_GetPort(0, kPort, &value) != XFER_OK) state.SkipWithError("u_GetPort failed");
        benchmark::DoNotOptimize(value);
        w.forgetNow(round);
    }
}

void libraryPing(benchmark::State& state) {
    BoardWorld w(true);
    std::uint64_t round = 0;
    std::uint8_t reply[kPingReply];
    for (auto _ : state) {
        if (u_Ping(0, reply) != XFER_OK) state.SkipWithError("u_Ping failed");
        benchmark::DoNotOptimize(reply);
        w.forgetNow(round);
    }
}

void librarySetPort(benchmark::State& state) {
    BoardWorld w(true);
    std::uint64_t round = 0;
    std::uint16_t value = 0;
    for (auto _ : state) {
        // Port 5 is a plain register of the demo board: writing it drives nothing else.
        if (u_SetPort(0, 5, value++) != 1) state.SkipWithError("u_SetPort failed");
        w.forgetNow(round);
    }
}

// ---- the bare transport ---------------------------------------------------------------------

void bareGet(benchmark::State& state, Packet packet, std::uint32_t replyLength) {
    BoardWorld w(false);
    BareTransport pipe(w.world, w.world.interfacePath(w.world.idOf(w.board)));
    if (!pipe.open()) state.SkipWithError("the bare pipes did not open");
    std::uint64_t round = 0;
    std::uint8_t reply[64];
    for (auto _ : state) {
        if (pipe.write(packet.bytes, COMMAND_PACKET_BYTES) != COMMAND_PACKET_BYTES ||
            pipe.read(reply, replyLength) != replyLength)
            state.SkipWithError("bare round trip failed");
        benchmark::DoNotOptimize(reply);
        w.forgetNow(round);
    }
}

void bareGetPort(benchmark::State& state) {
    bareGet(state, Packet(CMD_PORT, DIR_GET, kPort), kPortReply);
}

void barePing(benchmark::State& state) {
    bareGet(state, Packet(CMD_SYSTEM, DIR_GET, SYS_PING), kPingReply);
}

void bareSetPort(benchmark::State& state) {
    BoardWorld w(false);
    BareTransport pipe(w.world, w.world.interfacePath(w.world.idOf(w.board)));
    if (!pipe.open()) state.SkipWithError("the bare pipes did not open");
    Packet packet(CMD_PORT, DIR_SET, 5);
    std::uint64_t round = 0;
    std::uint16_t value = 0;
    for (auto _ : state) {
        packet.bytes[4] = static_cast<std::uint8_t>(value & 0xFF);
        packet.bytes[5] = static_cast<std::uint8_t>(value++ >> 8);
        if (pipe.write(packet.bytes, COMMAND_PACKET_BYTES) != COMMAND_PACKET_BYTES)
            state.SkipWithError("bare write failed");
        w.forgetNow(round);
    }
}

// ---- the export lock ---------------------------------------------------------------------------

// The lock one command takes, uncontended (the primitives and pipe transfers inside it take
// none of their own).
void exportLock(benchmark::State& state) {
    for (auto _ : state) {
        const platform::ExportLock command;
        benchmark::ClobberMemory();
    }
}

}  // namespace

void registerCommandBenchmarks() {
    struct Pair {
        const char* command;
        void (*bare)(benchmark::State&);
        void (*library)(benchmark::State&);
        const char* bareText;
    };
    const Pair pairs[] = {
        {"u_GetPort", bareGetPort, libraryGetPort, "bare write 64 + read 3"},
        {"u_Ping", barePing, libraryPing, "bare write 64 + read 20"},
        {"u_SetPort", bareSetPort, librarySetPort, "bare write 64"},
    };
    for (const Pair& p : pairs) {
        const std::string bare = std::string("command/") + p.command + "/bare";
        const std::string library = std::string("command/") + p.command;
        benchmark::RegisterBenchmark(bare.c_str(), p.bare);
        benchmark::RegisterBenchmark(library.c_str(), p.library);
        addFigure({.title = std::string(p.command) + " round trip",
                   .measured = library,
                   .bound = {{bare}},
                   .goal = 1.3,
                   .boundText = p.bareText});
    }
    // What serialising the exports adds to one command.
    benchmark::RegisterBenchmark("command/export-lock", exportLock);
    addFigure({.title = "Export lock, taken once a command",
               .measured = "command/export-lock",
               .bound = {{"command/u_GetPort"}},
               .goal = 0.05,
               .boundText = "u_GetPort round trip"});
    // A get command's CPU time against 1% of a full-speed USB frame (1 ms).
    addFigure({.title = "u_GetPort CPU time",
               .measured = "command/u_GetPort",
               .bound = {{.benchmark = "", .fixedNs = 10'000.0}},
               .goal = 1.0,
               .boundText = "1% of a USB frame"});
}

}  // namespace tarvex::bench
