// Several threads issue commands at once against two demo boards: every command's transfers
// reach the wire whole and in order, each thread gets its own replies, and every packet carries
// the shared buffer's leftover bytes of the command before it in wire order.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "commands/packet.h"
#include "emulated/demo_world.h"
#include "platform/platform.h"
#include "reliability/command_buffer_model.h"
#include "reliability/command_bytes.h"
#include "tarvex.h"

namespace tarvex::threads {
namespace {

namespace wire = reliability::wire;
using reliability::Bytes;

constexpr int kThreads = 8;
constexpr int kRounds = 60;
constexpr int kBoards = 2;
constexpr std::uint16_t kCapturePackets = 4;

// Which command of which thread a transfer belongs to: set by the issuing thread before each
// command, read by the boards' receive hook, which runs inside the command on that thread.
thread_local int currentThread = -1;
thread_local int currentCommand = -1;

struct WireEntry {
    int thread;
    int command;
    int board;
    Bytes bytes;
};

// What a thread asked for, in its own order.
struct Issued {
    wire::Steps steps;
};

class ThreadStress : public ::testing::Test {
protected:
    ThreadStress() : demo(config()), use(demo.backend()) {
        for (int b = 0; b < kBoards; ++b) {
            demo.boards()[b]->onReceive = [this, b](const emulated::Transfer& t) {
                log.push_back({currentThread, currentCommand, b, t.bytes});
            };
            EXPECT_EQ(OpenUSBPort(b), 1);
        }
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&commands::outBuff);
        std::memcpy(bufferAtStart.data(), bytes, bufferAtStart.size());
    }
    ~ThreadStress() override {
        for (int b = 0; b < kBoards; ++b) CloseUSBPort(b);
    }

    static emulated::DemoConfig config() {
        emulated::DemoConfig c;
        c.boards = kBoards;
        c.clock = emulated::ClockMode::kVirtual;
        return c;
    }

    emulated::DemoWorld demo;
    platform::ScopedBackend use;
    std::vector<WireEntry> log;  // appended under the library's lock only
    std::array<std::uint8_t, 64> bufferAtStart{};
    std::array<std::vector<Issued>, kThreads> issued;
    std::array<std::vector<std::string>, kThreads> wrongReplies;
};

// One thread's rounds: a mix of commands on its board, each checked against what only this
// thread could have caused.
void runThread(int t, std::vector<Issued>& issued, std::vector<std::string>& wrong) {
    currentThread = t;
    const auto board = static_cast<std::uint16_t>(t % kBoards);
    const auto port = static_cast<std::uint8_t>(8 + t);  // no other thread touches it
    const auto note = [&](const std::string& what) { wrong.push_back(what); };
    const auto begin = [&](wire::Steps steps) {
        currentCommand = static_cast<int>(issued.size());
        issued.push_back({std::move(steps)});
    };
    for (int round = 0; round < kRounds; ++round) {
        const auto value = static_cast<std::uint16_t>(t * 1000 + round);
        switch ((t + round) % 5) {
        case 0: {
            begin(wire::setPort(port, value));
            if (u_SetPort(board, port, value) != 1) note("u_SetPort failed");
            std::uint16_t read = 0;
            begin(wire::getPort(port));
            if (u_GetPort(board, port, &read) != XFER_OK || read != value)
                note("port " + std::to_string(port) + " read " + std::to_string(read) +
                     " after writing " + std::to_string(value));
            break;
        }
        case 1: {
            std::uint8_t reply[20] = {};
            begin(wire::ping());
            if (u_Ping(board, reply) != XFER_OK ||
                std::string(reinterpret_cast<char*>(reply)) != "TVX-SCOPE FW 1.04")
                note("ping answered something else");
            break;
        }
        case 2: {
            const std::uint8_t ip[4] = {10, 0, static_cast<std::uint8_t>(t), 1};
            begin(wire::setEth(0, ip));
            if (u_SetEthIPAddr(board, ip) != 1) note("u_SetEthIPAddr failed");
            std::uint8_t read[4] = {};
            begin(wire::getEth(0));
            // Another thread on the same board may set its own address in between: only the
            // shape of a reply to this very command is certain.
            if (u_GetEthIPAddr(board, read) != XFER_OK || read[0] != 10 || read[3] != 1)
                note("IP address read back wrong");
            break;
        }
        case 3: {
            float values[CALIB_VALUE_COUNT];
            for (int i = 0; i < CALIB_VALUE_COUNT; ++i) values[i] = static_cast<float>(t + i);
            begin(wire::storeCalibration(values));
            if (u_StoreScopeCalibValues(board, values) != 1) note("calibration store failed");
            float read[CALIB_VALUE_COUNT] = {};
            begin(wire::getCalibration());
            if (u_GetScopeCalibValues(board, read) != XFER_OK || read[1] != read[0] + 1)
                note("calibration read back wrong");
            break;
        }
        default: {
            std::uint16_t samples[kCapturePackets * SAMPLES_PER_PACKET] = {};
            ScopeStats stats{};
            begin(wire::scopeSamples(false, kCapturePackets));
            u_GetScopeSamples(board, kCapturePackets, samples, &stats);
            if (stats.okCount != kCapturePackets || samples[0] == 0)
                note("capture had " + std::to_string(stats.okCount) + " good packets");
            break;
        }
        }
    }
}

TEST_F(ThreadStress, EachThreadKeepsItsOwnLastErrorCodeWhileOthersRunCommands) {
    std::vector<std::thread> threads;
    std::array<std::uint32_t, kThreads> seen{};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen] {
            auto& os = platform::backend();
            os.setLastError(1000u + static_cast<std::uint32_t>(t));
            // Commands of this thread's own would set the code; others' must not.
            for (int i = 0; i < 200; ++i) {
                if (t % 2 == 0) {
                    std::uint16_t value = 0;
                    u_GetPort(20, 3, &value);  // a row never opened: fails with error 6
                    os.setLastError(1000u + static_cast<std::uint32_t>(t));
                }
                std::this_thread::yield();
            }
            seen[static_cast<std::size_t>(t)] = os.getLastError();
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(seen[static_cast<std::size_t>(t)], 1000u + t);
}

TEST_F(ThreadStress, CommandsRunWholeAndInOrderWithTheirOwnRepliesAndLeftoverBytes) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(runThread, t, std::ref(issued[t]), std::ref(wrongReplies[t]));
    for (auto& thread : threads) thread.join();

    for (int t = 0; t < kThreads; ++t)
        EXPECT_TRUE(wrongReplies[t].empty()) << "thread " << t << ": " << wrongReplies[t].front();

    // Cut the wire log into runs of one command each: a command seen again after another one
    // started was interleaved.
    std::map<std::pair<int, int>, bool> finished;
    reliability::CommandBufferModel model;
    model.assume(bufferAtStart.data());
    std::size_t commands = 0;
    for (std::size_t i = 0; i < log.size();) {
        const auto key = std::pair{log[i].thread, log[i].command};
        ASSERT_GE(key.first, 0) << "a transfer outside any command";
        ASSERT_FALSE(finished[key]) << "thread " << key.first << " command " << key.second
                                    << " was cut in two by another command";
        std::vector<Bytes> transfers;
        const int board = log[i].board;
        for (; i < log.size() && std::pair{log[i].thread, log[i].command} == key; ++i) {
            ASSERT_EQ(log[i].board, board) << "a command reached both boards";
            transfers.push_back(log[i].bytes);
        }
        finished[key] = true;
        ++commands;
        const auto& steps = issued[key.first].at(static_cast<std::size_t>(key.second)).steps;
        const std::string disagreement = model.advance(steps, transfers);
        ASSERT_EQ(disagreement, "") << "thread " << key.first << " command " << key.second;
    }
    std::size_t asked = 0;
    for (const auto& list : issued) asked += list.size();
    EXPECT_EQ(commands, asked) << "every command reached the wire";
}

}  // namespace
}  // namespace tarvex::threads
