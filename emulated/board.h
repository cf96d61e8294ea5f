// An emulated board as its driver sees it: identity, descriptors, the firmware behind its data
// pipe, a record of every transfer it received, and faults to inject on demand.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "emulated/bounded_log.h"
#include "emulated/firmware.h"
#include "platform/driver.h"

namespace tarvex::emulated {

// One transfer the board received on its host-to-device pipe.
struct Transfer {
    Bytes bytes;
    Micros at = 0;
};

enum class FaultKind {
    kNoReply,         // the reply to this request is never sent: the read times out
    kShortReply,      // the reply is cut to `value` bytes
    kLateReply,       // the reply is ready `value` ms late
    kStrayReply,      // the board answers this request with one extra reply of `value` bytes
                      // (for a DIR_SET packet: a reply to a command that expects none)
    kEndOfData,       // the board has no data for this request: its replies are dropped and
                      // the next read on the board's pipe fails at once with ERROR_HANDLE_EOF
    kStallWrite,      // the write of this request never completes: the write times out
    kRefuseWrite,     // the write fails at once with the error code `value`
    kUnplug,          // the board is unplugged as this request arrives (nothing is received)
};

struct Fault {
    FaultKind kind;
    std::uint32_t value = 0;
};

// USB identity and descriptors of an emulated device.
struct DeviceIdentity {
    std::uint16_t vendorId = driver::kBoardVendorId;
    std::uint16_t productId = driver::kBoardProductId;
    std::string serial;                   // empty: one is made up
    Bytes deviceDescriptor;               // empty: a plausible full-speed board's
    std::vector<Bytes> configurationDescriptors;
    std::vector<std::u16string> strings;  // string descriptor 1, 2, 3 ... (0 is the language list)
};

class Board {
public:
    Board(DeviceIdentity identity, std::unique_ptr<Firmware> firmware);

    const DeviceIdentity& identity() const { return identity_; }
    Firmware& firmware() { return *firmware_; }

    // The transfers received on the host-to-device pipe, in order: the newest
    // kDefaultRecordCapacity of them unless the capacity is raised.
    const BoundedLog<Transfer>& received() const { return received_; }
    void clearReceived() { received_.clear(); }
    void setRecordCapacity(std::size_t transfers) { received_.setCapacity(transfers); }
    // The last 64-byte command packet received (empty if none).
    Bytes lastPacket() const;

    // Faults, applied in order to the next transfers written to the board (one fault per
    // transfer; inject several to cover several).  An EndOfData fault, taken by a transfer,
    // makes the next read fail.
    void injectFault(Fault fault);
    void injectFaults(std::size_t count, Fault fault);  // the next `count` transfers
    void clearFaults();  // also disarms a pending end of data
    // The next read on the board's pipe fails at once with ERROR_HANDLE_EOF, whatever is written.
    void armEndOfData() { endOfData_ = true; }

    // Time from a request's arrival to its reply being ready (default 0 in virtual time).
    void setLatency(Micros latency) { latency_ = latency; }
    Micros latency() const { return latency_; }

    // Called with each transfer as it is received (before the firmware sees it).
    std::function<void(const Transfer&)> onReceive;

    // ---- used by the emulated driver ----
    struct QueuedReply {
        Bytes bytes;
        Micros readyAt;
    };
    // Takes one transfer written at `now`; returns false if a fault refused the write (with the
    // error code in `error`), sets `stall` if the write must never complete, `unplug` if the
    // board must be unplugged instead of receiving it.
    struct WriteOutcome {
        bool accepted = true;
        std::uint32_t error = 0;
        bool stall = false;
        bool unplug = false;
    };
    WriteOutcome write(const std::uint8_t* data, std::size_t length, Micros now);
    std::deque<QueuedReply>& replies() { return replies_; }
    bool takeEndOfData();

private:
    DeviceIdentity identity_;
    std::unique_ptr<Firmware> firmware_;
    BoundedLog<Transfer> received_{kDefaultRecordCapacity};
    std::deque<Fault> faults_;
    std::deque<QueuedReply> replies_;
    bool endOfData_ = false;
    Micros latency_ = 0;
};

}  // namespace tarvex::emulated
