// Device-interface snapshots and the registry that names each interface's device.
#include <cstring>

#include "platform/libusb/errors.h"
#include "platform/libusb/interface_path.h"
#include "platform/libusb/libusb_backend.h"
#include "platform/driver.h"

namespace tarvex::platform::libusb {
namespace {

constexpr std::uint32_t kSpintActive = 1;
constexpr std::uint32_t kRegSz = 1;
constexpr char kDeviceInstanceValue[] = "DeviceInstance";

}  // namespace

// ---- snapshots ----

DevInfo LibusbBackend::getClassDevs(const Guid& interfaceClass, std::uint32_t) {
    auto snapshot = std::make_shared<Snapshot>();
    // Another class has no interfaces here; a machine without USB has none either.
    if (interfaceClass == driver::DEVICE_INTERFACE_GUID) {
        if (libusb_context* usb = context()) {
            PresentDevices present(usb);
            for (const PresentDevice& device : present.all())
                snapshot->paths.push_back(interfacePath(device.id));
        }
    }
    std::lock_guard lock(mutex_);
    return insert(std::move(snapshot));
}

bool LibusbBackend::enumDeviceInterfaces(DevInfo set, const Guid& interfaceClass,
                                         std::uint32_t memberIndex, DeviceInterfaceData* data) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Snapshot> snapshot = find<Snapshot>(set);
    if (!snapshot) return fail(kErrorInvalidHandle);
    if (!data) return fail(kErrorInvalidParameter);
    if (data->cbSize != deviceInterfaceDataSize()) return fail(kErrorInvalidUserBuffer);
    if (!(interfaceClass == driver::DEVICE_INTERFACE_GUID) || memberIndex >= snapshot->paths.size())
        return fail(kErrorNoMoreItems);
    data->interfaceClassGuid = interfaceClass;
    data->flags = kSpintActive;
    data->reserved = std::uintptr_t{memberIndex} + 1;  // which entry of the snapshot
    return true;
}

bool LibusbBackend::getDeviceInterfaceDetail(DevInfo set, DeviceInterfaceData* data, void* detail,
                                             std::uint32_t detailSize,
                                             std::uint32_t* requiredSize) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Snapshot> snapshot = find<Snapshot>(set);
    if (!snapshot) return fail(kErrorInvalidHandle);
    if (!data || data->cbSize != deviceInterfaceDataSize()) return fail(kErrorInvalidUserBuffer);
    if (data->reserved == 0 || data->reserved > snapshot->paths.size())
        return fail(kErrorInvalidParameter);
    const std::string& path = snapshot->paths[data->reserved - 1];
    auto needed = static_cast<std::uint32_t>(kDetailPathOffset + path.size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (!detail) return fail(detailSize == 0 ? kErrorInsufficientBuffer : kErrorInvalidUserBuffer);
    std::uint32_t recordSize = 0;
    if (detailSize >= sizeof recordSize) std::memcpy(&recordSize, detail, sizeof recordSize);
    if (detailSize <= kDetailPathOffset || recordSize != deviceInterfaceDetailSize())
        return fail(kErrorInvalidUserBuffer);
    if (detailSize < needed) return fail(kErrorInsufficientBuffer);
    std::memcpy(static_cast<char*>(detail) + kDetailPathOffset, path.c_str(), path.size() + 1);
    return true;
}

bool LibusbBackend::destroyDeviceInfoList(DevInfo set) {
    std::lock_guard lock(mutex_);
    if (!find<Snapshot>(set)) return fail(kErrorInvalidHandle);
    objects_.erase(reinterpret_cast<std::uintptr_t>(set));
    return true;
}

// ---- registry ----
//
// Windows keeps a key per interface under the device classes key; here the key is read from its
// own name, which holds the interface path.  As on Windows, a key stays readable after its
// device has been unplugged.

long LibusbBackend::regOpenKey(const char* subKey, std::uint32_t, std::uint32_t, RegKey* key) {
    if (!key) return kErrorInvalidParameter;
    std::optional<InterfaceId> id = subKey ? parseRegistryKey(subKey) : std::nullopt;
    if (!id) return kErrorFileNotFound;
    std::lock_guard lock(mutex_);
    *key = insert(std::make_shared<RegistryKey>(RegistryKey{deviceInstance(*id)}));
    return kErrorSuccess;
}

long LibusbBackend::regQueryValue(RegKey key, const char* valueName, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* size) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<RegistryKey> found = find<RegistryKey>(key);
    if (!found) return kErrorInvalidHandle;
    if (!valueName || !equalsIgnoringCase(valueName, kDeviceInstanceValue))
        return kErrorFileNotFound;
    if (data && !size) return kErrorInvalidParameter;
    const std::string& text = found->deviceInstance;
    auto needed = static_cast<std::uint32_t>(text.size() + 1);
    if (type) *type = kRegSz;
    if (data) {
        if (*size < needed) {
            *size = needed;
            return kErrorMoreData;
        }
        std::memcpy(data, text.c_str(), needed);
    }
    if (size) *size = needed;
    return kErrorSuccess;
}

long LibusbBackend::regCloseKey(RegKey key) {
    std::lock_guard lock(mutex_);
    if (!find<RegistryKey>(key)) return kErrorInvalidHandle;
    objects_.erase(reinterpret_cast<std::uintptr_t>(key));
    return kErrorSuccess;
}

}  // namespace tarvex::platform::libusb
