// The tarvex tool: its global options, its subcommands and how a chosen subcommand runs.
//
// Each group of subcommands lives in its own cmd_*.cpp and registers itself with add...Commands:
// it declares its options on the CLI11 app and hands the tool an action to run once the command
// line is parsed and the backend (the system's, or the emulated demo board's) is in place.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "emulated/demo_config.h"
#include "output.h"

namespace tarvex::cli {

struct GlobalOptions {
    std::uint32_t index = 0;  // -i: the board's member index
    bool json = false;        // --json
    bool demo = false;        // --demo: the emulated demo board in real time
    emulated::DemoConfig demoConfig;  // --demo-...: what the demo world holds
    std::string record;               // --record: where the calls to the system are recorded
};

class Tool;
using Action = std::function<void(Tool&)>;

class Tool {
public:
    Tool();
    ~Tool();

    CLI::App& app() { return app_; }
    const GlobalOptions& options() const { return options_; }
    const Output& out() const { return out_; }

    // Runs `action` when `command` is the subcommand chosen on the command line.
    void on(CLI::App* command, Action action) { actions_[command] = std::move(action); }

    // Parses, runs the chosen subcommand, and returns the exit status.
    int run(int argc, char** argv);

private:
    int usageError(const CLI::ParseError& error);
    const CLI::App* chosenCommand() const;

    CLI::App app_;
    GlobalOptions options_;
    Output out_;
    std::map<const CLI::App*, Action> actions_;
};

// The signal's data and sample rates for the commands that fold an eye: those given (0: not
// given), else the demo board's with --demo.  Throws a UsageError when a rate is missing or
// the two give no eye.
void takeSignalRates(const GlobalOptions& options, double& dataRate, double& sampleRate);
// Why a signal at `dataRate` sampled at `sampleRate` gives no eye, as a sentence; empty when it
// gives one.
std::string foldProblem(double dataRate, double sampleRate);

// The groups of subcommands.
void addDiscoveryCommands(Tool& tool);    // list
void addSystemCommands(Tool& tool);       // ping, reset, set-id, about
void addPortCommands(Tool& tool);         // status, port get/set/reset-fifo
void addCaptureCommands(Tool& tool);      // capture, eye
void addVScopeCommands(Tool& tool);       // vscope, temp
void addCalibCommands(Tool& tool);        // calib get/set
void addNetCommands(Tool& tool);          // net get/set
void addBusCommands(Tool& tool);          // i2c, si5326, si5338, mdio
void addDescriptorCommands(Tool& tool);   // descriptors
void addViewCommand(Tool& tool);          // view

}  // namespace tarvex::cli
