// Emulated USB devices below libusb: a umockdev testbed that gives each device a sysfs entry (what
// libusb enumerates) and a device node whose usbdevfs requests are answered here (what libusb
// opens, claims and moves data through).  The test process runs under umockdev-wrapper, which
// redirects /sys and /dev into the testbed.
//
//   UsbTestbed& testbed = UsbTestbed::instance();
//   EmulatedUsbDevice& board = testbed.plug({.firmware = makeDemoFirmware()});
//   ... the library finds and drives "board" through the libusb backend ...
//   testbed.unplug(board);
//
// The requests arrive on umockdev's worker thread while the test's thread is inside the library;
// every accessor is safe to call from the test's thread at any time.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "emulated/firmware.h"

struct _UMockdevTestbed;
struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;
struct usbdevfs_urb;

namespace tarvex::libusbtest {

using Bytes = std::vector<std::uint8_t>;

enum class PipeType : std::uint8_t { kBulk = 2, kInterrupt = 3 };  // endpoint bmAttributes

inline void PrintTo(PipeType type, std::ostream* out) {
    *out << (type == PipeType::kBulk ? "bulk" : "interrupt");
}

struct DeviceSpec {
    std::uint16_t vendorId = 0x04D8;
    std::uint16_t productId = 0x0030;
    std::string location = "1-2";  // the sysfs name: bus, then the port path
    bool dataPipes = true;         // interface 0 offers endpoints 1 OUT and 1 IN
    PipeType inType = PipeType::kBulk;
    bool hub = false;          // a hub instead (device class 9, no data pipes)
    // Bound to interface 0 when plugged, and again to the new interface 0 after a configuration
    // change (as the kernel probes the interfaces of a new configuration); empty: none.
    std::string kernelDriver{};
    // The firmware sends each reply as whole 64-byte packets, the last one padded with zeros.
    bool padReplies = false;
    // Answers the transfers written to endpoint 1 OUT; null: a device that never answers.
    std::unique_ptr<emulated::Firmware> firmware{};
};

// One control request as the device received it.
struct SetupPacket {
    std::uint8_t requestType;
    std::uint8_t request;
    std::uint16_t value;
    std::uint16_t index;
    std::uint16_t length;
};

class EmulatedUsbDevice {
public:
    // `address`: its device number on the bus, new for every device plugged.
    EmulatedUsbDevice(DeviceSpec spec, std::uint8_t address);
    ~EmulatedUsbDevice();
    EmulatedUsbDevice(const EmulatedUsbDevice&) = delete;
    EmulatedUsbDevice& operator=(const EmulatedUsbDevice&) = delete;

    const DeviceSpec& spec() const { return spec_; }
    unsigned bus() const;
    std::uint8_t address() const { return address_; }
    std::string devicePath() const;  // /dev/bus/usb/BBB/DDD
    Bytes descriptors() const;       // device descriptor, then the configuration descriptor
    Bytes deviceDescriptor() const;
    Bytes configurationDescriptor() const;

    // ---- what the device saw ----
    std::vector<Bytes> written() const;  // transfers on endpoint 1 OUT, in order
    std::vector<SetupPacket> controlRequests() const;
    std::vector<unsigned> configurationsSet() const;
    std::vector<std::uint8_t> readRequestTypes() const;  // URB type of each endpoint 1 IN request
    std::vector<std::uint8_t> clearedHalts() const;      // endpoints, in order
    bool interfaceClaimed() const;
    int claims() const;
    int releases() const;
    std::string boundDriver() const;  // the kernel driver bound to interface 0 now
    int driverDetaches() const;
    int driverAttaches() const;
    int discardedRequests() const;
    std::size_t pendingReads() const;

    // ---- behaviour ----
    // The next request on endpoint 1 IN is stalled; the endpoint stays halted until cleared.
    void stallNextRead();
    // The next reply on endpoint 1 IN is garbled: the request it answers ends with `status`
    // (-EPROTO: a transaction error, -EOVERFLOW: the device babbled), and the endpoint's data
    // toggle is out of step: the first reply after it is lost unless the host clears the
    // endpoint's halt first.
    void failNextRead(int status);
    // The link to the device is lost before the kernel notices the unplug: requests in flight
    // and every later one end with -EPROTO, control requests included.
    void breakLink();
    // Another program holds interface 0: claiming it fails as busy.
    void setHeldElsewhere(bool held);
    // A reply on endpoint 1 IN, ready `delayMs` from now, besides those of the firmware.
    void queueReply(Bytes reply, unsigned delayMs = 0);

    // ---- for the testbed ----
    bool handleIoctl(_UMockdevIoctlClient* client);
    void disconnect();  // unplugged: requests in flight end as the kernel ends them

private:
    struct QueuedReply {
        Bytes bytes;
        std::uint64_t readyAtMicros;
    };
    struct Outcome {
        long result;
        int error;
    };

    Outcome dispatch(unsigned long request, void* argument);
    Outcome submit(usbdevfs_urb* urb);
    Outcome submitControl(usbdevfs_urb* urb);
    Outcome reap(void* argument);
    void complete(usbdevfs_urb* urb, int status, int actualLength);
    void answerReads();  // pairs waiting IN requests with replies that are ready
    void fillRead(usbdevfs_urb* urb);  // the read at the front takes the reply at the front
    std::uint64_t nowMicros() const;
    Bytes stringDescriptor(std::uint8_t index) const;

    DeviceSpec spec_;
    std::uint8_t address_;
    std::uint64_t createdAt_;
    mutable std::mutex mutex_;
    bool gone_ = false;
    bool claimed_ = false;
    bool heldElsewhere_ = false;
    bool stallNextRead_ = false;
    bool inHalted_ = false;
    bool outHalted_ = false;
    int failNextRead_ = 0;
    bool toggleOutOfStep_ = false;
    bool linkBroken_ = false;
    std::string driver_;
    std::string detachedDriver_;
    int claims_ = 0;
    int releases_ = 0;
    int detaches_ = 0;
    int attaches_ = 0;
    int discards_ = 0;
    std::deque<usbdevfs_urb*> waitingReads_;
    std::deque<usbdevfs_urb*> completed_;
    std::deque<QueuedReply> replies_;
    std::vector<Bytes> written_;
    std::vector<SetupPacket> controlRequests_;
    std::vector<unsigned> configurations_;
    std::vector<std::uint8_t> readTypes_;
    std::vector<std::uint8_t> clearedHalts_;
};

// One per process (umockdev redirects the whole process into it): devices come and go, the
// testbed stays.
class UsbTestbed {
public:
    static UsbTestbed& instance();

    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // Adds the device (its sysfs entry, its node, an "add" event).
    EmulatedUsbDevice& plug(DeviceSpec spec);
    // Unplugs every device still present.
    void unplugAll();
    // Ends the device's requests in flight as the kernel does, fails its further requests with
    // ENODEV, and removes it (a "remove" event, its sysfs entry).
    void unplug(EmulatedUsbDevice& device);

private:
    struct Plugged {
        std::unique_ptr<EmulatedUsbDevice> device;
        std::string sysfsPath;
        _UMockdevIoctlBase* handler;
        bool present;
    };

    _UMockdevTestbed* testbed_;
    std::vector<Plugged> devices_;
    std::uint8_t nextAddress_ = 2;
};

}  // namespace tarvex::libusbtest
