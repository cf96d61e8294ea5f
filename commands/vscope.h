// The VScope sequence: ask the board to build its eye, give it the time it needs, read the eye's
// sixteen pages.  u_GetVScopeSamples runs it with no progress callback; the library's own tools
// pass one to show each step and to stop early.
#pragma once

#include <cstdint>
#include <functional>

namespace tarvex::commands {

constexpr std::uint32_t VSCOPE_SETTLE_MS = 1500;  // the board has a new eye ready by then
constexpr std::uint32_t VSCOPE_PAGE_GAP_MS = 25;  // after every page
// With a progress callback the settle time passes in steps of this length, so a person sees it
// pass and can stop it; the sum is the same 1500 ms.
constexpr std::uint32_t kVScopeSettleStepMs = 100;

// One step of the sequence, as the progress callback is told of it.
struct VScopeStep {
    enum class Kind {
        kGenerate,  // the eye was requested: `result` is u_GenerateVScopeEye's
        kSettle,    // `done` of `total` ms of the settle time have passed
        kPage,      // page `done` of `total` was read (and its gap slept): `result` is its own
    };
    Kind kind;
    std::uint32_t done;
    std::uint32_t total;
    int result;  // kGenerate and kPage
};

// Called after each step, on the calling thread; returning false stops the sequence there (no
// further request, sleep or page).
using VScopeProgress = std::function<bool(const VScopeStep& step)>;

// Requests a new eye, waits VSCOPE_SETTLE_MS, then reads the sixteen 64-byte pages into
// `eyeBuffer` (1024 bytes), each followed by VSCOPE_PAGE_GAP_MS.  Every page is requested
// whatever came before.  Returns the AND of the steps' results kept to 8 bits (1 only when every
// step returned 1); 0 without any I/O when `eyeBuffer` is null, and 0 when stopped early.
int readVScopeEye(std::uint16_t index, std::uint8_t* eyeBuffer,
                  const VScopeProgress& progress = {});

}  // namespace tarvex::commands
