// Scope packets and the captures built on them.
#include "commands/capture.h"

#include <cstddef>

#include "commands/packet.h"
#include "commands/ports.h"
#include "platform/export_lock.h"
#include "platform/platform.h"

using namespace tarvex::commands;

namespace {

int getPacket(std::uint16_t index, std::uint8_t command, std::uint8_t* buffer,
              std::uint32_t expected) {
    if (buffer == nullptr) return XFER_FAIL;  // nowhere to put the reply: refused without I/O
    packet(command, DIR_GET);  // length and selector go out as the last command left them
    return sendGet(index, buffer, expected);
}

void resetCounters(ScopeStats& stats) {
    stats.failCount = 0;
    stats.okCount = 0;
    stats.shortCount = 0;
    stats.flagSeen = 0;
}

void count(ScopeStats& stats, int result) {
    switch (result) {
        case XFER_OK: ++stats.okCount; break;
        case XFER_SHORT: ++stats.shortCount; break;
        default: ++stats.failCount; break;
    }
}

// FIFO reset, capture enable cleared and, 50 ms later, set again.  The results are not looked
// at: a failed start shows in the packets that follow.
void startCapture(std::uint16_t index) {
    u_ResetFIFO(index);
    DisableCapture(index);
    tarvex::platform::backend().sleep(CAPTURE_OFF_MS);
    EnableCapture(index);
}

// 32 little-endian sample words; bit 12 is the flag, bits 13..15 are not used.  The words are
// put together in a local array first and the flag is gathered there: written straight from the
// receive buffer to the caller's samples, each store might alias the bytes still to be read (or
// the flag), and the compiler unpacks one word at a time, four times slower.
void unpack(const std::uint8_t* ScopeBuffer, std::uint16_t* samples, ScopeStats& stats) {
    std::uint16_t words[SAMPLES_PER_PACKET];
    for (int j = 0; j < SAMPLES_PER_PACKET; ++j)
        words[j] = static_cast<std::uint16_t>(ScopeBuffer[2 * j] | (ScopeBuffer[2 * j + 1] << 8));
    std::uint16_t seen = 0;
    for (int j = 0; j < SAMPLES_PER_PACKET; ++j) {
        seen |= words[j];
        samples[j] = static_cast<std::uint16_t>(words[j] & SAMPLE_MASK);
    }
    if (seen & SAMPLE_FLAG_BIT) stats.flagSeen = 1;
}

bool carryOn(const CaptureProgress& progress, std::uint32_t done, std::uint32_t total) {
    return !progress || progress(done, total);
}

}  // namespace

namespace tarvex::commands {

int captureSamples(std::uint16_t index, std::uint16_t packets, std::uint16_t* samples,
                   ScopeStats* stats, const CaptureProgress& progress) {
    const platform::ExportLock lock;
    // Reporting 1 here would pass a refused capture off as a run one.
    if (stats == nullptr || (samples == nullptr && packets != 0)) return 0;
    resetCounters(*stats);
    startCapture(index);
    // Zeroed at the start of each capture, so a failed first packet unpacks to zeros rather
    // than to stack garbage.  Only the first 64 bytes are ever received into.
    std::uint8_t ScopeBuffer[FAST_SLOT_BYTES] = {};
    std::uint32_t done = 0;
    while (done < packets) {
        count(*stats, u_GetScopePacket(index, ScopeBuffer));
        // A short or failed packet is unpacked too: the counters tell the caller.
        unpack(ScopeBuffer, samples + SAMPLES_PER_PACKET * done, *stats);
        ++done;
        if (!carryOn(progress, done, packets)) break;
    }
    stats->sampleCount = done * SAMPLES_PER_PACKET;
    return 1;
}

int captureSamplesFast(std::uint16_t index, std::uint16_t packets, std::uint8_t* buffer,
                       ScopeStats* stats, const CaptureProgress& progress) {
    const platform::ExportLock lock;
    if (stats == nullptr || (buffer == nullptr && packets != 0)) return 0;
    resetCounters(*stats);
    startCapture(index);
    std::uint32_t done = 0;
    while (done < packets) {
        // The slot's bytes beyond what the board sent keep their former content.
        count(*stats, u_GetScopePacketFast(index, buffer + std::size_t{FAST_SLOT_BYTES} * done));
        ++done;
        if (!carryOn(progress, done, packets)) break;
    }
    stats->sampleCount = done * FAST_SAMPLES_PER_PACKET;
    return 1;
}

}  // namespace tarvex::commands

extern "C" int TARVEX_CALL u_GetScopePacket(std::uint16_t index, std::uint8_t* buffer) {
    const tarvex::platform::ExportLock lock;
    return getPacket(index, CMD_SCOPE, buffer, SCOPE_PACKET_BYTES);
}

extern "C" int TARVEX_CALL u_GetScopePacketFast(std::uint16_t index, std::uint8_t* buffer) {
    const tarvex::platform::ExportLock lock;
    return getPacket(index, CMD_SCOPE_FAST, buffer, kFastPacketBytes);
}

extern "C" int TARVEX_CALL u_GetScopeSamples(std::uint16_t index, std::uint16_t packets,
                                             std::uint16_t* samples, ScopeStats* stats) {
    const tarvex::platform::ExportLock lock;
    return captureSamples(index, packets, samples, stats);
}

extern "C" int TARVEX_CALL u_GetScopeSamplesFast(std::uint16_t index, std::uint16_t packets,
                                                 std::uint8_t* buffer, ScopeStats* stats) {
    const tarvex::platform::ExportLock lock;
    return captureSamplesFast(index, packets, buffer, stats);
}
