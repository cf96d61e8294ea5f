// The emulated world's core: handles, events and waits, time, the last-error code, message boxes.
#include "emulated/world.h"

#include <utility>

#include "emulated/world_state.h"

namespace tarvex::emulated {
namespace {

thread_local std::uint32_t threadLastError = 0;

constexpr Micros kMicrosPerMs = 1000;

}  // namespace

void setLastErrorCode(std::uint32_t code) { threadLastError = code; }
std::uint32_t lastErrorCode() { return threadLastError; }

std::uint32_t errorOfStatus(std::uintptr_t status) {
    if ((status & kStatusErrorMark) == kStatusErrorMark)
        return static_cast<std::uint32_t>(status & ~kStatusErrorMark);
    return platform::kErrorGenFailure;
}

// ---- handles ----

platform::Handle World::State::add(Object object) {
    // Values are never reused, so a request that outlives its event cannot signal a newer one.
    std::uintptr_t value = nextHandle;
    nextHandle += 4;
    objects.emplace(value, std::move(object));
    return reinterpret_cast<platform::Handle>(value);
}

void World::State::signal(std::uintptr_t event) {
    auto it = objects.find(event);
    if (it == objects.end()) return;  // closed before the request ended
    if (auto* e = std::get_if<EventObject>(&it->second)) e->signalled = true;
}

void World::State::reset(std::uintptr_t event) {
    auto it = objects.find(event);
    if (it == objects.end()) return;
    if (auto* e = std::get_if<EventObject>(&it->second)) e->signalled = false;
}

// ---- the world ----

World::World(ClockMode mode) : state_(std::make_unique<State>(*this, mode)) {}

// Requests still in flight are dropped without completing: their records and buffers may be
// gone by now.
World::~World() = default;

Micros World::now() const { return state_->clock.now(); }

void World::schedule(Micros at, std::function<void()> action) {
    state_->clock.schedule(at, std::move(action));
}

std::size_t World::openHandleCount() const { return state_->objects.size(); }
std::size_t World::pendingRequestCount() const { return state_->pending.size(); }
const BoundedLog<ControlRequest>& World::controlRequests() const {
    return state_->controlRequests;
}

bool World::closeHandle(platform::Handle object) {
    // All bits set is the current process's pseudo-handle: closing it is allowed and does nothing.
    if (object == platform::invalidHandle()) return true;
    auto it = state_->objects.find(State::key(object));
    if (it == state_->objects.end()) return fail(platform::kErrorInvalidHandle);
    if (std::holds_alternative<FileObject>(it->second)) {
        // Closing a file cancels what is still running on it.
        state_->cancel(it->first);
    } else if (!std::holds_alternative<EventObject>(it->second)) {
        // Snapshots and registry keys are released by their own calls.
        return fail(platform::kErrorInvalidHandle);
    }
    state_->objects.erase(it);
    return true;
}

// ---- events and waits ----

platform::Handle World::createEvent(bool manualReset, bool initialState) {
    if (failEvents_ > 0) {
        --failEvents_;
        fail(platform::kErrorNotEnoughMemory);
        return nullptr;
    }
    platform::Handle event = state_->add(EventObject{manualReset, initialState});
    setLastErrorCode(platform::kErrorSuccess);
    return event;
}

bool World::resetEvent(platform::Handle event) {
    auto* e = state_->find<EventObject>(event);
    if (!e) return fail(platform::kErrorInvalidHandle);
    e->signalled = false;
    return true;
}

std::uint32_t World::waitForSingleObject(platform::Handle object, std::uint32_t timeoutMs) {
    if (!state_->find<EventObject>(object)) {
        fail(platform::kErrorInvalidHandle);
        return platform::kWaitFailed;
    }
    std::optional<Micros> deadline;
    if (timeoutMs != platform::kInfinite) deadline = now() + timeoutMs * kMicrosPerMs;

    state_->clock.catchUp();
    auto signalled = [&] {
        auto* e = state_->find<EventObject>(object);
        return !e || e->signalled;
    };
    Clock::Outcome outcome = state_->clock.runUntil(signalled, deadline);

    auto* e = state_->find<EventObject>(object);
    if (!e) {  // closed by something that ran during the wait
        fail(platform::kErrorInvalidHandle);
        return platform::kWaitFailed;
    }
    switch (outcome) {
    case Clock::Outcome::kDone:
        if (!e->manualReset) e->signalled = false;
        return platform::kWaitObject0;
    case Clock::Outcome::kDeadlineReached:
        return platform::kWaitTimeout;
    case Clock::Outcome::kStuck:
        break;
    }
    // An endless wait that nothing can ever end would hang the caller for good; a real system
    // would hang, the emulation reports it instead.
    fail(win32::kErrorPossibleDeadlock);
    return platform::kWaitFailed;
}

// ---- the rest ----

std::uint32_t World::getLastError() { return lastErrorCode(); }
void World::setLastError(std::uint32_t code) { setLastErrorCode(code); }

void World::sleep(std::uint32_t ms) { state_->clock.advanceTo(now() + ms * kMicrosPerMs); }

int World::messageBox(const char* text, const char* caption, std::uint32_t style) {
    messageBoxes_.push_back({text ? text : "", caption ? caption : "", style});
    return 1;  // IDOK
}

}  // namespace tarvex::emulated
