// What an emulated demo setup holds: which devices are plugged, the demo board's signal, the
// clock, and the extras (a trace of every transfer, a fault on every request).
//
// One grammar serves every way of asking for it: the demo library reads it from TARVEX_DEMO
// ("boards=2,noise=18,jitter=8p,clock=virtual"), and the tool's --demo-... options set the same
// options one at a time through setDemoOption, so both accept the same values with the same
// words.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emulated/clock.h"
#include "emulated/demo/demo_firmware.h"

namespace tarvex::emulated {

enum class DemoDevice {
    kBoard,  // a demo board (vendor/product 04D8/0030)
    kOther,  // another device of the same driver: it takes a member index but is no board
};

struct DemoConfig {
    // The devices in member-index order: `boards` demo boards, then `others` other devices,
    // unless `devices` gives the order explicitly.
    std::uint32_t boards = 1;
    std::uint32_t others = 0;
    std::optional<std::vector<DemoDevice>> devices;
    demo::DemoOptions firmware;  // every board's (the signal's knobs are in firmware.signal)
    ClockMode clock = ClockMode::kRealTime;
    bool trace = false;  // every transfer a board receives, on standard error
    // A fault every request to every board shows, for trying a host program's error handling:
    // none, no-reply, short-reply, unplug, busy (another program holds the board's pipe).
    std::string fault = "none";

    // The devices to plug, in member-index order.
    std::vector<DemoDevice> deviceList() const;
};

// An option that could not be taken, and what it accepts.
struct DemoOptionError {
    std::string option;    // "noise"
    std::string accepted;  // "a number of sample codes from 0 to 4095, like 18"
    std::string given;     // the option as written: "noise=abc"
};

// One option of the grammar.
struct DemoOptionInfo {
    std::string_view key;       // in TARVEX_DEMO: key=value
    std::string_view flag;      // the tool's option: --demo-<flag>
    std::string_view valueName; // "RATE", "SECONDS", ...
    std::string_view help;      // what it sets, for --help and the documentation
    std::string_view accepted;  // what the value may be, with an example
};
std::span<const DemoOptionInfo> demoOptions();

// Sets option `key` from `value`.  On error `config` is unchanged.
std::optional<DemoOptionError> setDemoOption(DemoConfig& config, std::string_view key,
                                             std::string_view value);

// Reads "key=value,key=value,..." (blank: the defaults).  Options apply in order, the last of a
// repeated key wins; the first that cannot be taken is the error.
struct DemoConfigResult {
    DemoConfig config;
    std::optional<DemoOptionError> error;
};
DemoConfigResult parseDemoConfig(std::string_view text);

}  // namespace tarvex::emulated
