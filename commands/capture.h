// Scope capture: start a capture on the board, then read it packet by packet.
//
// The exports u_GetScopeSamples / u_GetScopeSamplesFast run these with no progress callback;
// the library's own tools pass one to show progress and to stop a long capture early.
#pragma once

#include <cstdint>
#include <functional>

#include "tarvex.h"

namespace tarvex::commands {

constexpr std::uint16_t SAMPLE_MASK = 0x0FFF;
constexpr std::uint16_t SAMPLE_FLAG_BIT = 0x1000;
constexpr std::uint32_t CAPTURE_OFF_MS = 50;
// A full-speed board answers in 64-byte packets: asking for more would stall every read until
// its time-out, so a fast packet is read as 64 bytes into the start of its 512-byte slot.
constexpr std::uint32_t kFastPacketBytes = 64;

// Called after every packet with the packets done so far and the packets asked for; returning
// false stops the capture there.  It runs between two packet exchanges on the capturing thread
// (a 65535-packet capture calls it 65535 times in about a minute), so it must be cheap: redraw a
// progress bar now and then, test a flag, nothing that blocks.
using CaptureProgress = std::function<bool(std::uint32_t done, std::uint32_t total)>;

// Starts a capture and reads `packets` scope packets, 32 samples of 12 bits each, into
// `samples` (packets x 32 values).  Returns 1; 0 without any I/O when `stats` is null, or
// `samples` is null with packets > 0.
//
// Stopped early by `progress` after n packets: the counters of `stats` sum to n (the packets
// actually requested), sampleCount is n x 32, and samples beyond n x 32 are untouched.
int captureSamples(std::uint16_t index, std::uint16_t packets, std::uint16_t* samples,
                   ScopeStats* stats, const CaptureProgress& progress = {});

// As captureSamples with fast packets: packet i lands at byte 512 x i of `buffer` (packets x 512
// bytes), sampleCount counts 256 per packet (n x 256 when stopped after n), flagSeen stays 0.
int captureSamplesFast(std::uint16_t index, std::uint16_t packets, std::uint8_t* buffer,
                       ScopeStats* stats, const CaptureProgress& progress = {});

}  // namespace tarvex::commands
