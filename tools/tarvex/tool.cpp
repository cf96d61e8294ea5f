#include "tool.h"

#include <fmt/format.h>

#include "commands/eye_fold.h"
#include "console.h"
#include "demo.h"
#include "errors.h"
#include "platform/platform.h"
#include "progress.h"
#include "record/recorder.h"
#include "session.h"
#include "tarvex.h"
#include "values.h"

#ifndef TARVEX_VERSION
#define TARVEX_VERSION "0.0.0"
#endif

namespace tarvex::cli {

namespace {

std::string versionText() {
    const std::uint32_t dll = MPUSBGetDLLVersion();
    return fmt::format("tarvex {}\nlibrary API revision {:#06x}, pipe interface version {}.{}.{}.{}",
                       TARVEX_VERSION, u_GetAPIRev(), dll >> 24, (dll >> 16) & 0xFF,
                       (dll >> 8) & 0xFF, dll & 0xFF);
}

std::string commandLine(int argc, char** argv) {
    std::string text = fmt::format("tarvex {}", TARVEX_VERSION);
    for (int i = 1; i < argc; ++i) text += std::string(" ") + argv[i];
    return text;
}

// --record: everything the command asks of the system (or of the demo), into a file, for as long
// as the command runs.
class Recording {
public:
    Recording(const std::string& path, const std::string& program)
        : recorder_(platform::backend(), path, program), use_(recorder_) {
        if (!recorder_.ok()) throw ToolError(recorder_.problem());
    }
    ~Recording() {
        if (!recorder_.ok()) fmt::print(stderr, "tarvex: {}\n", recorder_.problem());
    }
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

private:
    record::Recorder recorder_;
    platform::ScopedBackend use_;
};

constexpr const char* kDescription =
    "Talk to Tarvex sampling-scope boards over USB: find them, ping them, read their status,\n"
    "capture samples, draw and measure the eye, test it against a mask, and reach their network\n"
    "settings, clock chips and buses.";

constexpr const char* kFooter =
    "Examples:\n"
    "  tarvex --demo eye -o eye.png       draw the emulated demo board's eye diagram\n"
    "  tarvex --demo eye --measure        its eye height and width, jitter, rise time, ...\n"
    "  tarvex list                        every interface of the driver, and which are boards\n"
    "  tarvex -i 1 ping                   ping the board at index 1\n"
    "  tarvex capture -n 100 -o s.csv     capture 100 packets (3200 samples) to a CSV file\n"
    "  tarvex net set --ip 192.168.1.10   set the board's IP address\n"
    "  tarvex --json status               the status flags as JSON\n"
    "\n"
    "Run 'tarvex COMMAND --help' for the options of a command.";

// Option type names for a person: N for a number, nothing after a positional's own name (its
// help text tells what it takes).
void tidyTypeNames(CLI::App& app) {
    for (CLI::Option* option : app.get_options()) {
        if (option->get_positional())
            option->type_name("");
        else if (option->get_type_name() == "UINT")
            option->type_name("N");
    }
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; }))
        tidyTypeNames(*command);
}

// The full name of a subcommand, as typed: "tarvex port set".
std::string commandPath(const CLI::App* command) {
    std::string path = command->get_name();
    for (const CLI::App* parent = command->get_parent(); parent != nullptr;
         parent = parent->get_parent())
        path = parent->get_name() + " " + path;
    return path;
}

}  // namespace

Tool::Tool() : app_(kDescription, "tarvex") {
    app_.set_version_flag("--version", versionText(), "Print the tool's and the library's versions");
    app_.require_subcommand(1);
    // Global options are also taken after the subcommand: `tarvex ping -i 1 --json`.
    app_.fallthrough();
    app_.get_formatter()->column_width(32);

    app_.add_option("-i,--index", options_.index,
                    "The board's member index among the driver's interfaces (see 'tarvex list')")
        ->check(range(0, 126))
        ->capture_default_str();
    app_.add_flag("--json", options_.json, "Print results as JSON, one line per result");
    app_.add_flag("--demo", options_.demo,
                  "Run against the emulated demo board (no board or driver needed)");
    addDemoOptions(app_, options_.demoConfig);
    app_.add_option("--record", options_.record,
                    "Record every call the library makes to the system (or to the demo board) and "
                    "what it answered, to FILE (JSON lines, see docs/record-format.md)")
        ->type_name("FILE");

    addDiscoveryCommands(*this);
    addSystemCommands(*this);
    addPortCommands(*this);
    addCaptureCommands(*this);
    addVScopeCommands(*this);
    addCalibCommands(*this);
    addNetCommands(*this);
    addBusCommands(*this);
    addDescriptorCommands(*this);
    addViewCommand(*this);
    tidyTypeNames(app_);
    // Set last: subcommands would inherit it.
    app_.footer(kFooter);
}

Tool::~Tool() = default;

void takeSignalRates(const GlobalOptions& options, double& dataRate, double& sampleRate) {
    if (options.demo) {
        if (dataRate == 0) dataRate = options.demoConfig.firmware.signal.dataRate;
        if (sampleRate == 0) sampleRate = options.demoConfig.firmware.signal.sampleRate;
    }
    if (dataRate == 0 || sampleRate == 0)
        throw UsageError("give the signal's rates: --data-rate and --sample-rate (the demo board's "
                         "are known with --demo, a real board's are not)");
    if (auto problem = foldProblem(dataRate, sampleRate); !problem.empty())
        throw UsageError(problem);
}

std::string foldProblem(double dataRate, double sampleRate) {
    if (commands::eyeFoldStep(dataRate, sampleRate)) return {};
    return fmt::format("a {} signal sampled at {} gives no eye: the sample period spans too many "
                       "bit periods",
                       formatRate(dataRate, "b/s"), formatRate(sampleRate, "S/s"));
}

const CLI::App* Tool::chosenCommand() const {
    const CLI::App* command = &app_;
    while (!command->get_subcommands().empty()) command = command->get_subcommands().front();
    return command;
}

int Tool::usageError(const CLI::ParseError& error) {
    const CLI::App* command = chosenCommand();
    std::string usage;
    if (auto formatter = std::dynamic_pointer_cast<CLI::Formatter>(command->get_formatter()))
        usage = formatter->make_usage(command, commandPath(command));
    std::string message = error.what();
    // A word where a subcommand belongs is not "missing a subcommand": it is the wrong one.
    const auto rest = app_.remaining(true);
    if (command->get_require_subcommand_min() > 0 && !rest.empty())
        message = fmt::format("'{}' is not a {} command", rest.front(), commandPath(command));
    fmt::print(stderr, "tarvex: {}\n{}Run '{} --help' for more.\n", message, usage,
               commandPath(command));
    return kExitUsage;
}

int Tool::run(int argc, char** argv) {
    prepareStreams();
    try {
        app_.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app_.exit(done);  // --help, --version
    } catch (const CLI::ParseError& error) {
        return usageError(error);
    }
    out_.setJson(options_.json);

    const auto action = actions_.find(chosenCommand());
    if (action == actions_.end()) {
        fmt::print(stderr, "tarvex: {} has no action\n", commandPath(chosenCommand()));
        return kExitUsage;
    }
    try {
        std::unique_ptr<Demo> demo;
        if (options_.demo) demo = std::make_unique<Demo>(options_.demoConfig);
        setReachesRealBoards(!options_.demo);
        std::unique_ptr<Recording> recording;
        if (!options_.record.empty())
            recording = std::make_unique<Recording>(options_.record, commandLine(argc, argv));
        installInterruptHandler();
        keepResultsApart();
        action->second(*this);
        return kExitOk;
    } catch (const UsageError& error) {
        return usageError(CLI::ValidationError(error.what()));
    } catch (const ToolError& error) {
        std::fflush(results());
        fmt::print(stderr, "tarvex: {}\n", error.what());
        return error.status();
    } catch (const std::exception& error) {
        std::fflush(results());
        fmt::print(stderr, "tarvex: unexpected failure: {}\n", error.what());
        return kExitFailure;
    }
}

}  // namespace tarvex::cli
