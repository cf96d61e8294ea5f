// Opening and closing handles: the device behind a path, and the claim on its data interface.
#include <string_view>

#include "platform/libusb/errors.h"
#include "platform/libusb/interface_path.h"
#include "platform/libusb/libusb_backend.h"
#include "platform/driver.h"

namespace tarvex::platform::libusb {

// The share mode, disposition and flags play no part: a device is always opened as it exists,
// and every handle accepts both overlapped and blocking requests.
//
// Two handles on the same pipe of the same board are allowed within one process.  The library's
// port table reopens an index without closing it first; refusing the second open would lock the
// board out of the process until it exits.  Another program holding the board makes the open
// fail with ERROR_SHARING_VIOLATION, through the interface claim.
Handle LibusbBackend::createFile(const char* name, std::uint32_t access, std::uint32_t,
                                 std::uint32_t, std::uint32_t) {
    if (!name) return failHandle(kErrorPathNotFound);
    std::string_view text(name);
    std::size_t pathEnd = text.find('}');
    if (pathEnd == std::string_view::npos) return failHandle(kErrorFileNotFound);
    std::optional<InterfaceId> id = parseInterfacePath(text.substr(0, pathEnd + 1));
    std::string_view pipeName = text.substr(pathEnd + 1);
    FileKind kind = pipeName.empty() ? FileKind::kInterface : FileKind::kDataPipe;
    if (!id || (!pipeName.empty() && !equalsIgnoringCase(pipeName, driver::kDataPipeName)))
        return failHandle(kErrorFileNotFound);

    libusb_context* usb = context();
    if (!usb) return failHandle(kErrorFileNotFound);
    std::shared_ptr<Device> device;
    {
        PresentDevices present(usb);
        libusb_device* usbDevice = present.find(*id);
        if (!usbDevice) return failHandle(kErrorFileNotFound);
        if (std::uint32_t error = openDevice(usbDevice, device)) return failHandle(error);
    }
    if (kind == FileKind::kDataPipe)
        if (std::uint32_t error = acquireDataPipes(*device)) return failHandle(error);

    auto file = std::make_shared<File>(File{
        std::move(device), kind, (access & kGenericRead) != 0, (access & kGenericWrite) != 0, {}});
    std::lock_guard lock(mutex_);
    return insert(std::move(file));
}

bool LibusbBackend::closeHandle(Handle object) {
    std::shared_ptr<File> file;
    {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(reinterpret_cast<std::uintptr_t>(object));
        if (it == objects_.end()) return fail(kErrorInvalidHandle);
        if (std::holds_alternative<std::shared_ptr<Event>>(it->second)) {
            objects_.erase(it);
            return true;
        }
        auto* found = std::get_if<std::shared_ptr<File>>(&it->second);
        if (!found) return fail(kErrorInvalidHandle);  // snapshots and keys have their own close
        file = std::move(*found);
        objects_.erase(it);
    }
    closeFile(std::move(file));
    return true;
}

// As on Windows, closing a handle cancels the requests still running on it; their events are
// signalled as they end.  The file (and the device) outlive the requests.
bool LibusbBackend::closeFile(std::shared_ptr<File> file) {
    {
        std::lock_guard lock(mutex_);
        for (Request* request : file->pending) libusb_cancel_transfer(request->transfer);
    }
    if (!waitUntil([&] { return file->pending.empty(); }, kCancelLimit)) {
        std::lock_guard lock(mutex_);
        abandoned_.push_back(std::move(file));
        return false;
    }
    if (file->kind == FileKind::kDataPipe) releaseDataPipes(*file->device);
    return true;
}

std::uint32_t LibusbBackend::openDevice(libusb_device* usbDevice, std::shared_ptr<Device>& device) {
    std::lock_guard lock(devicesMutex_);
    if (auto it = devices_.find(usbDevice); it != devices_.end())
        if ((device = it->second.lock())) return kErrorSuccess;

    libusb_device_handle* handle = nullptr;
    int result = libusb_open(usbDevice, &handle);
    // A device that went away between the listing and the open is a path that does not exist.
    if (result == LIBUSB_ERROR_NO_DEVICE || result == LIBUSB_ERROR_NOT_FOUND)
        return kErrorFileNotFound;
    if (result != LIBUSB_SUCCESS) return win32FromLibusb(result);  // ERROR_ACCESS_DENIED ...
    // A kernel driver bound to the data interface is detached while the interface is claimed
    // and attached again on release.
    libusb_set_auto_detach_kernel_driver(handle, 1);

    auto* opened = new Device;
    opened->device = libusb_ref_device(usbDevice);
    opened->handle = handle;
    opened->pipes = dataPipesOf(usbDevice).value_or(DataPipes{});
    device = std::shared_ptr<Device>(opened, [this](Device* d) { closeDevice(d); });
    devices_[usbDevice] = device;
    return kErrorSuccess;
}

// Runs when the last handle on the device has gone, never with mutex_ held (libusb_close waits
// for the thread handling events, whose transfer callbacks take mutex_).
void LibusbBackend::closeDevice(Device* device) {
    std::lock_guard lock(devicesMutex_);
    if (device->claimed) libusb_release_interface(device->handle, kDataInterface);
    libusb_close(device->handle);
    if (auto it = devices_.find(device->device); it != devices_.end() && it->second.expired())
        devices_.erase(it);
    libusb_unref_device(device->device);
    delete device;
}

std::uint32_t LibusbBackend::acquireDataPipes(Device& device) {
    std::lock_guard lock(device.claimMutex);
    if (device.pipeHandles == 0) {
        int result = libusb_claim_interface(device.handle, kDataInterface);
        if (result != LIBUSB_SUCCESS) return win32FromClaim(result);
        device.claimed = true;
    }
    ++device.pipeHandles;
    return kErrorSuccess;
}

void LibusbBackend::releaseDataPipes(Device& device) {
    std::lock_guard lock(device.claimMutex);
    if (--device.pipeHandles == 0 && device.claimed) {
        libusb_release_interface(device.handle, kDataInterface);
        device.claimed = false;
    }
}

}  // namespace tarvex::platform::libusb
