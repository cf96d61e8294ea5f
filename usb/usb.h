// Internal interface of the pipe layer: device discovery (the driver's constants are in
// platform/driver.h).
#pragma once

#include <cstdint>

#include "platform/driver.h"
#include "platform/platform.h"

namespace tarvex::usb {

using driver::CTL_GET_DESCRIPTOR;
using driver::CTL_READ_INTERRUPT;
using driver::CTL_SET_CONFIGURATION;
using driver::DEVICE_INTERFACE_GUID;

// Member indexes 0..126 are scanned when counting devices.
inline constexpr std::uint32_t DEVICE_SCAN_COUNT = 127;

// Results of GetInterfacePath.
enum PathResult : std::uint32_t {
    PATH_TOO_LONG = 0,      // found (and matching) but the path does not fit; nothing copied
    PATH_OK = 1,            // found (and matching); path copied if a buffer was given
    PATH_SYSTEM_FAIL = 2,   // snapshot, detail memory or interface detail not to be had
    PATH_NO_INTERFACE = 3,  // no interface at this member index
    PATH_OTHER_DEVICE = 4,  // the interface belongs to another vendor/product
};

// Finds the interface at `memberIndex`; with `vidPid` given it must belong to that
// vendor/product.  Stores the path's length (without terminator) through `pathLength` as soon as
// the interface is known to qualify (0 otherwise), and copies the path into `path` when
// `pathSize` leaves room for its terminator.
PathResult GetInterfacePath(std::uint32_t memberIndex, const char* vidPid, char* path,
                            std::uint32_t pathSize, std::uint32_t* pathLength);

// 1 if the instance identifier of the device owning the interface at `path` contains `vidPid`
// (the identifier is lowered first, `vidPid` is not), else 0.  `path` is modified while the call
// runs and holds the same text again when it returns.
int MatchVidPid(char* path, const char* vidPid);

// MPUSBRead and MPUSBWrite without taking the export lock: the port table's primitives run them
// inside the command that holds it.
std::uint32_t pipeRead(platform::Handle handle, void* data, std::uint32_t dataLength,
                       std::uint32_t* length, std::uint32_t timeoutMs);
std::uint32_t pipeWrite(platform::Handle handle, const void* data, std::uint32_t dataLength,
                        std::uint32_t* length, std::uint32_t timeoutMs);

// Runs clean-up steps without disturbing the last-error code the caller is to see.
class KeepLastError {
public:
    KeepLastError() : code_(platform::backend().getLastError()) {}
    ~KeepLastError() { platform::backend().setLastError(code_); }
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;

    std::uint32_t code() const { return code_; }

private:
    std::uint32_t code_;
};

// Prints `format` ("Error: %d", "Get dsc error: %d", "Set configuration error: %d") with the
// thread's last-error code to standard output, without a line end, and leaves the code as it
// was.
void printDiagnostic(const char* format);

}  // namespace tarvex::usb
