// The fuzz target: each input decodes into a sequence of export calls with their arguments
// (indexes in and out of the table, null pointers, buffer sizes, counts, rates and floats of
// every kind) interleaved with board faults, plug and unplug events and driver behaviour, in an
// emulated world on a virtual clock.  After every call the session checks what must hold whatever
// happened: results in their allowed sets, counters that add up, no request outliving its call,
// no handle leaked, the port table's rows as expected, the bounds of time, and the bytes on the
// wire exactly as the independent command buffer model predicts.  Caller buffers are exact-size
// heap blocks freed right after each call, so the address sanitizer catches any write beyond
// them or after the call returned.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/session.h"

namespace tarvex::fuzz {
namespace {

namespace wire = reliability::wire;
using emulated::Fault;
using emulated::FaultKind;

constexpr std::uint32_t kEnvironmentOps = 12;
constexpr std::uint32_t kExports = 53;
constexpr std::uint32_t kCaptureStartWaits = 10;
constexpr std::uint32_t kMaxHosts = 6;

bool oneOf(int value, std::initializer_list<int> allowed) {
    for (int a : allowed)
        if (a == value) return true;
    return false;
}

// A caller's buffer of exactly `n` elements, or null when the input says so.
template <class T>
T* maybe(FuzzInput& in, std::vector<T>& buffer) {
    return (in.byte() % 16) == 0 ? nullptr : buffer.data();
}

// The checks every board command shares: its result is allowed; a row that takes no transfer
// gives the failure result; success is never reported without the transfers it needs.
void checkResult(Session& s, const std::string& name, int result, std::initializer_list<int> allowed,
                 int failure, std::size_t transfersForSuccess) {
    FUZZ_CHECK(oneOf(result, allowed), name + ": result " + std::to_string(result) + " not allowed");
    if (!s.usableBefore())
        FUZZ_CHECK(result == failure, name + ": success on a row that takes no transfer");
    if (result != failure)
        FUZZ_CHECK(s.transfersInCall() >= transfersForSuccess,
                   name + ": reported success without reaching the board");
}

CallPlan commandPlan(std::string name, wire::Steps steps, std::uint16_t index, std::uint32_t waits,
                 std::uint32_t timeoutMs = 250, bool refused = false) {
    CallPlan plan;
    plan.name = std::move(name);
    plan.steps = std::move(steps);
    plan.usesRow = true;
    plan.index = index;
    plan.refusedForArguments = refused;
    plan.waits = waits;
    plan.timeoutMs = timeoutMs;
    return plan;
}

// One DIR_SET command: result 1 or 0.
template <class Call>
void setCommand(Session& s, const std::string& name, std::uint16_t index, wire::Steps steps,
                Call call, std::uint32_t timeoutMs = 250, bool refused = false) {
    s.begin(commandPlan(name, std::move(steps), index, 1, timeoutMs, refused));
    const int result = call();
    s.end();
    checkResult(s, name, result, {0, 1}, 0, refused ? 0 : 1);
    if (refused) FUZZ_CHECK(result == 0, name + ": a refused call reported success");
}

// One DIR_GET command: XFER_FAIL, XFER_OK or XFER_SHORT.
template <class Call>
void getCommand(Session& s, const std::string& name, std::uint16_t index, wire::Steps steps,
                Call call, std::uint32_t timeoutMs = 250, bool refused = false) {
    s.begin(commandPlan(name, std::move(steps), index, 2, timeoutMs, refused));
    const int result = call();
    s.end();
    checkResult(s, name, result, {XFER_FAIL, XFER_OK, XFER_SHORT}, XFER_FAIL, refused ? 0 : 1);
    if (refused) FUZZ_CHECK(result == XFER_FAIL, name + ": a refused call reported success");
}

void checkCapture(Session& s, const std::string& name, int result, bool refused,
                  std::uint16_t packets, const ScopeStats* stats, std::uint32_t perPacket,
                  bool fast) {
    if (refused) {
        FUZZ_CHECK(result == 0, name + ": a refused capture reported 1");
        return;
    }
    FUZZ_CHECK(result == 1, name + ": a capture returns 1");
    FUZZ_CHECK(stats->failCount + stats->okCount + stats->shortCount == packets,
               name + ": the counters do not add up to the packets");
    FUZZ_CHECK(stats->sampleCount == std::uint32_t{packets} * perPacket, name + ": sampleCount");
    FUZZ_CHECK(stats->flagSeen <= 1 && (!fast || stats->flagSeen == 0), name + ": flagSeen");
    if (!s.usableBefore()) FUZZ_CHECK(stats->failCount == packets, name + ": packets without a row");
    FUZZ_CHECK(s.transfersInCall() >= std::size_t{stats->okCount} + stats->shortCount,
               name + ": packets counted as received that were never requested");
}

// X of every point below the eye's width (0 when the width is 0), the width worked out again
// from the samples as they were left.
void checkEye(const std::vector<std::uint16_t>& eyeX, const std::vector<std::uint16_t>& eyeY,
              std::uint32_t count, std::uint16_t xScale) {
    std::uint32_t minimum = 0xFFFF, maximum = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        FUZZ_CHECK(eyeY[i] <= 4095 || (eyeY[i] == 4096), "u_GetEyeXY: a Y beyond 12 bits");
        if (eyeY[i] != 0 && eyeY[i] < minimum) minimum = eyeY[i];
        if (eyeY[i] > maximum) maximum = eyeY[i];
    }
    if (maximum == 0) minimum = 0;
    std::uint32_t width = xScale > 10 ? xScale : (xScale == 0 ? 1 : xScale) * (maximum - minimum);
    width &= 0xFFFF;
    for (std::uint32_t i = 0; i < count; ++i)
        FUZZ_CHECK(width == 0 ? eyeX[i] == 0 : eyeX[i] < width,
                   "u_GetEyeXY: X " + std::to_string(eyeX[i]) + " outside a width of " +
                       std::to_string(width));
}

// ---- the environment -------------------------------------------------------------------------

Fault decodeFault(FuzzInput& in) {
    switch (in.byte() % 8) {
        case 0: return {FaultKind::kNoReply};
        case 1: return {FaultKind::kShortReply, in.byte() % 70u};
        case 2: {
            static const std::uint32_t late[] = {10, 100, 240, 249, 251, 260, 400, 1000};
            return {FaultKind::kLateReply, in.pick(late)};
        }
        case 3: return {FaultKind::kStrayReply, in.byte() % 70u};
        case 4: return {FaultKind::kEndOfData};
        case 5: return {FaultKind::kStallWrite};
        case 6: {
            // Not ERROR_INVALID_HANDLE: which transfer takes a fault is not known to the harness,
            // and that code drops a row (the fault matrix covers it).
            static const std::uint32_t codes[] = {31, 995, 87, 1167};
            return {FaultKind::kRefuseWrite, in.pick(codes)};
        }
        default: return {FaultKind::kUnplug};
    }
}

void environment(Session& s, FuzzInput& in, std::uint32_t op) {
    switch (op) {
        case 0: s.plugBoard(); break;
        case 1: s.plugOther(); break;
        case 2: s.unplugAt(in.byte() % 4u); break;
        case 3: s.replugOne(in.byte()); break;
        case 4:
            if (emulated::Board* b = s.boardAt(in.byte())) {
                const std::size_t count = 1 + in.byte() % 3u;
                b->injectFaults(count, decodeFault(in));
            }
            break;
        case 5:
            if (emulated::Board* b = s.boardAt(in.byte()))
                b->replies().push_back({Bytes(in.byte() % 70u, 0x5A), s.world.now()});
            break;
        case 6:
            if (emulated::Board* b = s.boardAt(in.byte())) {
                static const std::uint32_t ms[] = {0, 1, 50, 120, 249, 251, 400, 0};
                b->setLatency(in.pick(ms) * emulated::Micros{1000});
            }
            break;
        case 7: {
            static const std::uint32_t ms[] = {0, 1, 10, 50, 100, 0, 0, 0};
            s.cancelLatency = in.pick(ms) * emulated::Micros{1000};
            s.world.setCancelLatency(s.cancelLatency);
            break;
        }
        case 8: s.world.setVanishedError(in.flag() ? platform::kErrorInvalidHandle : 1167); break;
        case 9:
            s.world.failEventCreation(1 + in.byte() % 2u);
            s.eventFailuresArmed = true;
            break;
        case 10: {
            static const std::uint32_t ms[] = {1, 25, 250, 1000, 2000, 50, 100, 1500};
            s.world.advance(in.pick(ms));
            break;
        }
        default:
            if (emulated::Board* b = s.boardAt(in.byte())) b->armEndOfData();
            break;
    }
}

// ---- the MPUSB family on the host's own handles -----------------------------------------------

struct HostChoice {
    TARVEX_HANDLE handle;
    Session::Host* host;  // null for "no handle" and the null handle
};

HostChoice chooseHandle(Session& s, FuzzInput& in) {
    const std::uint32_t n = static_cast<std::uint32_t>(s.hosts.size());
    const std::uint32_t pick = in.byte() % (n + 2);
    if (pick < n) return {s.hosts[pick].handle, &s.hosts[pick]};
    return {pick == n ? TARVEX_INVALID_HANDLE : nullptr, nullptr};
}

CallPlan hostCall(std::string name, std::uint32_t waits, std::uint32_t timeoutMs,
                  wire::Steps steps = {}) {
    CallPlan plan;
    plan.name = std::move(name);
    plan.steps = std::move(steps);
    plan.waits = waits;
    plan.timeoutMs = timeoutMs;
    return plan;
}

// A transfer on a handle that is not open fails with ERROR_INVALID_HANDLE; on the handle of a
// device that left, with the driver's code; either way without reaching any board.
void checkHostFailure(Session& s, const std::string& name, const HostChoice& h,
                      std::uint32_t result, std::uint32_t vanished) {
    const bool notOpen = h.host == nullptr || h.host->closed;
    if (!notOpen && !h.host->dead) return;
    FUZZ_CHECK(result == 0, name + ": success on a handle that cannot transfer");
    FUZZ_CHECK(s.transfersInCall() == 0, name + ": a dead handle reached a board");
    if (notOpen)
        FUZZ_CHECK(s.lastError() == platform::kErrorInvalidHandle,
                   name + ": last error " + std::to_string(s.lastError()) + " on a closed handle");
    else
        FUZZ_CHECK(s.lastError() == vanished,
                   name + ": last error " + std::to_string(s.lastError()) + " on a dead handle");
}

void hostExport(Session& s, FuzzInput& in, std::uint32_t which) {
    const std::uint32_t vanished = s.world.vanishedError();
    switch (which) {
        case 0: {  // MPUSBGetDeviceCount
            const std::uint8_t kind = in.byte() % 4;
            const char* vidPid = kind == 0 ? nullptr
                                 : kind == 1 ? "VID_04D8&PID_0030"
                                             : TARVEX_BOARD_VID_PID;
            s.begin(hostCall("MPUSBGetDeviceCount", 0, 0));
            const std::uint32_t count = MPUSBGetDeviceCount(vidPid);
            s.end();
            const std::uint32_t expected = kind == 0   ? s.presentInterfaces(127)
                                           : kind == 1 ? 0
                                                       : s.presentBoards(127);
            FUZZ_CHECK(count == expected, "MPUSBGetDeviceCount: " + std::to_string(count) +
                                              ", expected " + std::to_string(expected));
            break;
        }
        case 1: {  // MPUSBOpen
            if (s.hosts.size() >= kMaxHosts) break;
            const std::uint32_t member = in.byte() % 5u;
            const std::uint8_t kind = in.byte() % 8;
            const char* vidPid = kind == 0 ? nullptr : TARVEX_BOARD_VID_PID;
            const std::uint32_t direction = kind == 1 ? 2u : (in.flag() ? PIPE_READ : PIPE_WRITE);
            s.begin(hostCall("MPUSBOpen", 0, 0));
            TARVEX_HANDLE h = MPUSBOpen(member, vidPid, TARVEX_BOARD_PIPE, direction, in.u32());
            InterfaceId id = 0;
            const bool expectOpen = vidPid != nullptr && direction <= 1 &&
                                    s.boardAtMemberIndex(member, &id);
            if (h != TARVEX_INVALID_HANDLE) s.hosts.push_back({h, id, direction == PIPE_WRITE});
            s.end();
            FUZZ_CHECK((h != TARVEX_INVALID_HANDLE) == expectOpen,
                       "MPUSBOpen: member " + std::to_string(member) +
                           (expectOpen ? " did not open" : " opened"));
            break;
        }
        case 2:    // MPUSBRead
        case 4: {  // MPUSBReadInt
            const HostChoice h = chooseHandle(s, in);
            const std::uint32_t length = in.byte() % 80u;
            std::vector<std::uint8_t> buffer(length);
            std::uint8_t* data = maybe(in, buffer);
            std::vector<std::uint32_t> count(1, 0xAAAAAAAA);
            std::uint32_t* countPtr = maybe(in, count);
            const std::uint32_t timeout = in.timeout();
            const std::string name = which == 2 ? "MPUSBRead" : "MPUSBReadInt";
            s.begin(hostCall(name, 1, timeout));
            const std::uint32_t result = which == 2
                                             ? MPUSBRead(h.handle, data, length, countPtr, timeout)
                                             : MPUSBReadInt(h.handle, data, length, countPtr, timeout);
            s.end();
            FUZZ_CHECK(result <= 1, name + ": result not 0 or 1");
            FUZZ_CHECK(s.transfersInCall() == 0, name + ": a read wrote to a board");
            if (countPtr) {
                FUZZ_CHECK(result == 1 ? count[0] <= length : count[0] == 0,
                           name + ": count " + std::to_string(count[0]));
            }
            if (which == 4 && data == nullptr)
                FUZZ_CHECK(result == 0 && s.lastError() == platform::kErrorNoAccess,
                           name + ": a null buffer is refused with ERROR_NOACCESS");
            else if (data != nullptr || length == 0)
                checkHostFailure(s, name, h, result, vanished);
            break;
        }
        case 3: {  // MPUSBWrite
            const HostChoice h = chooseHandle(s, in);
            const std::uint32_t length = in.byte() % 80u;
            std::vector<std::uint8_t> buffer(length);
            for (auto& b : buffer) b = in.byte();
            const std::uint8_t* data = maybe(in, buffer);
            const std::uint32_t timeout = in.timeout();
            const bool refused = data == nullptr && length != 0;
            CallPlan plan = hostCall("MPUSBWrite", 1, timeout, wire::raw(buffer.data(), length));
            plan.refusedForArguments = refused;
            s.begin(plan);
            std::uint32_t count = 0xAAAAAAAA;
            const std::uint32_t result = MPUSBWrite(h.handle, data, length, &count, timeout);
            s.end();
            FUZZ_CHECK(result <= 1, "MPUSBWrite: result not 0 or 1");
            FUZZ_CHECK(result == 1 ? count == length : count == 0, "MPUSBWrite: count");
            // Host handles are opened on boards only, which record every transfer they take.
            if (result == 1) FUZZ_CHECK(s.transfersInCall() == 1, "MPUSBWrite: written, not received");
            if (!refused) checkHostFailure(s, "MPUSBWrite", h, result, vanished);
            break;
        }
        case 5: {  // MPUSBClose
            const HostChoice h = chooseHandle(s, in);
            s.begin(hostCall("MPUSBClose", 0, 0));
            const int result = MPUSBClose(h.handle);
            const bool open = h.host != nullptr && !h.host->closed;
            if (open) h.host->closed = true;
            s.end();
            const int expected = h.handle == TARVEX_INVALID_HANDLE ? 1 : (open ? 1 : 0);
            FUZZ_CHECK(result == expected, "MPUSBClose: " + std::to_string(result));
            break;
        }
        case 6:
        case 7:
        case 8: {  // the descriptor requests
            const HostChoice h = chooseHandle(s, in);
            const std::uint32_t size = in.byte() % 80u;
            std::vector<std::uint8_t> buffer(size);
            std::uint8_t* data = maybe(in, buffer);
            std::vector<std::uint32_t> length(1, 0xAAAAAAAA);
            std::uint32_t* lengthPtr = maybe(in, length);
            const std::uint8_t index = in.byte() % 4;
            s.begin(hostCall("MPUSBGet...Descriptor", 0, 0));
            std::uint32_t result = 0;
            if (which == 6) result = MPUSBGetDeviceDescriptor(h.handle, data, size, lengthPtr);
            if (which == 7)
                result = MPUSBGetConfigurationDescriptor(h.handle, index, data, size, lengthPtr);
            if (which == 8)
                result = MPUSBGetStringDescriptor(h.handle, index, 0x0409, data, size, lengthPtr);
            s.end();
            FUZZ_CHECK(result <= 1, "descriptor request: result not 0 or 1");
            if (data == nullptr || (which == 7 && index == 0))
                FUZZ_CHECK(result == 0, "descriptor request: refused, yet 1");
            if (lengthPtr)
                FUZZ_CHECK(result == 1 ? length[0] <= size : length[0] == 0,
                           "descriptor request: length " + std::to_string(length[0]));
            if (h.host == nullptr || h.host->closed || h.host->dead)
                FUZZ_CHECK(result == 0, "descriptor request on a handle that cannot transfer");
            break;
        }
        case 9: {  // MPUSBSetConfiguration
            const HostChoice h = chooseHandle(s, in);
            s.begin(hostCall("MPUSBSetConfiguration", 0, 0));
            const std::uint32_t result = MPUSBSetConfiguration(h.handle, in.u16());
            s.end();
            FUZZ_CHECK(result <= 1, "MPUSBSetConfiguration: result not 0 or 1");
            if (h.host == nullptr || h.host->closed || h.host->dead)
                FUZZ_CHECK(result == 0, "MPUSBSetConfiguration on a handle that cannot transfer");
            break;
        }
        default: {  // MPUSBGetDLLVersion
            s.begin(hostCall("MPUSBGetDLLVersion", 0, 0));
            const std::uint32_t version = MPUSBGetDLLVersion();
            s.end();
            FUZZ_CHECK(version == 0x01010000u, "MPUSBGetDLLVersion");
            break;
        }
    }
}

// ---- the port family -------------------------------------------------------------------------

void portExport(Session& s, FuzzInput& in, std::uint32_t which) {
    const std::uint32_t index = in.wideIndex();
    const std::uint32_t row = index & 0xFFFF;
    switch (which) {
        case 0: {  // OpenUSBPort
            CallPlan plan;
            plan.name = "OpenUSBPort";
            s.begin(plan);
            const int result = OpenUSBPort(index);
            InterfaceId id = 0;
            const bool expected = row < kRows && s.boardAtMemberIndex(row, &id);
            if (row < kRows) s.rows[row] = expected ? Session::Row{true, id, false} : Session::Row{};
            s.end();
            FUZZ_CHECK(result == (expected ? 1 : 0),
                       "OpenUSBPort(" + std::to_string(index) + "): " + std::to_string(result));
            break;
        }
        case 1: {  // CloseUSBPort
            CallPlan plan;
            plan.name = "CloseUSBPort";
            s.begin(plan);
            const int result = CloseUSBPort(index);
            if (row < kRows) s.rows[row] = Session::Row{};
            s.end();
            FUZZ_CHECK(result == (row < kRows ? 1 : 0), "CloseUSBPort: " + std::to_string(result));
            break;
        }
        case 2: {  // SendUSBPacket
            const std::uint32_t length = in.byte() % 130u;
            std::vector<std::uint8_t> data(length);
            for (auto& b : data) b = in.byte();
            const std::uint8_t* dataPtr = maybe(in, data);
            const std::uint32_t timeout = in.timeout();
            const bool refused = dataPtr == nullptr && length != 0;
            CallPlan plan = commandPlan("SendUSBPacket", wire::raw(data.data(), length),
                                    static_cast<std::uint16_t>(index), 1, timeout, refused);
            plan.index = index;
            s.begin(plan);
            const int result = SendUSBPacket(index, dataPtr, length, timeout);
            s.end();
            checkResult(s, "SendUSBPacket", result, {0, 1}, 0, 1);
            if (refused) FUZZ_CHECK(result == 0, "SendUSBPacket: refused, yet 1");
            break;
        }
        default: {  // SendReceiveUSBPacket
            const std::uint32_t length = in.byte() % 130u;
            std::vector<std::uint8_t> data(length);
            for (auto& b : data) b = in.byte();
            const std::uint8_t* dataPtr = maybe(in, data);
            const std::uint32_t expected = in.byte() % 600u;
            std::vector<std::uint8_t> reply(expected);
            std::uint8_t* replyPtr = maybe(in, reply);
            std::vector<std::uint32_t> replyLength(1, expected);
            std::uint32_t* replyLengthPtr = maybe(in, replyLength);
            const std::uint32_t writeTimeout = in.timeout();
            const std::uint32_t readTimeout = in.timeout();
            const bool refused = replyLengthPtr == nullptr || (dataPtr == nullptr && length != 0) ||
                                 (replyPtr == nullptr && expected != 0);
            const std::uint32_t longest =
                (writeTimeout == platform::kInfinite || readTimeout == platform::kInfinite)
                    ? platform::kInfinite
                    : std::max(writeTimeout, readTimeout);
            CallPlan plan = commandPlan("SendReceiveUSBPacket", wire::raw(data.data(), length),
                                    static_cast<std::uint16_t>(index), 2, longest, refused);
            plan.index = index;
            s.begin(plan);
            const int result = SendReceiveUSBPacket(index, dataPtr, length, replyPtr,
                                                    replyLengthPtr, writeTimeout, readTimeout);
            s.end();
            checkResult(s, "SendReceiveUSBPacket", result, {XFER_FAIL, XFER_OK, XFER_SHORT},
                        XFER_FAIL, 1);
            if (refused) FUZZ_CHECK(result == XFER_FAIL, "SendReceiveUSBPacket: refused, yet not 0");
            if (replyLengthPtr) {
                const std::uint32_t got = replyLength[0];
                if (result == XFER_OK) FUZZ_CHECK(got == expected, "SendReceiveUSBPacket: OK length");
                if (result == XFER_SHORT) FUZZ_CHECK(got < expected, "SendReceiveUSBPacket: short length");
                if (result == XFER_FAIL)
                    FUZZ_CHECK(got == 0 || got == expected, "SendReceiveUSBPacket: failed length");
            }
            break;
        }
    }
}

// ---- the u_ family ---------------------------------------------------------------------------

void capture(Session& s, FuzzInput& in, std::uint32_t which) {
    const std::uint16_t index = in.index();
    const std::uint8_t b = in.byte();
    const auto packets = static_cast<std::uint16_t>(b < 220 ? b % 24 : in.u16() % 300);
    std::vector<ScopeStats> stats(1, ScopeStats{0xAAAAAAAA, 0xAAAA, 0xAAAA, 0xAAAA, 0xAA});
    ScopeStats* statsPtr = maybe(in, stats);
    const bool fast = which == 1;
    std::vector<std::uint16_t> samples(std::size_t{packets} * 32, 0xEEEE);
    std::vector<std::uint8_t> slots(fast ? std::size_t{packets} * 512 : 0, 0xEE);
    std::vector<std::uint16_t> eyeX(which == 2 ? std::size_t{packets} * 32 : 0, 0xEEEE);
    std::uint16_t* samplesPtr = maybe(in, samples);
    std::uint8_t* slotsPtr = maybe(in, slots);
    std::uint16_t* eyeXPtr = maybe(in, eyeX);
    const double dataRate = in.rate();
    const double sampleRate = in.rate();
    const std::uint16_t xScale = in.flag() ? in.u16() : in.byte() % 12;

    bool refused = statsPtr == nullptr;
    if (which == 0) refused = refused || (samplesPtr == nullptr && packets != 0);
    if (which == 1) refused = refused || (slotsPtr == nullptr && packets != 0);
    if (which == 2) refused = refused || (packets != 0 && (samplesPtr == nullptr || eyeXPtr == nullptr));
    const char* name = which == 0 ? "u_GetScopeSamples" : which == 1 ? "u_GetScopeSamplesFast" : "u_GetEyeXY";

    CallPlan plan = commandPlan(name, wire::scopeSamples(fast, packets), index,
                            kCaptureStartWaits + 2u * packets, 250, refused);
    plan.sleepMs = refused ? 0 : 150;
    s.begin(plan);
    int result = 0;
    if (which == 0) result = u_GetScopeSamples(index, packets, samplesPtr, statsPtr);
    if (which == 1) result = u_GetScopeSamplesFast(index, packets, slotsPtr, statsPtr);
    if (which == 2)
        result = u_GetEyeXY(index, packets, dataRate, sampleRate, eyeXPtr, xScale, samplesPtr, statsPtr);
    s.end();
    checkCapture(s, name, result, refused, packets, statsPtr, fast ? 256 : 32, fast);
    if (refused || packets == 0) return;
    if (which != 1)
        for (std::uint16_t v : samples) FUZZ_CHECK(v <= 4095, std::string(name) + ": a sample beyond 12 bits");
    if (which == 2) checkEye(eyeX, samples, std::uint32_t{packets} * 32, xScale);
}

void commandExport(Session& s, FuzzInput& in, std::uint32_t which) {
    const std::uint16_t index = in.index();
    switch (which) {
        case 0: {  // u_About
            const std::size_t shown = s.world.messageBoxes().size();
            CallPlan plan;
            plan.name = "u_About";
            s.begin(plan);
            const int result = u_About();
            s.end();
            FUZZ_CHECK(result == 1 && s.world.messageBoxes().size() == shown + 1 &&
                           s.world.messageBoxes().back().caption == "About Tarvex API",
                       "u_About");
            break;
        }
        case 1: {
            CallPlan plan;
            plan.name = "u_GetAPIRev";
            s.begin(plan);
            const int result = u_GetAPIRev();
            s.end();
            FUZZ_CHECK(result == 4096, "u_GetAPIRev");
            break;
        }
        case 2: {
            CallPlan plan;
            plan.name = "u_GetDeviceCount";
            s.begin(plan);
            const int result = u_GetDeviceCount();
            s.end();
            FUZZ_CHECK(result == static_cast<int>(s.presentBoards(127)), "u_GetDeviceCount");
            break;
        }
        case 3: {
            std::vector<std::uint8_t> reply(20);
            std::uint8_t* p = maybe(in, reply);
            getCommand(s, "u_Ping", index, wire::ping(), [&] { return u_Ping(index, p); }, 250, !p);
            break;
        }
        case 4: setCommand(s, "u_Reset_MCU", index, wire::resetMcu(), [&] { return u_Reset_MCU(index); }); break;
        case 5:
            setCommand(s, "u_Reset_MCU_Boot", index, wire::resetMcuBoot(),
                       [&] { return u_Reset_MCU_Boot(index); });
            break;
        case 6: {
            const std::uint8_t id = in.byte();
            setCommand(s, "u_SetDeviceID", index, wire::setDeviceId(id), [&] { return u_SetDeviceID(index, id); });
            break;
        }
        case 7: case 8: case 9: case 10: {  // the four setters
            const auto selector = static_cast<std::uint8_t>(which - 7);
            std::vector<std::uint8_t> bytes(selector == 3 ? 6 : 4);
            for (auto& b : bytes) b = in.byte();
            const std::uint8_t* p = maybe(in, bytes);
            setCommand(s, "u_SetEth", index, wire::setEth(selector, bytes.data()), [&] {
                switch (selector) {
                    case 0: return u_SetEthIPAddr(index, p);
                    case 1: return u_SetEthIPMask(index, p);
                    case 2: return u_SetEthIPGateway(index, p);
                    default: return u_SetEthMACAddress(index, p);
                }
            }, 250, !p);
            break;
        }
        case 11: case 12: case 13: case 14: {  // the four getters
            const auto selector = static_cast<std::uint8_t>(which - 11);
            std::vector<std::uint8_t> bytes(selector == 3 ? 6 : 4);
            std::uint8_t* p = maybe(in, bytes);
            getCommand(s, "u_GetEth", index, wire::getEth(selector), [&] {
                switch (selector) {
                    case 0: return u_GetEthIPAddr(index, p);
                    case 1: return u_GetEthIPMask(index, p);
                    case 2: return u_GetEthIPGateway(index, p);
                    default: return u_GetEthMACAddress(index, p);
                }
            }, 250, !p);
            break;
        }
        case 15: {  // u_I2C_Write
            const std::uint8_t device = in.byte(), count = in.byte(), reg = in.byte(), aux = in.byte();
            std::vector<std::uint8_t> data(count);
            for (auto& b : data) b = in.byte();
            const std::uint8_t* p = maybe(in, data);
            const bool refused = !p && count != 0;
            s.begin(commandPlan("u_I2C_Write", wire::i2cWrite(device, data.data(), count, reg, aux), index, 2,
                            250, refused));
            const int result = u_I2C_Write(index, device, p, count, reg, aux);
            s.end();
            checkResult(s, "u_I2C_Write", result, {0, 1}, 0, refused ? 0 : 2);
            break;
        }
        case 16: {  // u_I2C_Read
            const std::uint8_t device = in.byte(), count = in.byte(), reg = in.byte(), aux = in.byte();
            std::vector<std::uint8_t> data(count);
            std::uint8_t* p = maybe(in, data);
            getCommand(s, "u_I2C_Read", index, wire::i2cRead(device, count, reg, aux),
                       [&] { return u_I2C_Read(index, device, count, p, reg, aux); }, 250, !p && count);
            break;
        }
        case 17: case 18: {  // u_SetSi5326, u_SetSi5338
            const auto chip = static_cast<std::uint8_t>(which - 17);
            const std::uint8_t device = in.byte(), reg = in.byte(), value = in.byte();
            setCommand(s, "u_SetSi53xx", index, wire::setClockChip(chip, device, reg, value), [&] {
                return chip == 0 ? u_SetSi5326(index, device, reg, value) : u_SetSi5338(index, device, reg, value);
            }, 100);
            break;
        }
        case 19: case 20: {  // u_GetSi5326, u_GetSi5338
            const auto chip = static_cast<std::uint8_t>(which - 19);
            const std::uint8_t device = in.byte(), reg = in.byte();
            std::vector<std::uint8_t> value(1);
            std::uint8_t* p = maybe(in, value);
            getCommand(s, "u_GetSi53xx", index, wire::getClockChip(chip, device, reg), [&] {
                return chip == 0 ? u_GetSi5326(index, device, reg, p) : u_GetSi5338(index, device, reg, p);
            }, 100, !p);
            break;
        }
        case 21: {
            const std::uint8_t address = in.byte();
            const std::uint16_t reg = in.u16(), value = in.u16();
            setCommand(s, "u_SetMDIO", index, wire::setMdio(address, reg, value),
                       [&] { return u_SetMDIO(index, address, reg, value); });
            break;
        }
        case 22: {
            const std::uint8_t address = in.byte();
            const std::uint16_t reg = in.u16();
            std::vector<std::uint16_t> value(1);
            std::uint16_t* p = maybe(in, value);
            getCommand(s, "u_GetMDIO", index, wire::getMdio(address, reg),
                       [&] { return u_GetMDIO(index, address, reg, p); }, 250, !p);
            break;
        }
        case 23: {
            const std::uint8_t port = in.byte() % 8;
            const std::uint16_t value = in.u16();
            setCommand(s, "u_SetPort", index, wire::setPort(port, value),
                       [&] { return u_SetPort(index, port, value); });
            break;
        }
        case 24: {
            const std::uint8_t port = in.byte() % 8;
            std::vector<std::uint16_t> value(1);
            std::uint16_t* p = maybe(in, value);
            getCommand(s, "u_GetPort", index, wire::getPort(port),
                       [&] { return u_GetPort(index, port, p); }, 250, !p);
            break;
        }
        case 25: {  // u_GetStatus
            std::vector<std::uint8_t> flags(4, 0xEE);
            std::uint8_t* p = maybe(in, flags);
            s.begin(commandPlan("u_GetStatus", wire::getStatus(), index, 6, 250, !p));
            const int result = u_GetStatus(index, p);
            s.end();
            checkResult(s, "u_GetStatus", result, {0, 1, 2}, 0, p ? 3 : 0);
            if (p)
                for (std::uint8_t f : flags) FUZZ_CHECK(f <= 1, "u_GetStatus: a flag is not 0 or 1");
            break;
        }
        case 26: {  // u_ResetFIFO
            CallPlan plan = commandPlan("u_ResetFIFO", wire::resetFifo(), index, 4);
            plan.sleepMs = 100;
            s.begin(plan);
            const int result = u_ResetFIFO(index);
            s.end();
            checkResult(s, "u_ResetFIFO", result, {0, 1}, 0, 3);
            break;
        }
        case 27: case 28: {  // u_GetScopePacket, u_GetScopePacketFast
            std::vector<std::uint8_t> packet(64);
            std::uint8_t* p = maybe(in, packet);
            getCommand(s, "u_GetScopePacket", index, wire::scopePacket(which == 28), [&] {
                return which == 27 ? u_GetScopePacket(index, p) : u_GetScopePacketFast(index, p);
            }, 250, !p);
            break;
        }
        case 29: case 30: case 31: capture(s, in, which - 29); break;
        case 32:
            setCommand(s, "u_GenerateVScopeEye", index, wire::generateVScopeEye(),
                       [&] { return u_GenerateVScopeEye(index); });
            break;
        case 33: {
            const std::uint8_t pageLength = in.byte(), page = in.byte();
            std::vector<std::uint8_t> reply(pageLength);
            std::uint8_t* p = maybe(in, reply);
            getCommand(s, "u_GetVScopePacket", index, wire::vScopePacket(pageLength, page),
                       [&] { return u_GetVScopePacket(index, p, pageLength, page); }, 250,
                       !p && pageLength);
            break;
        }
        case 34: {  // u_GetVScopeSamples
            std::vector<std::uint8_t> eye(1024);
            std::uint8_t* p = maybe(in, eye);
            CallPlan plan = commandPlan("u_GetVScopeSamples", wire::vScopeSamples(), index, 33, 250, !p);
            plan.sleepMs = p ? 1900 : 0;
            s.begin(plan);
            const int result = u_GetVScopeSamples(index, p);
            s.end();
            checkResult(s, "u_GetVScopeSamples", result, {0, 1}, 0, p ? 17 : 0);
            break;
        }
        case 35: {
            std::vector<std::uint8_t> temperature(1);
            std::uint8_t* p = maybe(in, temperature);
            getCommand(s, "u_GetVSCTemp", index, wire::vscTemp(), [&] { return u_GetVSCTemp(index, p); },
                       250, !p);
            break;
        }
        case 36: {  // u_StoreScopeCalibValues
            std::vector<float> values(7);
            for (float& v : values) v = in.calibration();
            const float* p = maybe(in, values);
            s.begin(commandPlan("u_StoreScopeCalibValues", wire::storeCalibration(values.data()), index, 2,
                            250, !p));
            const int result = u_StoreScopeCalibValues(index, p);
            s.end();
            checkResult(s, "u_StoreScopeCalibValues", result, {0, 1}, 0, p ? 2 : 0);
            break;
        }
        default: {  // u_GetScopeCalibValues
            std::vector<float> values(7, -1.0f);
            float* p = maybe(in, values);
            getCommand(s, "u_GetScopeCalibValues", index, wire::getCalibration(),
                       [&] { return u_GetScopeCalibValues(index, p); }, 250, !p);
            if (p)
                for (float v : values)
                    FUZZ_CHECK(std::isfinite(v) && v >= 0.0f && v < 65543.0f,
                               "u_GetScopeCalibValues: " + std::to_string(v));
            break;
        }
    }
}

void step(Session& s, FuzzInput& in) {
    const std::uint32_t op = in.byte() % (kEnvironmentOps + kExports);
    if (op < kEnvironmentOps) return environment(s, in, op);
    const std::uint32_t which = op - kEnvironmentOps;
    if (which < 11) return hostExport(s, in, which);
    if (which < 15) return portExport(s, in, which - 11);
    commandExport(s, in, which - 15);
}

}  // namespace
}  // namespace tarvex::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarvex::fuzz::FuzzInput in(data, size);
    tarvex::fuzz::Session session;
    // Open a row or two first more often than not: most calls want a usable board.
    if (in.flag()) {
        session.begin({.name = "OpenUSBPort"});
        const int opened = OpenUSBPort(0);
        tarvex::emulated::InterfaceId id = 0;
        session.boardAtMemberIndex(0, &id);
        session.rows[0] = {true, id, false};
        session.end();
        FUZZ_CHECK(opened == 1, "OpenUSBPort(0) on the first board");
    }
    for (int steps = 0; steps < 64 && !in.done(); ++steps) tarvex::fuzz::step(session, in);
    return 0;
}
