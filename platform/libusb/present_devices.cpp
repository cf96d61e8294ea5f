#include "platform/libusb/present_devices.h"

#include <algorithm>

#include "platform/driver.h"

namespace tarvex::platform::libusb {
namespace {

bool isDataPipeType(unsigned char attributes) {
    unsigned char type = attributes & LIBUSB_TRANSFER_TYPE_MASK;
    return type == LIBUSB_TRANSFER_TYPE_BULK || type == LIBUSB_TRANSFER_TYPE_INTERRUPT;
}

std::optional<DataPipes> dataPipesIn(const libusb_config_descriptor& config) {
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& interface = config.interface[i];
        if (interface.num_altsetting < 1) continue;
        const libusb_interface_descriptor& setting = interface.altsetting[0];
        if (setting.bInterfaceNumber != kDataInterface) continue;
        std::optional<unsigned char> in, out;
        std::uint16_t inPacketSize = 0;
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
            if (!isDataPipeType(endpoint.bmAttributes)) continue;
            unsigned char type = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
            if (endpoint.bEndpointAddress == kDataInEndpoint) {
                in = type;
                inPacketSize = endpoint.wMaxPacketSize & 0x7FF;  // bits 11-12: extra transactions
            }
            if (endpoint.bEndpointAddress == kDataOutEndpoint) out = type;
        }
        // A packet size of 0 is a broken descriptor; a full-speed packet is then the safe guess.
        if (in && out) return DataPipes{*in, *out, inPacketSize ? inPacketSize : std::uint16_t{64}};
    }
    return std::nullopt;
}

std::optional<Location> locationOf(libusb_device* device) {
    std::uint8_t ports[8];  // USB allows at most 7 tiers below the root
    int count = libusb_get_port_numbers(device, ports, static_cast<int>(sizeof ports));
    if (count < 0) return std::nullopt;
    return Location{libusb_get_bus_number(device), std::vector<std::uint8_t>(ports, ports + count)};
}

}  // namespace

std::optional<DataPipes> dataPipesOf(libusb_device* device) {
    libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
        descriptor.bDeviceClass == LIBUSB_CLASS_HUB)
        return std::nullopt;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 &&
        libusb_get_config_descriptor(device, 0, &config) != 0)
        return std::nullopt;
    std::optional<DataPipes> pipes = dataPipesIn(*config);
    libusb_free_config_descriptor(config);
    return pipes;
}

PresentDevices::PresentDevices(libusb_context* context) {
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = list[i];
        libusb_device_descriptor descriptor;
        std::optional<Location> location = locationOf(device);
        if (!location || libusb_get_device_descriptor(device, &descriptor) != 0 ||
            descriptor.idVendor != driver::kBoardVendorId || !dataPipesOf(device))
            continue;
        InterfaceId id{descriptor.idVendor, descriptor.idProduct, std::move(*location)};
        devices_.push_back({std::move(id), libusb_ref_device(device)});
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    std::sort(devices_.begin(), devices_.end(), [](const PresentDevice& a, const PresentDevice& b) {
        return a.id.location < b.id.location;
    });
}

PresentDevices::~PresentDevices() {
    for (PresentDevice& present : devices_) libusb_unref_device(present.device);
}

libusb_device* PresentDevices::find(const InterfaceId& id) const {
    for (const PresentDevice& present : devices_)
        if (present.id == id) return present.device;
    return nullptr;
}

}  // namespace tarvex::platform::libusb
