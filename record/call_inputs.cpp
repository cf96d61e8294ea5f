#include "record/call_inputs.h"

#include <cstdio>
#include <cstring>

namespace tarvex::record {

std::string hex(const void* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::string text;
    text.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0xF]);
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> bytesOf(std::string_view text) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return bytes;
}

std::string guidText(const platform::Guid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                  g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

std::string HandleNames::name(const void* handle) const {
    if (handle == nullptr) return "null";
    if (handle == platform::invalidHandle()) return "invalid";
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    char text[32];
    if (auto it = ids_.find(value); it != ids_.end())
        std::snprintf(text, sizeof text, "h%lu", static_cast<unsigned long>(it->second));
    else
        std::snprintf(text, sizeof text, "raw:0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string HandleNames::add(const void* handle) {
    if (handle == nullptr || handle == platform::invalidHandle()) return name(handle);
    // A value the system hands out again after a close is another handle: it gets a new name.
    ids_[reinterpret_cast<std::uintptr_t>(handle)] = next_++;
    return name(handle);
}

namespace inputs {
namespace {

Json text(const char* value) { return value ? Json(value) : Json(nullptr); }

Json overlappedOf(const HandleNames& names, const platform::Overlapped* overlapped) {
    if (!overlapped) return nullptr;
    return {{"event", names.name(overlapped->event)}};
}

}  // namespace

Json getClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) {
    return {{"class", guidText(interfaceClass)}, {"flags", flags}};
}

Json enumDeviceInterfaces(const HandleNames& names, platform::DevInfo set,
                          const platform::Guid& interfaceClass, std::uint32_t memberIndex,
                          const platform::DeviceInterfaceData* data) {
    return {{"set", names.name(set)},
            {"class", guidText(interfaceClass)},
            {"index", memberIndex},
            {"cbSize", data ? Json(data->cbSize) : Json(nullptr)}};
}

Json getDeviceInterfaceDetail(const HandleNames& names, platform::DevInfo set,
                              const platform::DeviceInterfaceData* data, const void* detail,
                              std::uint32_t detailSize, const std::uint32_t* requiredSize) {
    Json in = {{"set", names.name(set)},
               {"cbSize", data ? Json(data->cbSize) : Json(nullptr)},
               {"detail", detail != nullptr},
               {"detailSize", detailSize},
               {"requiredSize", requiredSize != nullptr}};
    // The record's own size field, which the call checks.
    if (detail && detailSize >= 4) {
        std::uint32_t recordSize = 0;
        std::memcpy(&recordSize, detail, sizeof recordSize);
        in["detailCbSize"] = recordSize;
    }
    return in;
}

Json regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                const platform::RegKey* key) {
    return {{"subKey", text(subKey)}, {"options", options}, {"access", access},
            {"key", key != nullptr}};
}

Json regQueryValue(const HandleNames& names, platform::RegKey key, const char* valueName,
                   const std::uint32_t* type, const std::uint8_t* data,
                   const std::uint32_t* size) {
    return {{"key", names.name(key)},
            {"name", text(valueName)},
            {"type", type != nullptr},
            {"data", data != nullptr},
            {"size", size ? Json(*size) : Json(nullptr)}};
}

Json createFile(const char* name, std::uint32_t access, std::uint32_t shareMode,
                std::uint32_t disposition, std::uint32_t flags) {
    return {{"name", text(name)}, {"access", access}, {"shareMode", shareMode},
            {"disposition", disposition}, {"flags", flags}};
}

Json transfer(const HandleNames& names, platform::Handle file, const void* buffer,
              std::uint32_t length, const void* written, const std::uint32_t* count,
              const platform::Overlapped* overlapped) {
    Json in = {{"file", names.name(file)},
               {"buffer", buffer != nullptr},
               {"length", length},
               {"count", count != nullptr},
               {"overlapped", overlappedOf(names, overlapped)}};
    if (written) in["bytes"] = hex(written, length);
    return in;
}

Json deviceIoControl(const HandleNames& names, platform::Handle file, std::uint32_t code,
                     const void* in, std::uint32_t inSize, const void* out, std::uint32_t outSize,
                     const std::uint32_t* returned, const platform::Overlapped* overlapped) {
    return {{"file", names.name(file)},
            {"code", code},
            {"in", in ? Json(hex(in, inSize)) : Json(nullptr)},
            {"inSize", inSize},
            {"out", out != nullptr},
            {"outSize", outSize},
            {"returned", returned != nullptr},
            {"overlapped", overlappedOf(names, overlapped)}};
}

Json getOverlappedResult(const HandleNames& names, platform::Handle file,
                         const platform::Overlapped* overlapped, const std::uint32_t* count,
                         bool wait) {
    return {{"file", names.name(file)},
            {"overlapped", overlappedOf(names, overlapped)},
            {"count", count != nullptr},
            {"wait", wait}};
}

Json handle(const HandleNames& names, const void* object) {
    return {{"handle", names.name(object)}};
}

Json createEvent(bool manualReset, bool initialState) {
    return {{"manualReset", manualReset}, {"initialState", initialState}};
}

Json waitForSingleObject(const HandleNames& names, platform::Handle object,
                         std::uint32_t timeoutMs) {
    return {{"handle", names.name(object)}, {"timeoutMs", timeoutMs}};
}

Json sleep(std::uint32_t ms) { return {{"ms", ms}}; }

Json messageBox(const char* text, const char* caption, std::uint32_t style) {
    return {{"text", inputs::text(text)}, {"caption", inputs::text(caption)}, {"style", style}};
}

}  // namespace inputs
}  // namespace tarvex::record
