// --demo: the tool talks to an emulated driver with emulated boards behind it instead of the
// system's, so every command works on a machine with no board (and no Windows).
#pragma once

#include <memory>

#include <CLI/CLI.hpp>

#include "emulated/demo_config.h"

namespace tarvex::cli {

// The --demo-... options, one for each option of the demo grammar (the same words and values as
// TARVEX_DEMO), setting `config` as they are parsed.
void addDemoOptions(CLI::App& app, emulated::DemoConfig& config);

class Demo {
public:
    // Plugs the devices `config` asks for into an emulated world and makes that world the
    // library's backend until the Demo is destroyed.
    explicit Demo(const emulated::DemoConfig& config);
    ~Demo();
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tarvex::cli
