// The emulated driver's device interfaces: plug, unplug, replug, names and registry records.
#include <cctype>
#include <cstdio>

#include "emulated/descriptors.h"
#include "emulated/world.h"
#include "emulated/world_state.h"
#include "platform/driver.h"

namespace tarvex::emulated {

namespace {

using driver::kDeviceClassesKey;
const std::string kGuidText{driver::kInterfaceClassText};

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string hex4(std::uint16_t v, bool upperCase) {
    char text[8];
    std::snprintf(text, sizeof text, upperCase ? "%04X" : "%04x", v);
    return text;
}

// Windows reports interface paths in lower case: \\?\usb#vid_04d8&pid_0030#<serial>#{guid}.
std::string interfacePathOf(const DeviceIdentity& id) {
    return "\\\\?\\usb#vid_" + hex4(id.vendorId, false) + "&pid_" + hex4(id.productId, false) +
           "#" + lower(id.serial) + "#" + kGuidText;
}

// The interface's key under HKEY_LOCAL_MACHINE: the path with its three prefix backslashes
// (characters 0, 1 and 3) turned into '#'.
std::string registryKeyOfPath(std::string path) {
    for (std::size_t i : {0u, 1u, 3u})
        if (i < path.size()) path[i] = '#';
    return std::string(kDeviceClassesKey) + kGuidText + "\\" + path;
}

// The device instance identifier, as Windows keeps it: USB\VID_04D8&PID_0030\<SERIAL>.
Bytes deviceInstanceOf(const DeviceIdentity& id) {
    std::string text = "USB\\VID_" + hex4(id.vendorId, true) + "&PID_" + hex4(id.productId, true) +
                       "\\" + upper(id.serial);
    Bytes value(text.begin(), text.end());
    value.push_back(0);
    return value;
}

}  // namespace

// ---- inside ----

Interface* World::State::interface(InterfaceId id) {
    if (id == 0 || id > interfaces.size()) return nullptr;
    return interfaces[id - 1].get();
}

Interface* World::State::liveInterface(const FileObject& file) {
    Interface* in = interface(file.interfaceId);
    if (!in || !in->plugged || in->generation != file.generation) return nullptr;
    return in;
}

Interface& World::State::addInterface(DeviceIdentity identity, std::unique_ptr<Firmware> firmware) {
    auto in = std::make_unique<Interface>();
    in->id = static_cast<InterfaceId>(interfaces.size() + 1);

    char serial[16];
    std::snprintf(serial, sizeof serial, firmware ? "TVX%05u" : "DEV%05u", in->id);
    if (firmware) {
        in->board = std::make_unique<Board>(
            completeIdentity(std::move(identity), serial, u"Tarvex Instruments",
                             u"Tarvex Sampling Scope"),
            std::move(firmware));
    } else {
        in->identity = completeIdentity(std::move(identity), serial, u"Other Vendor", u"USB Device");
    }
    in->path = interfacePathOf(in->usb());
    in->registryKey = registryKeyOfPath(in->path);
    in->deviceInstance = deviceInstanceOf(in->usb());

    interfaces.push_back(std::move(in));
    plug(*interfaces.back());
    return *interfaces.back();
}

void World::State::plug(Interface& in) {
    in.plugged = true;
    ++in.generation;
    in.configuration = 1;
    present.push_back(in.id);
    registry.set(in.registryKey, "DeviceInstance", {win32::kRegSz, in.deviceInstance});
}

// ---- the world's devices ----

Board& World::plugBoard(std::unique_ptr<Firmware> firmware, DeviceIdentity identity) {
    if (!firmware) firmware = makeDemoFirmware();
    return *state_->addInterface(std::move(identity), std::move(firmware)).board;
}

InterfaceId World::plugDevice(std::uint16_t vendorId, std::uint16_t productId,
                              std::string serial) {
    DeviceIdentity identity;
    identity.vendorId = vendorId;
    identity.productId = productId;
    identity.serial = std::move(serial);
    return state_->addInterface(std::move(identity), nullptr).id;
}

InterfaceId World::idOf(const Board& board) const {
    for (const auto& in : state_->interfaces)
        if (in->board.get() == &board) return in->id;
    return 0;
}

Board* World::board(InterfaceId id) {
    Interface* in = state_->interface(id);
    return in ? in->board.get() : nullptr;
}

void World::unplug(InterfaceId id) {
    Interface* in = state_->interface(id);
    if (!in || !in->plugged) return;
    in->plugged = false;
    std::erase(state_->present, id);
    state_->registry.removeKey(in->registryKey);
    state_->endRequestsOf(id, vanishedError_);
    // Replies the board had not yet sent are lost with it.
    if (in->board) in->board->replies().clear();
}

void World::replug(InterfaceId id) {
    Interface* in = state_->interface(id);
    if (!in || in->plugged) return;
    state_->plug(*in);
}

std::size_t World::interfaceCount() const { return state_->present.size(); }

std::string World::interfacePath(InterfaceId id) const {
    Interface* in = state_->interface(id);
    return in ? in->path : std::string();
}

std::string World::registryKeyOf(InterfaceId id) const {
    Interface* in = state_->interface(id);
    return in ? in->registryKey : std::string();
}

}  // namespace tarvex::emulated
