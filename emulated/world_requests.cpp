// The emulated driver's requests in flight: how they start, complete, get cancelled and end
// when their device leaves.  A read takes the board's replies in order as they become ready and
// writes into the caller's buffer only when it completes, as a real driver does.
#include <algorithm>
#include <cstring>
#include <optional>

#include "emulated/world.h"
#include "emulated/world_state.h"

namespace tarvex::emulated {
namespace {

// The data pipe's endpoints are polled every 1 ms (bInterval of the configuration descriptor).
constexpr Micros kInterruptPollInterval = 1000;

}  // namespace

bool World::State::submit(const std::shared_ptr<Request>& request, const FileObject& file,
                          std::uint32_t* count) {
    if (platform::Overlapped* ov = request->overlapped) {
        ov->internal = kStatusPending;
        ov->internalHigh = 0;
        reset(request->event);
    }
    pending.push_back(request);
    if (Interface* in = interface(request->interfaceId)) {
        if (request->kind == RequestKind::kRead) pumpReplies(*in);
        if (request->kind == RequestKind::kInterruptRead) pollInterrupts();
    }
    if (!request->ended) {
        if (request->overlapped && file.overlapped) return fail(platform::kErrorIoPending);
        // A synchronous request (no record, or a handle not opened for overlapped requests)
        // blocks its caller until it ends; one that never can would hang it for good.
        auto ended = [&] { return request->ended; };
        if (clock.runUntil(ended, std::nullopt) != Clock::Outcome::kDone)
            finish(*request, win32::kErrorPossibleDeadlock, 0);
    }
    if (request->error != 0) return fail(request->error);
    if (count) *count = request->count;
    return true;
}

bool World::State::completeAtOnce(platform::Overlapped* overlapped, std::uint32_t* count,
                                  std::uint32_t n) {
    // A request that completes as it is made still reports through its record and event.
    if (overlapped) {
        overlapped->internal = 0;
        overlapped->internalHigh = n;
        signal(key(overlapped->event));
    }
    if (count) *count = n;
    return true;
}

bool World::State::refuse(platform::Overlapped* overlapped, std::uint32_t error) {
    // The record shows the failure too, so that asking it for the outcome cannot report success.
    if (overlapped) {
        overlapped->internal = statusOf(error);
        overlapped->internalHigh = 0;
    }
    return fail(error);
}

void World::State::finish(Request& request, std::uint32_t error, std::uint32_t count) {
    request.ended = true;
    request.error = error;
    request.count = count;
    if (platform::Overlapped* ov = request.overlapped) {
        ov->internalHigh = count;
        ov->internal = statusOf(error);
        signal(request.event);
    }
    pending.remove_if([&](const std::shared_ptr<Request>& r) { return r.get() == &request; });
}

std::shared_ptr<Request> World::State::pendingFor(const platform::Overlapped* overlapped) {
    for (auto it = pending.rbegin(); it != pending.rend(); ++it)
        if ((*it)->overlapped == overlapped) return *it;
    return nullptr;
}

void World::State::cancel(std::uintptr_t file) {
    std::vector<std::shared_ptr<Request>> cancelled;
    for (const auto& r : pending)
        if (r->file == file && !r->cancelling) cancelled.push_back(r);
    for (const auto& r : cancelled) {
        r->cancelling = true;
        if (world.cancelLatency_ == 0) {
            finish(*r, platform::kErrorOperationAborted, 0);
        } else {
            // Until the cancel takes effect, a reply that becomes ready still completes the read.
            clock.schedule(clock.now() + world.cancelLatency_, [this, r] {
                if (!r->ended) finish(*r, platform::kErrorOperationAborted, 0);
            });
        }
    }
}

void World::State::endRequestsOf(InterfaceId id, std::uint32_t error) {
    std::vector<std::shared_ptr<Request>> ending;
    for (const auto& r : pending)
        if (r->interfaceId == id) ending.push_back(r);
    for (const auto& r : ending) finish(*r, error, 0);
}

void World::State::queueRepliesFrom(Interface& in, std::size_t firstNew) {
    const auto& replies = in.board->replies();
    const InterfaceId id = in.id;
    const std::uint32_t generation = in.generation;
    // A reply ready now goes to a waiting read at once below, or to the next read that starts;
    // only a reply ready later needs its moment scheduled.
    for (std::size_t i = firstNew; i < replies.size(); ++i) {
        if (replies[i].readyAt <= clock.now()) continue;
        clock.schedule(replies[i].readyAt, [this, id, generation] {
            Interface* target = interface(id);
            if (target && target->plugged && target->generation == generation)
                pumpReplies(*target);
        });
    }
    pumpReplies(in);
}

void World::State::pumpReplies(Interface& in) {
    if (!in.board || !in.plugged) return;
    std::vector<std::shared_ptr<Request>> reads;
    for (const auto& r : pending)
        if (r->kind == RequestKind::kRead && r->interfaceId == in.id) reads.push_back(r);
    auto& replies = in.board->replies();
    for (const auto& r : reads) {
        if (replies.empty() || replies.front().readyAt > clock.now()) break;
        Board::QueuedReply reply = std::move(replies.front());
        replies.pop_front();
        // A reply longer than the read is cut to it, as a short USB read cuts a packet.
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(r->length, reply.bytes.size()));
        if (n) std::memcpy(r->buffer, reply.bytes.data(), n);
        finish(*r, 0, n);
    }
}

void World::State::pollInterrupts() {
    std::vector<std::shared_ptr<Request>> reads;
    for (const auto& r : pending)
        if (r->kind == RequestKind::kInterruptRead) reads.push_back(r);
    bool waiting = false;
    for (const auto& r : reads) {
        Interface* in = interface(r->interfaceId);
        if (!in || !in->board) continue;  // nothing there will ever answer
        std::optional<Bytes> data = in->board->firmware().interruptData(clock.now());
        if (!data) {
            waiting = true;
            continue;
        }
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(r->length, data->size()));
        if (n) std::memcpy(r->buffer, data->data(), n);
        finish(*r, 0, n);
    }
    if (waiting && !interruptPollScheduled) {
        interruptPollScheduled = true;
        clock.schedule(clock.now() + kInterruptPollInterval, [this] {
            interruptPollScheduled = false;
            pollInterrupts();
        }, /*background=*/true);
    }
}

}  // namespace tarvex::emulated
