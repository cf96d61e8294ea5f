#include "platform/libusb/interface_path.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "platform/driver.h"

namespace tarvex::platform::libusb {
namespace {

constexpr std::string_view kPathPrefix = "\\\\?\\usb#";
using driver::kDeviceClassesKey;
using driver::kInterfaceClassText;

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

// Takes `prefix` off the front of `text`, comparing without case.
bool consume(std::string_view& text, std::string_view prefix) {
    if (!startsWithIgnoringCase(text, prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// Exactly four hex digits.
bool consumeHex16(std::string_view& text, std::uint16_t& value) {
    if (text.size() < 4) return false;
    for (char c : text.substr(0, 4))
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    std::from_chars(text.data(), text.data() + 4, value, 16);
    text.remove_prefix(4);
    return true;
}

// A decimal number 0..255 without sign or leading zeros.
bool consumeByte(std::string_view& text, std::uint8_t& value) {
    unsigned number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    std::size_t digits = static_cast<std::size_t>(end - text.data());
    if (error != std::errc{} || number > 255 || (digits > 1 && text[0] == '0')) return false;
    value = static_cast<std::uint8_t>(number);
    text.remove_prefix(digits);
    return true;
}

// "1-2.3", or "1-0" for a root hub.
bool consumeLocation(std::string_view& text, Location& location) {
    if (!consumeByte(text, location.bus) || !consume(text, "-")) return false;
    std::uint8_t port = 0;
    if (!consumeByte(text, port)) return false;
    if (port == 0) return true;
    location.ports.push_back(port);
    while (consume(text, ".")) {
        if (!consumeByte(text, port) || port == 0) return false;
        location.ports.push_back(port);
    }
    return true;
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string Location::text() const {
    std::string text = std::to_string(bus) + "-";
    if (ports.empty()) return text + "0";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i > 0) text += '.';
        text += std::to_string(ports[i]);
    }
    return text;
}

std::string interfacePath(const InterfaceId& id) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x#", id.vendorId, id.productId);
    return std::string(kPathPrefix) + ids + id.location.text() + "#" +
           std::string(kInterfaceClassText);
}

std::optional<InterfaceId> parseInterfacePath(std::string_view path) {
    InterfaceId id;
    if (consume(path, kPathPrefix) && consume(path, "vid_") && consumeHex16(path, id.vendorId) &&
        consume(path, "&pid_") && consumeHex16(path, id.productId) && consume(path, "#") &&
        consumeLocation(path, id.location) && consume(path, "#") &&
        consume(path, kInterfaceClassText) && path.empty())
        return id;
    return std::nullopt;
}

std::string deviceInstance(const InterfaceId& id) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB\\VID_%04X&PID_%04X\\", id.vendorId, id.productId);
    return ids + id.location.text();
}

std::optional<InterfaceId> parseRegistryKey(std::string_view subKey) {
    if (!consume(subKey, kDeviceClassesKey) || !consume(subKey, kInterfaceClassText) ||
        !consume(subKey, "\\") || subKey.size() < 4 || subKey[0] != '#' || subKey[1] != '#' ||
        subKey[3] != '#')
        return std::nullopt;
    std::string path(subKey);
    path[0] = path[1] = path[3] = '\\';
    return parseInterfacePath(path);
}

}  // namespace tarvex::platform::libusb
