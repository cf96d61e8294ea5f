// The fault matrix: every export against every fault the emulated board and driver can put in
// its way.  Each case checks the result, the last-error code, the virtual time the call took, the
// port table's row, the capture counters, that no request outlives the call and no handle leaks,
// that the wire carries exactly what the command buffer model predicts, that nothing the caller
// owns changes once the call has returned, and whether the board index still works afterwards.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "reliability/command_bytes.h"
#include "reliability/exports.h"
#include "reliability/rig.h"

namespace tarvex::reliability {
namespace {

constexpr std::uint32_t kTimedOut = 997;      // ERROR_IO_PENDING, left by a time-out
constexpr std::uint32_t kInvalidHandle = 6;   // ERROR_INVALID_HANDLE
constexpr std::uint32_t kEndOfData = 38;      // ERROR_HANDLE_EOF
constexpr std::uint32_t kGenFailure = 31;     // ERROR_GEN_FAILURE
constexpr std::uint32_t kNotConnected = 1167; // ERROR_DEVICE_NOT_CONNECTED, the driver's default

enum class Result { kOk, kFail, kShort, kNotOk };
// How long a one-exchange call waits, in parts of its time-out.
enum class Wait { kNone, kTimeout, kHalf, kQuarter };
enum class After { kRecovers, kStaysDown, kUnchecked };

struct Outcome {
    Result result = Result::kOk;
    std::uint32_t lastError = 0;  // checked when not 0
    Wait wait = Wait::kNone;
};

// Packets of the capture that fail and come back short (the rest are OK); -1: every packet.
struct Counts {
    int fail = 0;
    int shorts = 0;
};
constexpr int kAll = -1;

struct FaultCase {
    std::string name{};
    // Before the call: injects the fault, aimed at the export's transfer `faultAt`.
    std::function<void(Rig&, const ExportCase&)> arrange{};
    // What the exports of each shape make of it.
    Outcome set{}, get{}, block{};
    Result multi = Result::kOk;  // Status, ResetFifo, VScope
    Counts capture{};
    bool rowDropped = false;
    After after = After::kRecovers;
    // How it meets the exports that make no data transfer.
    bool goneBefore = false;          // the board is not there when the call starts
    std::uint32_t goneError = 0;      // the code its dead handles fail with
    bool goneDuringInterrupt = false;  // it leaves while an interrupt read waits
    bool goneAfter = false;           // it leaves right after the call
};

void aimAt(Rig& r, const ExportCase& e, Fault fault) {
    r.board->injectFaults(e.faultAt, noFault());
    r.board->injectFault(fault);
}

std::uint32_t lateWithin(const ExportCase& e) { return e.timeoutMs / 2; }
std::uint32_t lateBeyond(const ExportCase& e) { return e.timeoutMs + 150; }

const Outcome kOk{Result::kOk};

std::vector<FaultCase> makeFaults() {
    std::vector<FaultCase> faults;
    faults.push_back({.name = "no fault",
                      .arrange = [](Rig&, const ExportCase&) {},
                      .set = kOk,
                      .get = kOk,
                      .block = kOk,
                      .multi = Result::kOk,
                      .capture = {}});
    faults.push_back({.name = "no reply",
                      .arrange = [](Rig& r, const ExportCase& e) { aimAt(r, e, {FaultKind::kNoReply}); },
                      .set = kOk,
                      .get = {Result::kFail, kTimedOut, Wait::kTimeout},
                      .block = kOk,
                      .multi = Result::kNotOk,
                      .capture = {1, 0}});
    faults.push_back({.name = "short reply",
                      .arrange =
                          [](Rig& r, const ExportCase& e) {
                              aimAt(r, e, {FaultKind::kShortReply, 1});
                          },
                      .set = kOk,
                      .get = {Result::kShort},
                      .block = kOk,
                      .multi = Result::kNotOk,
                      .capture = {0, 1}});
    faults.push_back({.name = "empty reply",
                      .arrange =
                          [](Rig& r, const ExportCase& e) {
                              aimAt(r, e, {FaultKind::kShortReply, 0});
                          },
                      .set = kOk,
                      .get = {Result::kShort},
                      .block = kOk,
                      .multi = Result::kNotOk,
                      .capture = {0, 1}});
    faults.push_back({.name = "late reply within the time-out",
                      .arrange =
                          [](Rig& r, const ExportCase& e) {
                              aimAt(r, e, {FaultKind::kLateReply, lateWithin(e)});
                          },
                      .set = kOk,
                      .get = {Result::kOk, 0, Wait::kHalf},
                      .block = kOk,
                      .multi = Result::kOk,
                      .capture = {}});
    // The reply arrives after the read gave up; the next exchange takes it as its own.
    faults.push_back({.name = "late reply after the time-out",
                      .arrange =
                          [](Rig& r, const ExportCase& e) {
                              aimAt(r, e, {FaultKind::kLateReply, lateBeyond(e)});
                          },
                      .set = kOk,
                      .get = {Result::kFail, kTimedOut, Wait::kTimeout},
                      .block = kOk,
                      .multi = Result::kNotOk,
                      .capture = {1, 0},
                      .after = After::kUnchecked});
    // One byte nobody asked for waits ahead of the call's own reply.
    faults.push_back({.name = "stray reply ahead of the command",
                      .arrange =
                          [](Rig& r, const ExportCase&) {
                              r.board->replies().push_back({Bytes{0xA5}, r.world.now()});
                          },
                      .set = kOk,
                      .get = {Result::kShort},
                      .block = kOk,
                      .multi = Result::kNotOk,
                      .capture = {0, 1},
                      .after = After::kUnchecked});
    faults.push_back({.name = "end of data",
                      .arrange =
                          [](Rig& r, const ExportCase& e) { aimAt(r, e, {FaultKind::kEndOfData}); },
                      .set = kOk,
                      .get = {Result::kFail, kEndOfData},
                      .block = kOk,
                      .multi = Result::kNotOk,
                      .capture = {1, 0}});
    faults.push_back({.name = "write stalls",
                      .arrange =
                          [](Rig& r, const ExportCase& e) { aimAt(r, e, {FaultKind::kStallWrite}); },
                      .set = {Result::kFail, kTimedOut, Wait::kTimeout},
                      .get = {Result::kFail, kTimedOut, Wait::kTimeout},
                      .block = {Result::kFail, 0, Wait::kTimeout},
                      .multi = Result::kNotOk,
                      .capture = {1, 0}});
    faults.push_back({.name = "write refused: invalid handle",
                      .arrange =
                          [](Rig& r, const ExportCase& e) {
                              aimAt(r, e, {FaultKind::kRefuseWrite, kInvalidHandle});
                          },
                      .set = {Result::kFail, kInvalidHandle},
                      .get = {Result::kFail, kInvalidHandle},
                      .block = {Result::kFail, kInvalidHandle},
                      .multi = Result::kNotOk,
                      .capture = {kAll, 0},
                      .rowDropped = true,
                      .after = After::kStaysDown});
    faults.push_back({.name = "write refused: device error",
                      .arrange =
                          [](Rig& r, const ExportCase& e) {
                              aimAt(r, e, {FaultKind::kRefuseWrite, kGenFailure});
                          },
                      .set = {Result::kFail, kGenFailure},
                      .get = {Result::kFail, kGenFailure},
                      .block = {Result::kFail, 0},
                      .multi = Result::kNotOk,
                      .capture = {1, 0}});
    faults.push_back({.name = "unplugged before the call",
                      .arrange = [](Rig& r, const ExportCase&) { r.world.unplug(r.boardId); },
                      .set = {Result::kFail, kNotConnected},
                      .get = {Result::kFail, kNotConnected},
                      .block = {Result::kFail, kNotConnected},
                      .multi = Result::kNotOk,
                      .capture = {kAll, 0},
                      .after = After::kStaysDown,
                      .goneBefore = true,
                      .goneError = kNotConnected});
    // A driver that fails the dead handles with "invalid handle": the row is dropped.
    faults.push_back({.name = "unplugged before the call, dead handles invalid",
                      .arrange =
                          [](Rig& r, const ExportCase&) {
                              r.world.setVanishedError(kInvalidHandle);
                              r.world.unplug(r.boardId);
                          },
                      .set = {Result::kFail, kInvalidHandle},
                      .get = {Result::kFail, kInvalidHandle},
                      .block = {Result::kFail, kInvalidHandle},
                      .multi = Result::kNotOk,
                      .capture = {kAll, 0},
                      .rowDropped = true,
                      .after = After::kStaysDown,
                      .goneBefore = true,
                      .goneError = kInvalidHandle});
    faults.push_back({.name = "unplugged as the request arrives",
                      .arrange =
                          [](Rig& r, const ExportCase& e) { aimAt(r, e, {FaultKind::kUnplug}); },
                      .set = {Result::kFail, kNotConnected},
                      .get = {Result::kFail, kNotConnected},
                      .block = {Result::kFail, kNotConnected},
                      .multi = Result::kNotOk,
                      .capture = {kAll, 0},
                      .after = After::kStaysDown});
    // The reply is due at half the time-out; the board leaves at a quarter.
    faults.push_back({.name = "unplugged while the reply is awaited",
                      .arrange =
                          [](Rig& r, const ExportCase& e) {
                              const Micros gone = e.timeoutMs * kMs / 4;
                              if (e.shape == Shape::kInterrupt) {
                                  r.world.schedule(r.world.now() + gone,
                                                   [&r] { r.world.unplug(r.boardId); });
                                  return;
                              }
                              aimAt(r, e, {FaultKind::kLateReply, lateWithin(e)});
                              const std::size_t target =
                                  r.board->received().size() + e.faultAt + 1;
                              r.board->onReceive = [&r, target, gone](const emulated::Transfer&) {
                                  if (r.board->received().size() != target) return;
                                  r.world.schedule(r.world.now() + gone,
                                                   [&r] { r.world.unplug(r.boardId); });
                              };
                          },
                      .set = kOk,
                      .get = {Result::kFail, kNotConnected, Wait::kQuarter},
                      .block = kOk,
                      .multi = Result::kNotOk,
                      .capture = {kAll, 0},
                      .after = After::kStaysDown,
                      .goneDuringInterrupt = true});
    faults.push_back({.name = "unplugged after the call",
                      .arrange = [](Rig&, const ExportCase&) {},
                      .set = kOk,
                      .get = kOk,
                      .block = kOk,
                      .multi = Result::kOk,
                      .capture = {},
                      .after = After::kStaysDown,
                      .goneAfter = true});
    return faults;
}

const std::vector<FaultCase>& allFaults() {
    static const std::vector<FaultCase> faults = makeFaults();
    return faults;
}

double waitMs(Wait wait, std::uint32_t timeoutMs) {
    switch (wait) {
        case Wait::kNone: return 0;
        case Wait::kTimeout: return timeoutMs;
        case Wait::kHalf: return timeoutMs / 2.0;
        case Wait::kQuarter: return timeoutMs / 4.0;
    }
    return 0;
}

// The outcome of the exports with no data transfer of their own.
Outcome hostOnlyOutcome(const ExportCase& e, const FaultCase& f) {
    if (f.goneBefore) return {Result::kFail, f.goneError};
    if (e.shape == Shape::kInterrupt) {
        if (f.goneDuringInterrupt) return {Result::kFail, kNotConnected, Wait::kQuarter};
        return {Result::kFail, kTimedOut, Wait::kTimeout};
    }
    return kOk;
}

int expectedResult(Result result, const ExportCase& e) {
    switch (result) {
        case Result::kOk: return e.ok;
        case Result::kFail: return e.fail;
        case Result::kShort: return XFER_SHORT;
        case Result::kNotOk: return e.fail;
    }
    return -1;
}

// What the caller owns, to tell whether anything changed it after the call returned.
Bytes ownedBytes(const Rig& r) {
    Bytes all(r.bytes, r.bytes + sizeof r.bytes);
    auto add = [&all](const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        all.insert(all.end(), b, b + n);
    };
    add(&r.value16, sizeof r.value16);
    add(&r.value8, sizeof r.value8);
    add(&r.count, sizeof r.count);
    add(r.floats, sizeof r.floats);
    add(&r.stats, sizeof r.stats);
    add(r.samples.data(), r.samples.size() * 2);
    add(r.eyeX.data(), r.eyeX.size() * 2);
    add(r.fast.data(), r.fast.size());
    return all;
}

void checkCapture(const Rig& r, const ExportCase& e, const Counts& counts) {
    const bool fast = e.name == "u_GetScopeSamplesFast";
    const int packets = kRigPackets;
    const int fail = counts.fail == kAll ? packets : counts.fail;
    const int shorts = counts.fail == kAll ? 0 : counts.shorts;
    EXPECT_EQ(r.stats.failCount, fail);
    EXPECT_EQ(r.stats.shortCount, shorts);
    EXPECT_EQ(r.stats.okCount, packets - fail - shorts);
    EXPECT_EQ(r.stats.failCount + r.stats.okCount + r.stats.shortCount, packets)
        << "every packet is counted once";
    EXPECT_EQ(r.stats.sampleCount, static_cast<std::uint32_t>(packets) * (fast ? 256 : 32));
    EXPECT_LE(r.stats.flagSeen, 1);
    if (fast) {
        EXPECT_EQ(r.stats.flagSeen, 0);
    } else {
        for (std::uint16_t s : r.samples) ASSERT_LE(s, 4095) << "samples are 12 bits";
    }
}

void runCase(const ExportCase& e, const FaultCase& f) {
    Rig r;
    if (e.prepare) e.prepare(r);
    f.arrange(r, e);
    r.takeReceived();
    const std::size_t handles = r.world.openHandleCount();

    const Micros start = r.world.now();
    const int result = e.call(r);
    const std::uint32_t lastError = r.lastError();
    const double elapsed = r.msSince(start);
    const std::size_t pending = r.world.pendingRequestCount();
    r.board->onReceive = nullptr;

    // ---- the call ----
    const bool dataShape = e.shape != Shape::kDiscovery && e.shape != Shape::kControl &&
                           e.shape != Shape::kInterrupt;
    EXPECT_EQ(pending, 0u) << "a request outlived the call";
    switch (e.shape) {
        case Shape::kSet:
        case Shape::kGet:
        case Shape::kSetBlock:
        case Shape::kInterrupt:
        case Shape::kControl: {
            const Outcome o = e.shape == Shape::kSet      ? f.set
                              : e.shape == Shape::kGet    ? f.get
                              : e.shape == Shape::kSetBlock ? f.block
                                                           : hostOnlyOutcome(e, f);
            EXPECT_EQ(result, expectedResult(o.result, e));
            if (o.lastError != 0) {
                EXPECT_EQ(lastError, o.lastError);
            }
            EXPECT_DOUBLE_EQ(elapsed, waitMs(o.wait, e.timeoutMs));
            break;
        }
        case Shape::kStatus:
        case Shape::kResetFifo:
        case Shape::kVScope:
            EXPECT_EQ(result, expectedResult(f.multi, e));
            break;
        case Shape::kCapture:
            EXPECT_EQ(result, 1) << "a capture always returns 1";
            checkCapture(r, e, f.capture);
            break;
        case Shape::kDiscovery:
            EXPECT_EQ(result, f.goneBefore ? e.fail : e.ok);
            EXPECT_DOUBLE_EQ(elapsed, 0.0);
            break;
    }
    EXPECT_GE(elapsed, e.sleepMs) << "the sleeps are slept whatever happens";
    EXPECT_LE(elapsed, boundMs(e)) << "longer than the time-outs and sleeps allow";
    if (e.usesPortTable) {
        EXPECT_EQ(r.rowDropped(), f.rowDropped);
    }
    if (e.shape != Shape::kDiscovery) {
        EXPECT_EQ(r.world.openHandleCount(), handles - (e.usesPortTable && f.rowDropped ? 2 : 0))
            << "a call leaves no handle behind";
    }

    const std::string wire = r.model.advance(e.steps ? e.steps(r) : wire::Steps{}, r.takeReceived());
    EXPECT_TRUE(wire.empty()) << wire;

    // ---- after the call ----
    const Bytes owned = ownedBytes(r);
    if (f.goneAfter) r.world.unplug(r.boardId);
    r.world.advance(1000);  // late replies land, cancels end, scheduled unplugs happen
    EXPECT_EQ(ownedBytes(r), owned) << "caller memory changed after the call returned";

    if (e.shape == Shape::kDiscovery) return;
    After after = f.after;
    // The exports on the host's own handles leave the port table's row alone; the exports with
    // no data transfer meet only a board that leaves.
    if (!e.usesPortTable && f.rowDropped && !f.goneBefore) after = After::kRecovers;
    if (!dataShape && after != After::kUnchecked)
        after = (f.goneBefore || f.goneAfter || (f.goneDuringInterrupt && e.shape == Shape::kInterrupt))
                    ? After::kStaysDown
                    : After::kRecovers;
    if (after == After::kUnchecked) return;
    r.board->clearFaults();
    std::uint8_t reply[20];
    const int ping = u_Ping(0, reply);
    if (after == After::kRecovers) {
        EXPECT_EQ(ping, XFER_OK) << "the board index works again once the fault is gone";
    } else {
        EXPECT_EQ(ping, XFER_FAIL) << "a board that left stays unusable";
    }
}

class FaultMatrix : public ::testing::TestWithParam<ExportCase> {};

TEST_P(FaultMatrix, EveryFaultGivesItsOutcome) {
    for (const FaultCase& f : allFaults()) {
        SCOPED_TRACE("fault: " + f.name);
        runCase(GetParam(), f);
    }
}

std::string caseName(const ::testing::TestParamInfo<ExportCase>& info) {
    std::string name;
    for (char c : info.param.name)
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    return name;
}

INSTANTIATE_TEST_SUITE_P(AllExports, FaultMatrix, ::testing::ValuesIn(allExports()), caseName);

TEST(FaultMatrixSize, CoversEveryExportAndFault) {
    // 53 exports (MPUSBGetDeviceCount twice: with a vendor/product and with none), 16 faults.
    EXPECT_EQ(allExports().size(), 54u);
    EXPECT_EQ(allFaults().size(), 16u);
    std::printf("fault matrix: %zu exports x %zu faults = %zu cases\n", allExports().size(),
                allFaults().size(), allExports().size() * allFaults().size());
}

}  // namespace
}  // namespace tarvex::reliability
