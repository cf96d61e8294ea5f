#include "values.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include <fmt/format.h>

#include "common/quantity.h"

namespace tarvex::cli {

CLI::Validator range(unsigned low, unsigned high) {
    return CLI::Range(low, high).description("");
}

const CLI::Validator& positive() {
    static const CLI::Validator check = CLI::Validator(CLI::PositiveNumber).description("");
    return check;
}

const CLI::Validator& byteRange() {
    static const CLI::Validator check = range(0, 255);
    return check;
}

const CLI::Validator& wordRange() {
    static const CLI::Validator check = range(0, 65535);
    return check;
}

const CLI::Validator& rateWithUnit() {
    // The demo library's TARVEX_DEMO reads rates the same way (common/quantity.h).
    static const CLI::Validator units(
        [](std::string& text) -> std::string {
            const auto rate = common::parseRate(text);
            if (!rate) return "not a rate (like 1.25G, 99MHz or 1.25e9): " + text;
            text = fmt::format("{:.17g}", *rate);
            return "";
        },
        "", "RATE");
    return units;
}

const CLI::Validator& ipv4Address() {
    static const CLI::Validator check(
        [](std::string& text) -> std::string {
            return parseIpv4(text) ? "" : "not an IPv4 address (like 192.168.1.10): " + text;
        },
        "", "IPv4");
    return check;
}

const CLI::Validator& macAddress() {
    static const CLI::Validator check(
        [](std::string& text) -> std::string {
            return parseMac(text) ? "" : "not a MAC address (like 00:04:a3:12:34:56): " + text;
        },
        "", "MAC");
    return check;
}

namespace {

// Reads exactly out.size() numbers of one to `maxDigits` digits in `base`, no greater than 255
// and apart by one of `separators`, and nothing else.  A decimal number does not start with 0
// (an address typed as 010.0.0.1 may mean octal to another program).
bool readBytes(std::string_view text, std::string_view separators, int base, std::size_t maxDigits,
               std::span<std::uint8_t> out) {
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (i > 0) {
            if (at == end || separators.find(*at) == std::string_view::npos) return false;
            ++at;
        }
        unsigned value = 0;
        const auto [next, error] = std::from_chars(at, end, value, base);
        const auto digits = static_cast<std::size_t>(next - at);
        if (error != std::errc() || digits > maxDigits || value > 255) return false;
        if (base == 10 && digits > 1 && *at == '0') return false;
        out[i] = static_cast<std::uint8_t>(value);
        at = next;
    }
    return at == end;
}

}  // namespace

std::optional<Ipv4> parseIpv4(const std::string& text) {
    Ipv4 bytes;
    if (!readBytes(text, ".", 10, 3, bytes)) return std::nullopt;
    return bytes;
}

std::optional<Mac> parseMac(const std::string& text) {
    Mac bytes;
    if (!readBytes(text, ":-", 16, 2, bytes)) return std::nullopt;
    return bytes;
}

std::string formatIpv4(const Ipv4& address) {
    return fmt::format("{}.{}.{}.{}", address[0], address[1], address[2], address[3]);
}

std::string formatMac(const Mac& address) {
    return fmt::format("{:02x}:{:02x}:{:02x}:{:02x}:{:02x}:{:02x}", address[0], address[1],
                       address[2], address[3], address[4], address[5]);
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    return fmt::format("{:02x}", fmt::join(bytes, " "));
}

std::string hexWord(std::uint16_t value) { return fmt::format("{:#06x}", value); }

std::string hexByte(std::uint8_t value) { return fmt::format("{:#04x}", value); }

std::string formatRate(double rate, const std::string& unit) {
    const std::pair<double, const char*> prefixes[] = {{1e12, "T"}, {1e9, "G"}, {1e6, "M"},
                                                       {1e3, "k"}};
    for (const auto& [factor, prefix] : prefixes) {
        if (std::fabs(rate) >= factor) return fmt::format("{:g} {}{}", rate / factor, prefix, unit);
    }
    return fmt::format("{:g} {}", rate, unit);
}

}  // namespace tarvex::cli
