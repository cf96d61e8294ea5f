// The registry calls of the platform seam (RegOpenKeyExA, RegQueryValueExA, RegCloseKey) over
// the emulated registry.  They return a Win32 error code and leave the last-error code alone.
#include <cstring>

#include "emulated/world.h"
#include "emulated/world_state.h"

namespace tarvex::emulated {

void World::setRegistryValue(const std::string& key, const std::string& name, const Bytes& data,
                             std::uint32_t type) {
    state_->registry.set(key, name, {type, data});
}

void World::removeRegistryValue(const std::string& key, const std::string& name) {
    state_->registry.removeValue(key, name);
}

void World::removeRegistryKey(const std::string& key) { state_->registry.removeKey(key); }

long World::regOpenKey(const char* subKey, std::uint32_t /*options*/, std::uint32_t access,
                       platform::RegKey* key) {
    if (!subKey || !key) return platform::kErrorInvalidParameter;
    if (!state_->registry.keyExists(subKey)) return platform::kErrorFileNotFound;
    *key = state_->add(KeyObject{subKey, access});
    return platform::kErrorSuccess;
}

long World::regQueryValue(platform::RegKey key, const char* valueName, std::uint32_t* type,
                          std::uint8_t* data, std::uint32_t* size) {
    auto* k = state_->find<KeyObject>(key);
    if (!k) return platform::kErrorInvalidHandle;
    if (!(k->access & platform::kKeyQueryValue)) return platform::kErrorAccessDenied;
    if (data && !size) return platform::kErrorInvalidParameter;
    // A key removed while open (its device unplugged) answers as a deleted key does.
    if (!state_->registry.keyExists(k->name)) return win32::kErrorKeyDeleted;
    const Registry::Value* value = state_->registry.find(k->name, valueName ? valueName : "");
    if (!value) return platform::kErrorFileNotFound;

    // The stored bytes exactly: a text stored with its terminator is read with it, one stored
    // without is read without.
    const auto needed = static_cast<std::uint32_t>(value->data.size());
    if (type) *type = value->type;
    if (!data) {
        if (size) *size = needed;
        return platform::kErrorSuccess;
    }
    if (*size < needed) {
        *size = needed;
        return platform::kErrorMoreData;
    }
    if (needed) std::memcpy(data, value->data.data(), needed);
    *size = needed;
    return platform::kErrorSuccess;
}

long World::regCloseKey(platform::RegKey key) {
    if (!state_->find<KeyObject>(key)) return platform::kErrorInvalidHandle;
    state_->objects.erase(State::key(key));
    return platform::kErrorSuccess;
}

}  // namespace tarvex::emulated
