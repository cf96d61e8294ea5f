// The device-interface snapshots of the platform seam (SetupDiGetClassDevsA,
// SetupDiEnumDeviceInterfaces, SetupDiGetDeviceInterfaceDetailA, SetupDiDestroyDeviceInfoList).
#include <cstring>

#include "emulated/world.h"
#include "emulated/world_state.h"
#include "platform/driver.h"

namespace tarvex::emulated {

// The record sizes Windows demands of a program of this build's word size: 32 and 8 on 64-bit
// Windows, 28 and 5 on 32-bit.  A caller that hard-codes the other word size's sizes is refused
// as Windows refuses it.
std::uint32_t World::deviceInterfaceDataSize() const {
    return sizeof(platform::DeviceInterfaceData);
}
std::uint32_t World::deviceInterfaceDetailSize() const { return sizeof(void*) == 8 ? 8 : 5; }

platform::DevInfo World::getClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) {
    if (failSnapshots_ > 0) {
        --failSnapshots_;
        fail(platform::kErrorNotEnoughMemory);
        return platform::invalidHandle();
    }
    SnapshotObject snapshot;
    // Without DIGCF_DEVICEINTERFACE the GUID names a setup class, of which the driver has no
    // interfaces; without DIGCF_PRESENT the interfaces of devices plugged in earlier are listed
    // too, after the present ones.
    const bool interfaces = (flags & platform::kDigcfDeviceInterface) != 0;
    const bool ofClass =
        (flags & win32::kDigcfAllClasses) != 0 || interfaceClass == driver::DEVICE_INTERFACE_GUID;
    if (interfaces && ofClass) {
        for (InterfaceId id : state_->present)
            snapshot.entries.push_back({state_->interface(id)->path, win32::kSpintActive});
        if (!(flags & platform::kDigcfPresent)) {
            for (const auto& in : state_->interfaces)
                if (!in->plugged) snapshot.entries.push_back({in->path, win32::kSpintRemoved});
        }
    }
    return state_->add(std::move(snapshot));
}

bool World::enumDeviceInterfaces(platform::DevInfo set, const platform::Guid& interfaceClass,
                                 std::uint32_t memberIndex, platform::DeviceInterfaceData* data) {
    auto* snapshot = state_->find<SnapshotObject>(set);
    if (!snapshot) return fail(platform::kErrorInvalidHandle);
    if (!data) return fail(platform::kErrorInvalidParameter);
    if (data->cbSize != deviceInterfaceDataSize()) return fail(win32::kErrorInvalidUserBuffer);
    if (!(interfaceClass == driver::DEVICE_INTERFACE_GUID) || memberIndex >= snapshot->entries.size())
        return fail(platform::kErrorNoMoreItems);
    data->interfaceClassGuid = driver::DEVICE_INTERFACE_GUID;
    data->flags = snapshot->entries[memberIndex].flags;
    data->reserved = memberIndex + 1;  // which entry of the snapshot, for the detail request
    return true;
}

bool World::getDeviceInterfaceDetail(platform::DevInfo set, platform::DeviceInterfaceData* data,
                                     void* detail, std::uint32_t detailSize,
                                     std::uint32_t* requiredSize) {
    auto* snapshot = state_->find<SnapshotObject>(set);
    if (!snapshot) return fail(platform::kErrorInvalidHandle);
    if (!data) return fail(platform::kErrorInvalidParameter);
    if (data->cbSize != deviceInterfaceDataSize()) return fail(win32::kErrorInvalidUserBuffer);
    if (data->reserved == 0 || data->reserved > snapshot->entries.size())
        return fail(platform::kErrorInvalidParameter);
    const std::string& path = snapshot->entries[data->reserved - 1].path;

    const auto needed =
        static_cast<std::uint32_t>(platform::kDetailPathOffset + path.size() + 1);
    if (requiredSize) *requiredSize = needed;
    if (!detail) {
        return fail(detailSize == 0 ? platform::kErrorInsufficientBuffer
                                    : win32::kErrorInvalidUserBuffer);
    }
    if (failDetailAt_ == data->reserved - 1) return fail(platform::kErrorNotEnoughMemory);
    std::uint32_t cbSize = 0;
    if (detailSize >= sizeof cbSize) std::memcpy(&cbSize, detail, sizeof cbSize);
    if (detailSize < deviceInterfaceDetailSize() || cbSize != deviceInterfaceDetailSize())
        return fail(win32::kErrorInvalidUserBuffer);
    if (detailSize < needed) return fail(platform::kErrorInsufficientBuffer);
    std::memcpy(static_cast<char*>(detail) + platform::kDetailPathOffset, path.c_str(),
                path.size() + 1);
    return true;
}

bool World::destroyDeviceInfoList(platform::DevInfo set) {
    if (!state_->find<SnapshotObject>(set)) return fail(platform::kErrorInvalidHandle);
    state_->objects.erase(State::key(set));
    return true;
}

}  // namespace tarvex::emulated
