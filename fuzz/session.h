// One fuzz input's world: an emulated driver with boards and other devices that come and go, and
// what the harness expects of the library there: which rows of the port table are open on which
// device, which host handles are open, and the shared command buffer (through the independent
// command buffer model).  After every call the session checks the invariants that hold whatever
// the arguments and faults were, and stops the process on the first one broken.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulated/board.h"
#include "emulated/world.h"
#include "platform/platform.h"
#include "reliability/command_buffer_model.h"
#include "reliability/command_bytes.h"
#include "tarvex.h"

namespace tarvex::fuzz {

using emulated::InterfaceId;
using reliability::Bytes;

// Prints each call and its result to standard error as it happens (the replay's --trace).
extern bool gTrace;

// Reports a broken invariant and ends the process, so that the fuzzer keeps the input.
[[noreturn]] void finding(const std::string& what);
#define FUZZ_CHECK(condition, what)                                                              \
    do {                                                                                         \
        if (!(condition))                                                                        \
            ::tarvex::fuzz::finding(std::string(__FILE__) + ":" + std::to_string(__LINE__) + ": " + \
                                    (what));                                                     \
    } while (0)

constexpr std::uint32_t kRows = 32;

// What one call is expected to do on the wire and how long it may take.
struct CallPlan {
    std::string name{};
    reliability::wire::Steps steps{};  // what it sends (empty: nothing)
    bool usesRow = false;            // a board command or port primitive on `row`
    std::uint32_t index = 0;         // its index as passed (only the low 16 bits count)
    bool refusedForArguments = false;  // refused before anything: no transfer, buffer untouched
    std::uint32_t waits = 0;         // most timed waits (writes and reads)
    std::uint32_t timeoutMs = 250;   // each (0xFFFFFFFF: without limit)
    std::uint32_t sleepMs = 0;       // slept whatever happens
};

class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // ---- devices ----
    void plugBoard();
    void plugOther();
    void unplugAt(std::uint32_t memberIndex);
    void replugOne(std::uint32_t choice);
    emulated::Board* boardAt(std::uint32_t choice);  // one of the boards ever plugged, or null
    std::uint32_t presentBoards(std::uint32_t limit) const;
    std::uint32_t presentInterfaces(std::uint32_t limit) const;
    bool boardAtMemberIndex(std::uint32_t memberIndex, InterfaceId* id = nullptr) const;

    // ---- the port table and host handles as expected ----
    struct Row {
        bool open = false;  // holds two handles
        InterfaceId id = 0;
        bool dead = false;  // its device left after the open
    };
    Row rows[kRows];
    bool rowUsable(std::uint32_t index) const;
    // Whether the failure of an event creation may have dropped a row during the call.
    bool eventFailuresArmed = false;

    struct Host {
        TARVEX_HANDLE handle;
        InterfaceId id;
        bool write;
        bool closed = false;
        bool dead = false;
    };
    std::vector<Host> hosts;

    // ---- calls ----
    // Call `begin` right before and `end` right after the export; `end` checks the invariants.
    void begin(const CallPlan& plan);
    void end();
    std::uint32_t lastError() { return lastError_; }
    std::size_t transfersInCall() const { return wire_.size(); }
    // Whether the call's row could take transfers when the call began.
    bool usableBefore() const { return rowUsableBefore_; }
    const std::vector<Bytes>& wire() const { return wire_; }
    double elapsedMs() const { return elapsedMs_; }

    emulated::World world;
    platform::ScopedBackend use{world};
    emulated::Micros cancelLatency = 0;

private:
    void hook(emulated::Board& board);
    void notePresence();
    bool registered(InterfaceId id);

    std::vector<InterfaceId> plugged_;  // every interface ever plugged
    std::vector<InterfaceId> present_;  // member-index order
    std::vector<bool> isBoard_;         // by interface id - 1
    std::vector<Bytes> wire_;
    CallPlan plan_;
    bool rowUsableBefore_ = false;
    emulated::Micros start_ = 0;
    double elapsedMs_ = 0;
    std::uint32_t lastError_ = 0;
};

// The shared command buffer's model lives as long as the buffer: the whole process.
reliability::CommandBufferModel& model();

}  // namespace tarvex::fuzz
