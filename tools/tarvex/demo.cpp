#include "demo.h"

#include <fmt/format.h>

#include "emulated/demo_world.h"
#include "errors.h"
#include "platform/platform.h"
#include "record/replayer.h"

namespace tarvex::cli {

namespace emulated = tarvex::emulated;

namespace {

// Options kept out of --help: what the tool's own tests plug and break.
bool hidden(std::string_view key) { return key == "devices" || key == "fault"; }

// The current value of a signal option, for --help.
std::string defaultText(std::string_view key, const emulated::DemoConfig& config) {
    const auto& signal = config.firmware.signal;
    if (key == "data-rate") return fmt::format("{:g}", signal.dataRate);
    if (key == "sample-rate") return fmt::format("{:g}", signal.sampleRate);
    if (key == "noise") return fmt::format("{:g}", signal.noiseRms);
    if (key == "jitter") return fmt::format("{:g}", signal.jitterRms);
    if (key == "rise") return fmt::format("{:g}", signal.riseTime);
    if (key == "levels") return fmt::format("{:g},{:g}", signal.lowLevel, signal.highLevel);
    if (key == "boards") return std::to_string(config.boards);
    return {};
}

}  // namespace

void addDemoOptions(CLI::App& app, emulated::DemoConfig& config) {
    for (const emulated::DemoOptionInfo& info : emulated::demoOptions()) {
        const std::string key(info.key);
        const std::string name = fmt::format("--demo-{}", info.flag);
        const std::string help = fmt::format("The demo's {} (with --demo)", info.help);
        CLI::Option* option;
        if (key == "trace") {
            option = app.add_flag_callback(
                name, [&config] { emulated::setDemoOption(config, "trace", "1"); }, help);
        } else {
            option = app.add_option_function<std::string>(
                name,
                [&config, key](const std::string& value) {
                    if (auto error = emulated::setDemoOption(config, key, value))
                        throw CLI::ValidationError(fmt::format("--demo-{}", key),
                                                   "give " + error->accepted);
                },
                help);
            option->type_name(std::string(info.valueName));
            if (const auto text = defaultText(key, config); !text.empty())
                option->default_str(text);
        }
        option->group(hidden(key) ? "" : "Demo board");
    }
    // For the tool's own tests, as clock=virtual.
    app.add_flag_callback(
           "--demo-virtual-clock",
           [&config] { emulated::setDemoOption(config, "clock", "virtual"); })
        ->group("");
}

struct Demo::State {
    explicit State(const emulated::DemoConfig& config) : demo(config), use(demo.backend()) {}
    emulated::DemoWorld demo;
    platform::ScopedBackend use;
};

Demo::Demo(const emulated::DemoConfig& config) : state_(std::make_unique<State>(config)) {
    if (const record::Replayer* replay = state_->demo.replayer();
        replay != nullptr && !replay->loadProblem().empty())
        throw ToolError(replay->loadProblem());
}

Demo::~Demo() = default;

}  // namespace tarvex::cli
