// The file calls of the platform seam over the emulated driver: opening a device's data pipe or
// bare interface, reads, writes, control requests, their outcomes and cancels.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "emulated/descriptors.h"
#include "emulated/world.h"
#include "emulated/world_state.h"

namespace tarvex::emulated {
namespace {

bool sameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

platform::Handle World::createFile(const char* name, std::uint32_t access,
                                   std::uint32_t /*shareMode*/, std::uint32_t disposition,
                                   std::uint32_t flags) {
    if (!name) {
        fail(win32::kErrorPathNotFound);
        return platform::invalidHandle();
    }
    // A device can only be opened, not created.
    if (disposition != platform::kOpenExisting) {
        fail(platform::kErrorInvalidParameter);
        return platform::invalidHandle();
    }
    Interface* found = nullptr;
    bool pipe = false;
    for (InterfaceId id : state_->present) {
        Interface* in = state_->interface(id);
        if (sameText(name, in->path + std::string(driver::kDataPipeName))) {
            found = in;
            pipe = true;
            break;
        }
        if (sameText(name, in->path)) {
            found = in;
            break;
        }
    }
    if (!found) {
        fail(platform::kErrorFileNotFound);
        return platform::invalidHandle();
    }
    FileObject file{found->id,
                    found->generation,
                    pipe,
                    (access & platform::kGenericRead) != 0,
                    (access & platform::kGenericWrite) != 0,
                    (flags & platform::kFileFlagOverlapped) != 0};
    if (exclusiveOpen_ && pipe) {
        for (const auto& [value, object] : state_->objects) {
            const auto* other = std::get_if<FileObject>(&object);
            if (other && other->pipe && other->interfaceId == file.interfaceId &&
                other->generation == file.generation &&
                ((other->canRead && file.canRead) || (other->canWrite && file.canWrite))) {
                fail(platform::kErrorSharingViolation);
                return platform::invalidHandle();
            }
        }
    }
    return state_->add(file);
}

bool World::readFile(platform::Handle file, void* buffer, std::uint32_t length,
                     std::uint32_t* count, platform::Overlapped* overlapped) {
    if (count) *count = 0;
    auto* f = state_->find<FileObject>(file);
    if (!f) return state_->refuse(overlapped, platform::kErrorInvalidHandle);
    // A synchronous read must have somewhere to put its count.
    if (!overlapped && !count) return state_->refuse(overlapped, platform::kErrorInvalidParameter);
    Interface* in = state_->liveInterface(*f);
    if (!in) return state_->refuse(overlapped, vanishedError_);
    if (!f->pipe) return state_->refuse(overlapped, win32::kErrorInvalidFunction);
    if (!f->canRead) return state_->refuse(overlapped, platform::kErrorAccessDenied);
    if (!buffer && length) return state_->refuse(overlapped, platform::kErrorNoAccess);
    if (in->board && in->board->takeEndOfData())
        return state_->refuse(overlapped, platform::kErrorHandleEof);

    auto request = std::make_shared<Request>(Request{
        RequestKind::kRead, State::key(file), in->id, static_cast<std::uint8_t*>(buffer), length,
        overlapped, overlapped ? State::key(overlapped->event) : 0});
    return state_->submit(request, *f, count);
}

bool World::writeFile(platform::Handle file, const void* buffer, std::uint32_t length,
                      std::uint32_t* count, platform::Overlapped* overlapped) {
    if (count) *count = 0;
    auto* f = state_->find<FileObject>(file);
    if (!f) return state_->refuse(overlapped, platform::kErrorInvalidHandle);
    if (!overlapped && !count) return state_->refuse(overlapped, platform::kErrorInvalidParameter);
    Interface* in = state_->liveInterface(*f);
    if (!in) return state_->refuse(overlapped, vanishedError_);
    if (!f->pipe) return state_->refuse(overlapped, win32::kErrorInvalidFunction);
    if (!f->canWrite) return state_->refuse(overlapped, platform::kErrorAccessDenied);
    if (!buffer && length) return state_->refuse(overlapped, platform::kErrorNoAccess);

    // Another vendor's device takes whatever is written and never answers.
    if (!in->board) return state_->completeAtOnce(overlapped, count, length);

    Board& board = *in->board;
    const std::size_t queued = board.replies().size();
    Board::WriteOutcome outcome =
        board.write(static_cast<const std::uint8_t*>(buffer), length, now());
    if (outcome.unplug) {
        unplug(in->id);
        return state_->refuse(overlapped, vanishedError_);
    }
    if (!outcome.accepted) return state_->refuse(overlapped, outcome.error);
    state_->queueRepliesFrom(*in, queued);
    if (outcome.stall) {
        auto request = std::make_shared<Request>(Request{
            RequestKind::kStalledWrite, State::key(file), in->id, nullptr, length, overlapped,
            overlapped ? State::key(overlapped->event) : 0});
        return state_->submit(request, *f, count);
    }
    return state_->completeAtOnce(overlapped, count, length);
}

bool World::deviceIoControl(platform::Handle file, std::uint32_t code, void* in,
                            std::uint32_t inSize, void* out, std::uint32_t outSize,
                            std::uint32_t* returned, platform::Overlapped* overlapped) {
    if (returned) *returned = 0;
    auto* f = state_->find<FileObject>(file);
    if (!f) return state_->refuse(overlapped, platform::kErrorInvalidHandle);
    // A synchronous request must have somewhere to put its byte count.
    if (!overlapped && !returned)
        return state_->refuse(overlapped, platform::kErrorInvalidParameter);
    Interface* device = state_->liveInterface(*f);
    if (!device) return state_->refuse(overlapped, vanishedError_);
    if ((!in && inSize) || (!out && outSize))
        return state_->refuse(overlapped, platform::kErrorNoAccess);

    const auto* input = static_cast<const std::uint8_t*>(in);
    state_->controlRequests.push(
        {device->id, code, Bytes(input, input + inSize), outSize, now()});

    switch (code) {
    case driver::CTL_GET_DESCRIPTOR: {
        // Input: descriptor type, index, language ID (little-endian).
        if (inSize < 4) return state_->refuse(overlapped, platform::kErrorInvalidParameter);
        std::optional<Bytes> descriptor = findDescriptor(device->usb(), input[0], input[1]);
        if (!descriptor) return state_->refuse(overlapped, platform::kErrorGenFailure);
        const auto n = static_cast<std::uint32_t>(
            std::min<std::size_t>(outSize, descriptor->size()));
        if (n) std::memcpy(out, descriptor->data(), n);
        return state_->completeAtOnce(overlapped, returned, n);
    }
    case driver::CTL_SET_CONFIGURATION: {
        // Input: the configuration value in byte 0.  The output word, when there is room for
        // it, receives the configuration now selected.
        if (inSize < 4) return state_->refuse(overlapped, platform::kErrorInvalidParameter);
        if (input[0] > 1) return state_->refuse(overlapped, platform::kErrorGenFailure);
        device->configuration = input[0];
        std::uint32_t n = 0;
        if (outSize >= 4) {
            const std::uint32_t selected = device->configuration;
            std::memcpy(out, &selected, 4);
            n = 4;
        }
        return state_->completeAtOnce(overlapped, returned, n);
    }
    case driver::CTL_READ_INTERRUPT: {
        auto request = std::make_shared<Request>(Request{
            RequestKind::kInterruptRead, State::key(file), device->id,
            static_cast<std::uint8_t*>(out), outSize, overlapped,
            overlapped ? State::key(overlapped->event) : 0});
        return state_->submit(request, *f, returned);
    }
    default:
        return state_->refuse(overlapped, win32::kErrorInvalidFunction);
    }
}

bool World::getOverlappedResult(platform::Handle /*file*/, platform::Overlapped* overlapped,
                                std::uint32_t* count, bool wait) {
    // As on Windows, the outcome is read from the transfer record; the handle plays no part.
    if (!overlapped) return fail(platform::kErrorInvalidParameter);
    state_->clock.catchUp();
    if (overlapped->internal == kStatusPending) {
        if (!wait) return fail(platform::kErrorIoIncomplete);
        std::shared_ptr<Request> request = state_->pendingFor(overlapped);
        auto ended = [&] { return request->ended; };
        if (!request || state_->clock.runUntil(ended, std::nullopt) != Clock::Outcome::kDone)
            return fail(win32::kErrorPossibleDeadlock);
        // The wait took the event's signal, as a wait on the record's event does.
        if (auto* e = state_->find<EventObject>(reinterpret_cast<platform::Handle>(request->event));
            e && !e->manualReset)
            e->signalled = false;
    }
    if (count) *count = static_cast<std::uint32_t>(overlapped->internalHigh);
    if (overlapped->internal != 0) return fail(errorOfStatus(overlapped->internal));
    return true;
}

bool World::cancelIo(platform::Handle file) {
    // All bits set is the current process's pseudo-handle, which has nothing to cancel.
    if (file == platform::invalidHandle()) return true;
    if (!state_->find<FileObject>(file)) return fail(platform::kErrorInvalidHandle);
    state_->cancel(State::key(file));
    return true;
}

}  // namespace tarvex::emulated
