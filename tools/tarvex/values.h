// The values a person types and reads: numbers in decimal or 0x hex, rates with SI prefixes,
// IPv4 and MAC addresses in their usual text forms, bytes in hex.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include <CLI/CLI.hpp>

namespace tarvex::cli {

using Ipv4 = std::array<std::uint8_t, 4>;
using Mac = std::array<std::uint8_t, 6>;

// Command-line checks and conversions.  Their ranges are told in each option's help text, so
// they add nothing to the option's type name.
CLI::Validator range(unsigned low, unsigned high);
const CLI::Validator& positive();
const CLI::Validator& byteRange();  // 0..255
const CLI::Validator& wordRange();  // 0..65535
// A rate in hertz (or bits / samples per second): 1.25e9, 1.25G, 99M, 99MHz, 1.25Gbps ...
const CLI::Validator& rateWithUnit();
const CLI::Validator& ipv4Address();  // 192.168.1.10
const CLI::Validator& macAddress();   // 00:04:a3:12:34:56 (or with dashes)

std::optional<Ipv4> parseIpv4(const std::string& text);
std::optional<Mac> parseMac(const std::string& text);

std::string formatIpv4(const Ipv4& address);
std::string formatMac(const Mac& address);
std::string hexBytes(std::span<const std::uint8_t> bytes);  // "0a 1b ff"
std::string hexWord(std::uint16_t value);                   // "0x00a2"
std::string hexByte(std::uint8_t value);                    // "0x68"
// 1.25e9 and "b/s" -> "1.25 Gb/s"; 99e6 and "S/s" -> "99 MS/s".
std::string formatRate(double rate, const std::string& unit);

}  // namespace tarvex::cli
