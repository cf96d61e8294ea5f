// The USB devices this backend serves, as the interfaces of the driver's class.
//
// On Windows the board vendor's driver publishes an interface only for the devices bound to it,
// so a machine with one board lists one interface and the board sits at member index 0.  Listing
// every USB device here (root hubs, keyboards, USB-serial adapters) would push the board to some
// index that differs from machine to machine.  So a device is served when the vendor's driver
// would serve it: a device of the board's vendor (0x04D8) that offers what that driver offers and
// the library needs, the data pipe pair, bulk or interrupt endpoints 1 OUT and 1 IN on interface
// 0.  The boards (product 0x0030) are among them; other gadgets of the vendor take their place in
// the order, as they do on Windows.  Hubs never are served, nor other vendors' devices, whatever
// their endpoints.
//
// The order is by bus, then by the port path from the root hub: stable while nothing is
// re-plugged, and independent of the order in which the devices were enumerated.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <libusb.h>

#include "platform/libusb/interface_path.h"

namespace tarvex::platform::libusb {

inline constexpr unsigned char kDataOutEndpoint = 0x01;
inline constexpr unsigned char kDataInEndpoint = 0x81;
inline constexpr int kDataInterface = 0;

// Transfer types (bulk or interrupt) of the two data endpoints, and the largest packet the IN
// endpoint sends.
struct DataPipes {
    unsigned char inType = LIBUSB_TRANSFER_TYPE_BULK;
    unsigned char outType = LIBUSB_TRANSFER_TYPE_BULK;
    std::uint16_t inPacketSize = 64;
};

// The data pipe pair of the device's active configuration (its first one if it has none
// active), or nothing if it lacks one or is a hub.
std::optional<DataPipes> dataPipesOf(libusb_device* device);

struct PresentDevice {
    InterfaceId id;
    libusb_device* device;  // referenced while the list lives
};

// A snapshot of the served devices present now, in order.
class PresentDevices {
public:
    explicit PresentDevices(libusb_context* context);
    ~PresentDevices();
    PresentDevices(const PresentDevices&) = delete;
    PresentDevices& operator=(const PresentDevices&) = delete;

    const std::vector<PresentDevice>& all() const { return devices_; }
    // The device present under this identity: the same vendor and product in the same place.
    libusb_device* find(const InterfaceId& id) const;

private:
    std::vector<PresentDevice> devices_;
};

}  // namespace tarvex::platform::libusb
