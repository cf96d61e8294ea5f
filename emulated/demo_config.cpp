#include "emulated/demo_config.h"

#include <charconv>
#include <cmath>
#include <string>

#include "common/quantity.h"

namespace tarvex::emulated {
namespace {

constexpr std::uint32_t kMaxDevices = 32;     // as many boards as the port table has rows
constexpr double kMaxCode = 4095.0;           // the largest 12-bit sample
constexpr double kMaxSignalTime = 1e-6;       // jitter and rise time: 1 us is no eye at all

constexpr DemoOptionInfo kOptions[] = {
    {"boards", "boards", "N", "demo boards plugged in (member indexes 0, 1, ...)",
     "a whole number from 0 to 32, like 2"},
    {"other", "other", "N", "other devices of the driver, plugged after the boards",
     "a whole number from 0 to 32, like 1"},
    {"devices", "devices", "LIST", "the devices in member-index order (instead of boards/other)",
     "board, other or none joined by + (or by a comma on the command line), like other+board"},
    {"data-rate", "data-rate", "RATE", "the demo signal's data rate",
     "a rate above 0, like 2.5G, 2.5Gbps or 2.5e9"},
    {"sample-rate", "sample-rate", "RATE", "the equivalent-time sample rate",
     "a rate above 0, like 99M, 99MHz or 99e6"},
    {"noise", "noise", "CODES", "the signal's Gaussian noise, RMS, in sample codes",
     "a number of sample codes from 0 to 4095, like 18"},
    {"jitter", "jitter", "SECONDS", "the signal's random jitter, RMS",
     "a time from 0 to 1 us, like 8p, 8ps or 8e-12"},
    {"rise", "rise-time", "SECONDS", "the signal's 10-90 % rise time",
     "a time from 0 to 1 us, like 240p, 240ps or 240e-12"},
    {"levels", "levels", "LOW,HIGH", "the sample codes of a 0 bit and a 1 bit",
     "two sample codes LOW:HIGH (or LOW,HIGH on the command line) with "
     "0 <= LOW < HIGH <= 4095, like 800:3300"},
    {"pattern", "pattern", "PATTERN", "the data pattern", "prbs7, prbs15 or clock"},
    {"seed", "seed", "N", "the seed of the signal's noise and jitter",
     "a whole number from 0 to 18446744073709551615, like 7"},
    {"clock", "clock", "CLOCK", "real time, or a virtual clock on which waits cost nothing",
     "real or virtual"},
    {"trace", "trace", "0|1", "print every transfer a board receives on standard error",
     "0 or 1"},
    {"fault", "fault", "FAULT", "a fault every request to every board shows",
     "none, no-reply, short-reply, unplug or busy"},
};

const DemoOptionInfo* find(std::string_view key) {
    for (const auto& option : kOptions)
        if (option.key == key) return &option;
    return nullptr;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

template <typename T>
std::optional<T> wholeNumber(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> within(std::optional<double> value, double low, double high) {
    if (!value || *value < low || *value > high) return std::nullopt;
    return value;
}

std::optional<std::vector<DemoDevice>> deviceList(std::string_view text) {
    std::vector<DemoDevice> devices;
    if (text == "none") return devices;
    while (true) {
        const auto end = text.find_first_of("+,");
        const std::string_view item = text.substr(0, end);
        if (item == "board")
            devices.push_back(DemoDevice::kBoard);
        else if (item == "other")
            devices.push_back(DemoDevice::kOther);
        else if (item != "none")
            return std::nullopt;
        if (devices.size() > 2 * kMaxDevices) return std::nullopt;
        if (end == std::string_view::npos) return devices;
        text.remove_prefix(end + 1);
    }
}

// Sets the option `key` names; false when the value does not suit it.
bool set(DemoConfig& c, std::string_view key, std::string_view value) {
    auto& signal = c.firmware.signal;
    if (key == "boards" || key == "other") {
        const auto n = wholeNumber<std::uint32_t>(value);
        if (!n || *n > kMaxDevices) return false;
        (key == "boards" ? c.boards : c.others) = *n;
        c.devices.reset();
        return true;
    }
    if (key == "devices") {
        auto devices = deviceList(value);
        if (!devices) return false;
        c.devices = std::move(*devices);
        return true;
    }
    if (key == "data-rate" || key == "sample-rate") {
        const auto rate = common::parseRate(value);
        if (!rate || !(*rate > 0)) return false;
        (key == "data-rate" ? signal.dataRate : signal.sampleRate) = *rate;
        return true;
    }
    if (key == "noise") {
        const auto codes = within(common::parseNumber(value), 0, kMaxCode);
        if (!codes) return false;
        signal.noiseRms = *codes;
        return true;
    }
    if (key == "jitter" || key == "rise") {
        const auto seconds = within(common::parseSeconds(value), 0, kMaxSignalTime);
        if (!seconds) return false;
        (key == "jitter" ? signal.jitterRms : signal.riseTime) = *seconds;
        return true;
    }
    if (key == "levels") {
        const auto split = value.find_first_of(":,");
        if (split == std::string_view::npos) return false;
        const auto low = within(common::parseNumber(value.substr(0, split)), 0, kMaxCode);
        const auto high = within(common::parseNumber(value.substr(split + 1)), 0, kMaxCode);
        if (!low || !high || !(*low < *high)) return false;
        signal.lowLevel = *low;
        signal.highLevel = *high;
        return true;
    }
    if (key == "pattern") {
        if (value == "prbs7") signal.pattern = demo::DataPattern::kPrbs7;
        else if (value == "prbs15") signal.pattern = demo::DataPattern::kPrbs15;
        else if (value == "clock") signal.pattern = demo::DataPattern::kClock;
        else return false;
        return true;
    }
    if (key == "seed") {
        const auto seed = wholeNumber<std::uint64_t>(value);
        if (!seed) return false;
        signal.seed = *seed;
        return true;
    }
    if (key == "clock") {
        if (value == "real") c.clock = ClockMode::kRealTime;
        else if (value == "virtual") c.clock = ClockMode::kVirtual;
        else return false;
        return true;
    }
    if (key == "trace") {
        if (value != "0" && value != "1") return false;
        c.trace = value == "1";
        return true;
    }
    if (key == "fault") {
        for (std::string_view fault : {"none", "no-reply", "short-reply", "unplug", "busy"}) {
            if (value == fault) {
                c.fault = std::string(fault);
                return true;
            }
        }
        return false;
    }
    return false;
}

std::string optionList() {
    std::string list;
    for (const auto& option : kOptions) {
        if (!list.empty()) list += ", ";
        list += option.key;
    }
    return list;
}

}  // namespace

std::vector<DemoDevice> DemoConfig::deviceList() const {
    if (devices) return *devices;
    std::vector<DemoDevice> list(boards, DemoDevice::kBoard);
    list.insert(list.end(), others, DemoDevice::kOther);
    return list;
}

std::span<const DemoOptionInfo> demoOptions() { return kOptions; }

std::optional<DemoOptionError> setDemoOption(DemoConfig& config, std::string_view key,
                                             std::string_view value) {
    const std::string given = std::string(key) + "=" + std::string(trim(value));
    const DemoOptionInfo* option = find(key);
    if (option == nullptr)
        return DemoOptionError{std::string(key), "one of the options " + optionList(), given};
    DemoConfig changed = config;
    if (!set(changed, key, trim(value)))
        return DemoOptionError{std::string(key), std::string(option->accepted), given};
    config = std::move(changed);
    return std::nullopt;
}

DemoConfigResult parseDemoConfig(std::string_view text) {
    DemoConfigResult result;
    while (!trim(text).empty()) {
        const auto comma = text.find(',');
        const std::string_view item = trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (item.empty()) continue;
        const auto equals = item.find('=');
        if (equals == std::string_view::npos) {
            result.error =
                DemoOptionError{std::string(item), "key=value, like boards=2", std::string(item)};
            return result;
        }
        if (auto error = setDemoOption(result.config, trim(item.substr(0, equals)),
                                       item.substr(equals + 1))) {
            result.error = std::move(error);
            return result;
        }
    }
    return result;
}

}  // namespace tarvex::emulated
