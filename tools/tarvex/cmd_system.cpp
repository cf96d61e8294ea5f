// tarvex ping, reset, set-id, about: the board's system commands.
#include <chrono>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "commands/packet.h"
#include "commands/system.h"
#include "errors.h"
#include "platform/platform.h"
#include "progress.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"
#include "values.h"

namespace tarvex::cli {

namespace {

// The ping reply identifies the firmware: text, padded with NULs.  Empty when it is not text.
std::string replyText(const std::uint8_t* reply, std::size_t length) {
    std::string text;
    std::size_t i = 0;
    for (; i < length && reply[i] != 0; ++i) {
        if (reply[i] < 0x20 || reply[i] > 0x7E) return {};
        text += static_cast<char>(reply[i]);
    }
    for (; i < length; ++i)
        if (reply[i] != 0) return {};
    return text;
}

struct PingArgs {
    unsigned count = 1;
    unsigned intervalMs = 1000;
};

void ping(Tool& tool, const PingArgs& args) {
    BoardSession board(tool.options().index);
    for (unsigned n = 0; n < args.count && !interrupted(); ++n) {
        if (n > 0) platform::backend().sleep(args.intervalMs);
        std::uint8_t reply[commands::kPingReplyBytes] = {};
        clearLastError();
        const auto start = std::chrono::steady_clock::now();
        const int result = u_Ping(board.index(), reply);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        requireReply(board.index(), result,
                     {"ping", commands::kTimeoutMs, commands::kPingReplyBytes});

        const std::string text = replyText(reply, sizeof reply);
        Json record = {{"index", board.index()},
                       {"reply", std::vector<std::uint8_t>(reply, reply + sizeof reply)},
                       {"text", text},
                       {"ms", ms}};
        tool.out().result(record, [&] {
            Output::line(fmt::format("board {}: {}  ({} bytes in {:.2f} ms)", board.index(),
                                     text.empty() ? hexBytes(reply) : text, sizeof reply, ms));
        });
    }
    if (interrupted()) throw ToolError("interrupted", kExitInterrupted);
}

void reset(Tool& tool, bool bootLoader) {
    BoardSession board(tool.options().index);
    clearLastError();
    if (bootLoader)
        requireSent(board.index(), u_Reset_MCU_Boot(board.index()), {"reset into the boot loader"});
    else
        requireSent(board.index(), u_Reset_MCU(board.index()), {"reset"});
}

void setId(Tool& tool, unsigned id) {
    BoardSession board(tool.options().index);
    clearLastError();
    requireSent(board.index(), u_SetDeviceID(board.index(), static_cast<std::uint8_t>(id)),
                {"device id write"});
}

void about(Tool& tool) {
    const std::uint32_t dll = MPUSBGetDLLVersion();
    const std::string interfaceVersion = fmt::format("{}.{}.{}.{}", dll >> 24, (dll >> 16) & 0xFF,
                                                     (dll >> 8) & 0xFF, dll & 0xFF);
    Json record = {{"tool", TARVEX_VERSION},
                   {"apiRevision", u_GetAPIRev()},
                   {"interfaceVersion", interfaceVersion},
                   {"caption", commands::kAboutCaption},
                   {"text", commands::kAboutText}};
    tool.out().result(record, [&] {
        Output::line(commands::kAboutCaption);
        Output::line(commands::kAboutText);
        Output::line("");
        Output::fields({{"tool", TARVEX_VERSION},
                        {"API revision", hexWord(static_cast<std::uint16_t>(u_GetAPIRev()))},
                        {"interface version", interfaceVersion}});
    });
}

}  // namespace

void addSystemCommands(Tool& tool) {
    auto& app = tool.app();

    auto args = std::make_shared<PingArgs>();
    auto* pingCommand = app.add_subcommand("ping", "Ping the board: it answers with its firmware id");
    pingCommand->add_option("-c,--count", args->count, "Pings to send")
        ->check(range(1, 1000000))
        ->capture_default_str();
    pingCommand->add_option("--interval", args->intervalMs, "Milliseconds between pings")
        ->check(range(0, 3600000))
        ->capture_default_str();
    tool.on(pingCommand, [args](Tool& t) { ping(t, *args); });

    auto boot = std::make_shared<bool>(false);
    auto* resetCommand = app.add_subcommand("reset", "Reset the board's microcontroller");
    resetCommand->add_flag("--boot", *boot, "Reset into the boot loader (for a firmware update)");
    tool.on(resetCommand, [boot](Tool& t) { reset(t, *boot); });

    auto id = std::make_shared<unsigned>(0);
    auto* setIdCommand = app.add_subcommand("set-id", "Set the board's device id");
    setIdCommand->add_option("ID", *id, "Device id, 0..255")->required()->check(byteRange());
    tool.on(setIdCommand, [id](Tool& t) { setId(t, *id); });

    auto* aboutCommand =
        app.add_subcommand("about", "Show the library's About text and its versions");
    tool.on(aboutCommand, about);
}

}  // namespace tarvex::cli
