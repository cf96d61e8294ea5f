// Every export of the library, as the fault matrix calls it: how to call it on the rig's board
// with sound arguments, what a clean call and a failed one return, the time-outs and sleeps that
// bound how long it may take, and what it sends (for the command buffer model).
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "reliability/command_bytes.h"
#include "reliability/rig.h"

namespace tarvex::reliability {

// How an export meets the board, which decides what a fault does to it.
enum class Shape {
    kSet,        // one packet, no reply
    kGet,        // one packet and its reply
    kSetBlock,   // a packet and a data block written after it
    kStatus,     // three register reads
    kResetFifo,  // a register read, two writes, 100 ms of sleeps
    kCapture,    // capture start (seven writes), then one exchange per packet
    kVScope,     // a generate request, 1500 ms, sixteen page exchanges 25 ms apart
    kInterrupt,  // an interrupt read on a host handle (the demo board sends no interrupt data)
    kControl,    // a synchronous control request on a host handle
    kDiscovery,  // no data transfer: the device list, opening and closing, constants
};

struct ExportCase {
    std::string name{};
    Shape shape = Shape::kSet;
    std::uint32_t timeoutMs = 250;  // of every write and read
    std::uint32_t sleepMs = 0;      // slept whatever happens
    std::uint32_t waits = 0;        // most timed waits (writes and reads) one call makes
    std::uint32_t faultAt = 0;      // the transfer of the call (from 0) a fault is aimed at
    bool usesPortTable = true;
    int ok = 1;    // result of a clean call (with the board present, for Discovery)
    int fail = 0;  // result of a failed call (with the board gone, for Discovery)
    // Readies the board before the measured call (outside the fault and the clock reading).
    std::function<void(Rig&)> prepare{};
    // Calls the export on the rig's board (index 0, or the rig's host handles).
    std::function<int(Rig&)> call{};
    // What the call sends; empty for exports that send nothing on the data pipe.
    std::function<wire::Steps(Rig&)> steps{};
};

const std::vector<ExportCase>& allExports();

// Names the case in test output.
inline void PrintTo(const ExportCase& e, std::ostream* os) { *os << e.name; }

// The most virtual time a call may take with the given cancel latency: its sleeps plus, per
// timed wait, the time-out and the time a cancelled request takes to end.
double boundMs(const ExportCase& e, double cancelLatencyMs = 0);

}  // namespace tarvex::reliability
