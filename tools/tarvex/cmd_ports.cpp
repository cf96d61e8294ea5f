// tarvex status, tarvex port get/set/reset-fifo: the board's port registers and status flags.
#include <fmt/format.h>

#include "board_readings.h"
#include "commands/packet.h"
#include "errors.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"
#include "values.h"

namespace tarvex::cli {

namespace {

void status(Tool& tool) {
    BoardSession board(tool.options().index);
    std::uint8_t flags[4] = {};
    clearLastError();
    const int result = u_GetStatus(board.index(), flags);
    // Three port reads: 1 when all were full, 2 when all were short, 0 for anything else.
    requireReply(board.index(), result, {"status read of ports 3, 2 and 4", commands::kTimeoutMs,
                                         commands::kRegisterReplyBytes});

    Json record = {{"index", board.index()}, {"flags", Json::array()}};
    for (int i = 0; i < 4; ++i) {
        record["flags"].push_back(flags[i]);
        record[kStatusFlags[i].key] = flags[i] == 1;
    }
    tool.out().result(record, [&] {
        for (int i = 0; i < 4; ++i)
            Output::line(fmt::format("flag {}  {}  {:<20} ({})", i, flags[i], kStatusFlags[i].meaning,
                                     kStatusFlags[i].source));
    });
}

void portGet(Tool& tool, unsigned port) {
    BoardSession board(tool.options().index);
    std::uint16_t value = 0;
    clearLastError();
    const int result = u_GetPort(board.index(), static_cast<std::uint8_t>(port), &value);
    requireReply(board.index(), result, {fmt::format("read of port {}", port), commands::kTimeoutMs,
                                         commands::kRegisterReplyBytes});
    tool.out().result({{"index", board.index()}, {"port", port}, {"value", value}},
                      [&] { Output::line(hexWord(value)); });
}

void portSet(Tool& tool, unsigned port, unsigned value) {
    BoardSession board(tool.options().index);
    clearLastError();
    const std::string what = fmt::format("write of port {}", port);
    requireSent(board.index(),
                u_SetPort(board.index(), static_cast<std::uint8_t>(port),
                          static_cast<std::uint16_t>(value)),
                {what});
}

void resetFifo(Tool& tool) {
    BoardSession board(tool.options().index);
    clearLastError();
    // A read of port 3 and two writes: 1 only when all three went through.
    requireSent(board.index(), u_ResetFIFO(board.index()), {"FIFO reset of port 3", commands::kTimeoutMs,
                                                        commands::kRegisterReplyBytes});
}

struct PortArgs {
    unsigned port = 0;
    unsigned value = 0;
};

}  // namespace

void addPortCommands(Tool& tool) {
    auto& app = tool.app();
    tool.on(app.add_subcommand("status", "Read the board's four status flags"), status);

    auto* port = app.add_subcommand("port", "Read and write the board's 16-bit port registers");
    port->require_subcommand(1);
    auto args = std::make_shared<PortArgs>();

    auto* get = port->add_subcommand("get", "Read a port register");
    get->add_option("PORT", args->port, "Port number, 0..255")->required()->check(byteRange());
    tool.on(get, [args](Tool& t) { portGet(t, args->port); });

    auto* set = port->add_subcommand("set", "Write a port register");
    set->add_option("PORT", args->port, "Port number, 0..255")->required()->check(byteRange());
    set->add_option("VALUE", args->value, "Value, 0..65535 (decimal or 0x hex)")
        ->required()
        ->check(wordRange());
    tool.on(set, [args](Tool& t) { portSet(t, args->port, args->value); });

    auto* fifo = port->add_subcommand("reset-fifo", "Pulse the FIFO reset bits of port 3");
    tool.on(fifo, resetFifo);
}

}  // namespace tarvex::cli
