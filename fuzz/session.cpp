#include "fuzz/session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "commands/packet.h"
#include "port/port_table.h"

namespace tarvex::fuzz {

bool gTrace = false;

void finding(const std::string& what) {
    std::fprintf(stderr, "\n==== tarvex fuzz finding ====\n%s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

reliability::CommandBufferModel& model() {
    static reliability::CommandBufferModel model;
    return model;
}

Session::Session() {
    // The port table outlives every input.  Its rows start as "never opened" when the process
    // starts; closing them once makes every input start from closed rows.
    static bool rowsClosed = false;
    if (!rowsClosed) {
        for (std::uint32_t k = 0; k < kRows; ++k) CloseUSBPort(k);
        rowsClosed = true;
    }
    // Each input starts from the command buffer as loaded, so that it replays on its own.
    commands::outBuff = CommandPacket{};
    model().reset();
    plugBoard();
}

Session::~Session() {
    for (std::uint32_t k = 0; k < kRows; ++k) CloseUSBPort(k);
    for (Host& h : hosts)
        if (!h.closed) MPUSBClose(h.handle);
}

// ---- devices ----

void Session::hook(emulated::Board& board) {
    board.onReceive = [this](const emulated::Transfer& t) { wire_.push_back(t.bytes); };
}

void Session::plugBoard() {
    if (plugged_.size() >= 6) return;
    emulated::Board& board = world.plugBoard();
    hook(board);
    const InterfaceId id = world.idOf(board);
    plugged_.push_back(id);
    present_.push_back(id);
    isBoard_.resize(id, false);
    isBoard_[id - 1] = true;
}

void Session::plugOther() {
    if (plugged_.size() >= 6) return;
    const InterfaceId id = world.plugDevice(0x1234, 0x5678);
    plugged_.push_back(id);
    present_.push_back(id);
    isBoard_.resize(id, false);
}

void Session::unplugAt(std::uint32_t memberIndex) {
    if (memberIndex >= present_.size()) return;
    world.unplug(present_[memberIndex]);
    notePresence();
}

void Session::replugOne(std::uint32_t choice) {
    std::vector<InterfaceId> gone;
    for (InterfaceId id : plugged_)
        if (std::find(present_.begin(), present_.end(), id) == present_.end()) gone.push_back(id);
    if (gone.empty()) return;
    const InterfaceId id = gone[choice % gone.size()];
    world.replug(id);
    present_.push_back(id);
}

emulated::Board* Session::boardAt(std::uint32_t choice) {
    if (plugged_.empty()) return nullptr;
    return world.board(plugged_[choice % plugged_.size()]);
}

std::uint32_t Session::presentBoards(std::uint32_t limit) const {
    std::uint32_t n = 0;
    for (std::size_t i = 0; i < present_.size() && i < limit; ++i) n += isBoard_[present_[i] - 1];
    return n;
}

std::uint32_t Session::presentInterfaces(std::uint32_t limit) const {
    return static_cast<std::uint32_t>(std::min<std::size_t>(present_.size(), limit));
}

bool Session::boardAtMemberIndex(std::uint32_t memberIndex, InterfaceId* id) const {
    if (memberIndex >= present_.size() || !isBoard_[present_[memberIndex] - 1]) return false;
    if (id) *id = present_[memberIndex];
    return true;
}

// An interface is present while its registry key exists (the driver removes it on unplug).
bool Session::registered(InterfaceId id) {
    platform::RegKey key = nullptr;
    if (world.regOpenKey(world.registryKeyOf(id).c_str(), 0, platform::kKeyQueryValue, &key) != 0)
        return false;
    world.regCloseKey(key);
    return true;
}

// Learns of interfaces that left (an unplug fault, an unplug op) and kills their handles.
void Session::notePresence() {
    std::vector<InterfaceId> still;
    for (InterfaceId id : present_) {
        if (registered(id)) {
            still.push_back(id);
            continue;
        }
        for (Row& row : rows)
            if (row.open && row.id == id) row.dead = true;
        for (Host& h : hosts)
            if (h.id == id) h.dead = true;
    }
    present_ = still;
}

bool Session::rowUsable(std::uint32_t index) const {
    const std::uint32_t row = index & 0xFFFF;
    return row < kRows && rows[row].open && !rows[row].dead;
}

// ---- calls ----

void Session::begin(const CallPlan& plan) {
    plan_ = plan;
    wire_.clear();
    rowUsableBefore_ = plan.usesRow && rowUsable(plan.index);
    start_ = world.now();
    if (gTrace) std::fprintf(stderr, "  t=%.3f ms %s", static_cast<double>(start_) / 1000.0, plan.name.c_str());
}

void Session::end() {
    elapsedMs_ = static_cast<double>(world.now() - start_) / 1000.0;
    lastError_ = world.getLastError();
    const std::string& name = plan_.name;
    if (gTrace)
        std::fprintf(stderr, " (index %u) -> %zu transfers, last error %u, %.3f ms\n", plan_.index,
                     wire_.size(), lastError_, elapsedMs_);

    FUZZ_CHECK(world.pendingRequestCount() == 0, name + ": a request outlived the call");
    notePresence();

    // A transfer on a dead row fails with the driver's code; "invalid handle" drops the row.
    const std::uint32_t row = plan_.index & 0xFFFF;
    if (plan_.usesRow && !plan_.refusedForArguments && row < kRows && rows[row].open &&
        rows[row].dead && world.vanishedError() == platform::kErrorInvalidHandle)
        rows[row] = Row{};
    // A wait on an event that could not be created fails with "invalid handle" too.
    if (eventFailuresArmed && plan_.usesRow && row < kRows &&
        port::outPipeOf(row) == platform::invalidHandle())
        rows[row] = Row{};
    std::size_t expectedHandles = 0;
    for (std::uint32_t k = 0; k < kRows; ++k) {
        const bool open = port::outPipeOf(k) != platform::invalidHandle() &&
                          port::inPipeOf(k) != platform::invalidHandle();
        FUZZ_CHECK(open == rows[k].open,
                   name + ": row " + std::to_string(k) + (open ? " open" : " dropped") +
                       " where the harness expected otherwise");
        expectedHandles += rows[k].open ? 2 : 0;
    }
    for (const Host& h : hosts) expectedHandles += h.closed ? 0 : 1;
    FUZZ_CHECK(world.openHandleCount() == expectedHandles,
               name + ": " + std::to_string(world.openHandleCount()) + " handles open, expected " +
                   std::to_string(expectedHandles) + " (a leak, or a handle closed twice)");

    if (plan_.refusedForArguments) FUZZ_CHECK(wire_.empty(), name + ": refused, yet it sent");
    if (plan_.usesRow && !rowUsableBefore_)
        FUZZ_CHECK(wire_.empty(), name + ": a row that takes no transfer sent one");
    const std::string diff =
        model().advance(plan_.refusedForArguments ? reliability::wire::Steps{} : plan_.steps, wire_);
    FUZZ_CHECK(diff.empty(), name + ": " + diff);

    if (plan_.timeoutMs != platform::kInfinite) {
        const double bound = plan_.sleepMs + plan_.waits * (plan_.timeoutMs +
                                                             static_cast<double>(cancelLatency) / 1000.0);
        FUZZ_CHECK(elapsedMs_ <= bound, name + ": took " + std::to_string(elapsedMs_) +
                                            " ms, more than its time-outs allow (" +
                                            std::to_string(bound) + " ms)");
    }
    if (!plan_.refusedForArguments)
        FUZZ_CHECK(elapsedMs_ >= plan_.sleepMs, name + ": skipped its sleeps");
}

}  // namespace tarvex::fuzz
