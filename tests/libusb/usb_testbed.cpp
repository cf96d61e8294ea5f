#include "usb_testbed.h"

#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <utility>

#include <umockdev.h>

namespace tarvex::libusbtest {
namespace {

constexpr std::uint8_t kOutEndpoint = 0x01;
constexpr std::uint8_t kInEndpoint = 0x81;
constexpr std::uint8_t kGetStatus = 0;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::size_t kMaxPacket = 64;  // wMaxPacketSize of both data endpoints
constexpr unsigned kUsbSpeedFull = 2;  // USB_SPEED_FULL of linux/usb/ch9.h
constexpr unsigned long kGetSpeed = _IO('U', 31);

std::uint8_t low(unsigned value) { return static_cast<std::uint8_t>(value & 0xFF); }
std::uint8_t high(unsigned value) { return static_cast<std::uint8_t>(value >> 8 & 0xFF); }

Bytes utf16Descriptor(const std::string& text) {
    Bytes descriptor{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        descriptor.push_back(static_cast<std::uint8_t>(c));
        descriptor.push_back(0);
    }
    return descriptor;
}

gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer device) {
    return static_cast<EmulatedUsbDevice*>(device)->handleIoctl(client) ? TRUE : FALSE;
}

}  // namespace

// ---- the device ----

EmulatedUsbDevice::EmulatedUsbDevice(DeviceSpec spec, std::uint8_t address)
    : spec_(std::move(spec)), address_(address), driver_(spec_.kernelDriver) {
    createdAt_ = nowMicros();
}

EmulatedUsbDevice::~EmulatedUsbDevice() = default;

std::uint64_t EmulatedUsbDevice::nowMicros() const {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
               duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count()) -
           createdAt_;
}

unsigned EmulatedUsbDevice::bus() const {
    return static_cast<unsigned>(std::stoul(spec_.location.substr(0, spec_.location.find('-'))));
}

std::string EmulatedUsbDevice::devicePath() const {
    char path[64];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", bus(), address_);
    return path;
}

Bytes EmulatedUsbDevice::deviceDescriptor() const {
    std::uint8_t deviceClass = spec_.hub ? 9 : 0;
    return {18,
            1,
            0x00,
            0x02,
            deviceClass,
            0,
            0,
            64,
            low(spec_.vendorId),
            high(spec_.vendorId),
            low(spec_.productId),
            high(spec_.productId),
            0x00,
            0x01,
            1,
            2,
            3,
            1};
}

Bytes EmulatedUsbDevice::configurationDescriptor() const {
    Bytes interface;
    if (spec_.hub) {
        interface = {9, 4, 0, 0, 1, 9, 0, 0, 0, 7, 5, kInEndpoint, 3, 2, 0, 12};
    } else if (spec_.dataPipes) {
        auto inType = static_cast<std::uint8_t>(spec_.inType);
        interface = {9, 4,  0, 0, 2, 0xFF, 0,           0,      0,  7, 5, kOutEndpoint,
                     2, 64, 0, 0, 7, 5,    kInEndpoint, inType, 64, 0, 1};
    } else {
        // A keyboard: interrupt IN only.
        interface = {9, 4, 0, 0, 1, 3, 1, 1, 0, 7, 5, kInEndpoint, 3, 8, 0, 10};
    }
    auto total = static_cast<unsigned>(9 + interface.size());
    Bytes config{9, 2, low(total), high(total), 1, 1, 0, 0x80, 50};
    std::copy(interface.begin(), interface.end(), std::back_inserter(config));
    return config;
}

Bytes EmulatedUsbDevice::descriptors() const {
    Bytes all = deviceDescriptor();
    Bytes config = configurationDescriptor();
    std::copy(config.begin(), config.end(), std::back_inserter(all));
    return all;
}

Bytes EmulatedUsbDevice::stringDescriptor(std::uint8_t index) const {
    switch (index) {
        case 0:
            return {4, 3, 0x09, 0x04};  // English (United States)
        case 1:
            return utf16Descriptor("Tarvex test bench");
        case 2:
            return utf16Descriptor(spec_.hub ? "Hub" : "Emulated board");
        case 3:
            return utf16Descriptor("SN" + spec_.location);
        default:
            return {};
    }
}

std::vector<Bytes> EmulatedUsbDevice::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}
std::vector<SetupPacket> EmulatedUsbDevice::controlRequests() const {
    std::lock_guard lock(mutex_);
    return controlRequests_;
}
std::vector<unsigned> EmulatedUsbDevice::configurationsSet() const {
    std::lock_guard lock(mutex_);
    return configurations_;
}
std::vector<std::uint8_t> EmulatedUsbDevice::readRequestTypes() const {
    std::lock_guard lock(mutex_);
    return readTypes_;
}
std::vector<std::uint8_t> EmulatedUsbDevice::clearedHalts() const {
    std::lock_guard lock(mutex_);
    return clearedHalts_;
}
bool EmulatedUsbDevice::interfaceClaimed() const {
    std::lock_guard lock(mutex_);
    return claimed_;
}
int EmulatedUsbDevice::claims() const {
    std::lock_guard lock(mutex_);
    return claims_;
}
int EmulatedUsbDevice::releases() const {
    std::lock_guard lock(mutex_);
    return releases_;
}
std::string EmulatedUsbDevice::boundDriver() const {
    std::lock_guard lock(mutex_);
    return driver_;
}
int EmulatedUsbDevice::driverDetaches() const {
    std::lock_guard lock(mutex_);
    return detaches_;
}
int EmulatedUsbDevice::driverAttaches() const {
    std::lock_guard lock(mutex_);
    return attaches_;
}
int EmulatedUsbDevice::discardedRequests() const {
    std::lock_guard lock(mutex_);
    return discards_;
}
std::size_t EmulatedUsbDevice::pendingReads() const {
    std::lock_guard lock(mutex_);
    return waitingReads_.size();
}

void EmulatedUsbDevice::stallNextRead() {
    std::lock_guard lock(mutex_);
    stallNextRead_ = true;
}

void EmulatedUsbDevice::failNextRead(int status) {
    std::lock_guard lock(mutex_);
    failNextRead_ = status;
}

void EmulatedUsbDevice::breakLink() {
    std::lock_guard lock(mutex_);
    linkBroken_ = true;
    for (usbdevfs_urb* urb : waitingReads_) complete(urb, -EPROTO, 0);
    waitingReads_.clear();
}

void EmulatedUsbDevice::setHeldElsewhere(bool held) {
    std::lock_guard lock(mutex_);
    heldElsewhere_ = held;
}

void EmulatedUsbDevice::queueReply(Bytes reply, unsigned delayMs) {
    std::lock_guard lock(mutex_);
    replies_.push_back({std::move(reply), nowMicros() + delayMs * 1000ull});
}

void EmulatedUsbDevice::disconnect() {
    std::lock_guard lock(mutex_);
    gone_ = true;
    claimed_ = false;
    // The host controller gives back the requests of a vanished device with -ESHUTDOWN.
    for (usbdevfs_urb* urb : waitingReads_) complete(urb, -ESHUTDOWN, 0);
    waitingReads_.clear();
}

// The testbed runs in the test's own process, so the addresses in a request (the URB, its
// buffer, the place a reaped URB's address goes) are this process's memory and are used
// directly; the client thread waits in its ioctl until the request is completed.
bool EmulatedUsbDevice::handleIoctl(_UMockdevIoctlClient* client) {
    unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
    void* argument = nullptr;
    std::memcpy(&argument, data->data,
                std::min(sizeof argument, static_cast<std::size_t>(data->data_len)));
    Outcome outcome = dispatch(request, argument);
    // libusb polls for finished requests without pause here (the node is a socket, always
    // writable): a short pause on "nothing yet" keeps that from taking a whole core.
    if (outcome.error == EAGAIN) std::this_thread::sleep_for(std::chrono::microseconds(200));
    umockdev_ioctl_client_complete(client, outcome.result, outcome.error);
    return true;
}

EmulatedUsbDevice::Outcome EmulatedUsbDevice::dispatch(unsigned long request, void* argument) {
    std::lock_guard lock(mutex_);
    if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) return reap(argument);
    if (gone_) return {-1, ENODEV};
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            *static_cast<std::uint32_t*>(argument) = USBDEVFS_CAP_BULK_CONTINUATION |
                                                     USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                     USBDEVFS_CAP_ZERO_PACKET;
            return {0, 0};
        case USBDEVFS_CLAIMINTERFACE:
            if (*static_cast<unsigned*>(argument) != 0) return {-1, ENOENT};
            if (heldElsewhere_ || !driver_.empty()) return {-1, EBUSY};
            claimed_ = true;
            ++claims_;
            return {0, 0};
        case USBDEVFS_DISCONNECT_CLAIM: {
            auto* claim = static_cast<usbdevfs_disconnect_claim*>(argument);
            if (claim->interface != 0) return {-1, ENOENT};
            if (heldElsewhere_) return {-1, EBUSY};
            if (!driver_.empty()) {
                bool spared = (claim->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) &&
                              driver_ == claim->driver;
                if (spared) return {-1, EBUSY};
                detachedDriver_ = std::exchange(driver_, {});
                ++detaches_;
            }
            claimed_ = true;
            ++claims_;
            return {0, 0};
        }
        case USBDEVFS_RELEASEINTERFACE:
            if (!claimed_) return {-1, EINVAL};
            claimed_ = false;
            ++releases_;
            return {0, 0};
        case USBDEVFS_IOCTL: {
            auto* command = static_cast<usbdevfs_ioctl*>(argument);
            if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                if (driver_.empty()) return {-1, ENODATA};
                detachedDriver_ = std::exchange(driver_, {});
                ++detaches_;
                return {0, 0};
            }
            if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
                if (!claimed_ && !detachedDriver_.empty()) {
                    driver_ = std::exchange(detachedDriver_, {});
                    ++attaches_;
                }
                return {0, 0};
            }
            return {-1, ENOTTY};
        }
        case USBDEVFS_GETDRIVER: {
            auto* query = static_cast<usbdevfs_getdriver*>(argument);
            if (driver_.empty()) return {-1, ENODATA};
            std::snprintf(query->driver, sizeof query->driver, "%s", driver_.c_str());
            return {0, 0};
        }
        case USBDEVFS_SETCONFIGURATION:
            // As the kernel: not while an interface is claimed, by usbfs or by a kernel driver.
            if (claimed_ || !driver_.empty()) return {-1, EBUSY};
            configurations_.push_back(*static_cast<unsigned*>(argument));
            // The new configuration's interfaces are probed: the driver binds again.
            if (!spec_.kernelDriver.empty()) {
                driver_ = spec_.kernelDriver;
                detachedDriver_.clear();
            }
            return {0, 0};
        case USBDEVFS_CLEAR_HALT: {
            if (linkBroken_) return {-1, EPROTO};
            auto endpoint = static_cast<std::uint8_t>(*static_cast<unsigned*>(argument));
            clearedHalts_.push_back(endpoint);
            (endpoint == kInEndpoint ? inHalted_ : outHalted_) = false;
            // Clearing the halt resets the data toggle on both sides.
            if (endpoint == kInEndpoint) toggleOutOfStep_ = false;
            return {0, 0};
        }
        case USBDEVFS_RESET:
            return {0, 0};
        case USBDEVFS_CONNECTINFO: {
            auto* info = static_cast<usbdevfs_connectinfo*>(argument);
            info->devnum = address_;
            info->slow = 0;
            return {0, 0};
        }
        case kGetSpeed:
            return {kUsbSpeedFull, 0};
        case USBDEVFS_SUBMITURB:
            return submit(static_cast<usbdevfs_urb*>(argument));
        case USBDEVFS_DISCARDURB: {
            auto* urb = static_cast<usbdevfs_urb*>(argument);
            auto it = std::find(waitingReads_.begin(), waitingReads_.end(), urb);
            if (it == waitingReads_.end()) return {-1, EINVAL};  // already given back
            waitingReads_.erase(it);
            complete(urb, -ENOENT, 0);
            ++discards_;
            return {0, 0};
        }
        default:
            return {-1, ENOTTY};
    }
}

EmulatedUsbDevice::Outcome EmulatedUsbDevice::submit(usbdevfs_urb* urb) {
    if (urb->endpoint == 0 && urb->type == USBDEVFS_URB_TYPE_CONTROL) return submitControl(urb);
    if (linkBroken_) {
        complete(urb, -EPROTO, 0);
        return {0, 0};
    }
    if (!spec_.dataPipes || spec_.hub) return {-1, ENOENT};
    auto* buffer = static_cast<std::uint8_t*>(urb->buffer);
    if (urb->endpoint == kOutEndpoint) {
        if (outHalted_) {
            complete(urb, -EPIPE, 0);
            return {0, 0};
        }
        Bytes bytes(buffer, buffer + urb->buffer_length);
        written_.push_back(bytes);
        complete(urb, 0, urb->buffer_length);
        if (spec_.firmware) {
            std::vector<emulated::Reply> replies;
            spec_.firmware->receive(bytes.data(), bytes.size(), nowMicros(), replies);
            for (emulated::Reply& reply : replies) {
                if (spec_.padReplies)
                    reply.bytes.resize((reply.bytes.size() + kMaxPacket - 1) / kMaxPacket *
                                       kMaxPacket);
                replies_.push_back({std::move(reply.bytes), nowMicros() + reply.delay});
            }
        }
        answerReads();
        return {0, 0};
    }
    if (urb->endpoint == kInEndpoint) {
        readTypes_.push_back(urb->type);
        if (std::exchange(stallNextRead_, false)) inHalted_ = true;
        if (inHalted_) {
            complete(urb, -EPIPE, 0);
            return {0, 0};
        }
        waitingReads_.push_back(urb);
        answerReads();
        return {0, 0};
    }
    return {-1, ENOENT};
}

EmulatedUsbDevice::Outcome EmulatedUsbDevice::submitControl(usbdevfs_urb* urb) {
    if (urb->buffer_length < 8) return {-1, EINVAL};
    auto* buffer = static_cast<std::uint8_t*>(urb->buffer);
    SetupPacket setup{buffer[0], buffer[1], static_cast<std::uint16_t>(buffer[2] | buffer[3] << 8),
                      static_cast<std::uint16_t>(buffer[4] | buffer[5] << 8),
                      static_cast<std::uint16_t>(buffer[6] | buffer[7] << 8)};
    controlRequests_.push_back(setup);
    if (linkBroken_) {
        complete(urb, -EPROTO, 0);
        return {0, 0};
    }
    Bytes answer;
    if (setup.requestType == 0x80 && setup.request == kGetStatus)
        answer = {0, 0};  // bus-powered, no remote wake-up
    if (setup.requestType == 0x80 && setup.request == kGetDescriptor) {
        std::uint8_t type = high(setup.value), index = low(setup.value);
        if (type == 1 && index == 0) answer = deviceDescriptor();
        if (type == 2 && index == 0) answer = configurationDescriptor();
        if (type == 3) answer = stringDescriptor(index);
    }
    if (answer.empty()) {  // a request the device does not know: it stalls
        complete(urb, -EPIPE, 0);
        return {0, 0};
    }
    std::size_t room = std::min<std::size_t>(setup.length, urb->buffer_length - 8);
    std::size_t count = std::min(room, answer.size());
    std::memcpy(buffer + 8, answer.data(), count);
    complete(urb, 0, static_cast<int>(count));
    return {0, 0};
}

EmulatedUsbDevice::Outcome EmulatedUsbDevice::reap(void* argument) {
    answerReads();
    if (completed_.empty()) return {-1, gone_ ? ENODEV : EAGAIN};
    *static_cast<usbdevfs_urb**>(argument) = completed_.front();
    completed_.pop_front();
    return {0, 0};
}

void EmulatedUsbDevice::complete(usbdevfs_urb* urb, int status, int actualLength) {
    urb->status = status;
    urb->actual_length = actualLength;
    completed_.push_back(urb);
}

void EmulatedUsbDevice::answerReads() {
    std::uint64_t now = nowMicros();
    while (!waitingReads_.empty() && !replies_.empty() && replies_.front().readyAtMicros <= now) {
        if (std::exchange(toggleOutOfStep_, false)) {
            // The host takes the packet for a repeat of one it has seen, and drops it.
            replies_.pop_front();
            continue;
        }
        usbdevfs_urb* urb = waitingReads_.front();
        waitingReads_.pop_front();
        if (int status = std::exchange(failNextRead_, 0)) {
            // The reply is garbled on the wire; the board takes it for delivered.
            replies_.pop_front();
            toggleOutOfStep_ = true;
            complete(urb, status, 0);
            continue;
        }
        fillRead(urb);
    }
}

// The device sends a reply as packets of at most 64 bytes.  A read takes packets while each fits
// the room left; it ends with the reply's last packet, or full, the rest of the reply then
// waiting for the next read.  A packet longer than the room left makes the device babble past
// the read's end, and the host controller keeps what fitted.
void EmulatedUsbDevice::fillRead(usbdevfs_urb* urb) {
    Bytes& reply = replies_.front().bytes;
    auto* buffer = static_cast<std::uint8_t*>(urb->buffer);
    const auto room = static_cast<std::size_t>(urb->buffer_length);
    std::size_t taken = 0;
    for (;;) {
        const std::size_t packet = std::min(kMaxPacket, reply.size() - taken);
        if (packet > room - taken) {
            std::memcpy(buffer + taken, reply.data() + taken, room - taken);
            replies_.pop_front();
            complete(urb, -EOVERFLOW, static_cast<int>(room));
            return;
        }
        std::memcpy(buffer + taken, reply.data() + taken, packet);
        taken += packet;
        if (taken == reply.size()) {
            replies_.pop_front();
            complete(urb, 0, static_cast<int>(taken));
            return;
        }
        if (taken == room) {
            reply.erase(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(taken));
            complete(urb, 0, static_cast<int>(taken));
            return;
        }
    }
}

// ---- the testbed ----

UsbTestbed& UsbTestbed::instance() {
    static UsbTestbed testbed;
    return testbed;
}

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {
    if (!umockdev_in_mock_environment())
        throw std::runtime_error("the libusb tests run under umockdev-wrapper");
}

UsbTestbed::~UsbTestbed() {
    for (Plugged& plugged : devices_) {
        umockdev_testbed_detach_ioctl(testbed_, plugged.device->devicePath().c_str(), nullptr);
        g_object_unref(plugged.handler);
    }
    g_object_unref(testbed_);
}

EmulatedUsbDevice& UsbTestbed::plug(DeviceSpec spec) {
    auto device = std::make_unique<EmulatedUsbDevice>(std::move(spec), nextAddress_++);
    const DeviceSpec& s = device->spec();
    char vendor[8], product[8], busnum[8], devnum[8], busProperty[8], devProperty[8];
    std::snprintf(vendor, sizeof vendor, "%04x\n", s.vendorId);
    std::snprintf(product, sizeof product, "%04x\n", s.productId);
    std::snprintf(busnum, sizeof busnum, "%u\n", device->bus());
    std::snprintf(devnum, sizeof devnum, "%u\n", device->address());
    std::snprintf(busProperty, sizeof busProperty, "%03u", device->bus());
    std::snprintf(devProperty, sizeof devProperty, "%03u", device->address());
    std::string node = device->devicePath();
    gchar* sysfsPath = umockdev_testbed_add_device(
        testbed_, "usb", s.location.c_str(), nullptr,
        // attributes
        "idVendor", vendor, "idProduct", product, "busnum", busnum, "devnum", devnum, "speed",
        "12\n", "bConfigurationValue", "1\n", "bNumConfigurations", "1\n", "bDeviceClass",
        s.hub ? "09\n" : "00\n", nullptr,
        // properties
        "DEVNAME", node.c_str(), "DEVTYPE", "usb_device", "BUSNUM", busProperty, "DEVNUM",
        devProperty, nullptr);
    if (!sysfsPath) throw std::runtime_error("umockdev could not add " + s.location);
    Bytes descriptors = device->descriptors();
    umockdev_testbed_set_attribute_binary(testbed_, sysfsPath, "descriptors", descriptors.data(),
                                          static_cast<gint>(descriptors.size()));

    // The node must exist for the open to reach the request handler.
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::filesystem::path file = std::filesystem::path(root) / node.substr(1);
    g_free(root);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream{file};

    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), device.get());
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), handler, &error)) {
        std::string message = error ? error->message : "unknown";
        g_clear_error(&error);
        throw std::runtime_error("umockdev could not emulate " + node + ": " + message);
    }
    umockdev_testbed_uevent(testbed_, sysfsPath, "add");

    devices_.push_back({std::move(device), sysfsPath, handler, true});
    g_free(sysfsPath);
    return *devices_.back().device;
}

void UsbTestbed::unplug(EmulatedUsbDevice& device) {
    for (Plugged& plugged : devices_) {
        if (plugged.device.get() != &device || !plugged.present) continue;
        device.disconnect();
        umockdev_testbed_uevent(testbed_, plugged.sysfsPath.c_str(), "remove");
        umockdev_testbed_remove_device(testbed_, plugged.sysfsPath.c_str());
        plugged.present = false;
    }
}

void UsbTestbed::unplugAll() {
    for (Plugged& plugged : devices_)
        if (plugged.present) unplug(*plugged.device);
}

}  // namespace tarvex::libusbtest
