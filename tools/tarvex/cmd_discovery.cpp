// tarvex list: every device interface of the driver's class, and which of them are boards.
#include <fmt/format.h>

#include "errors.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"

namespace tarvex::cli {

namespace {

void list(Tool& tool) {
    const auto found = listInterfaces();
    if (found.empty())
        if (std::string noAccess = noUsbAccessSentence(); !noAccess.empty())
            throw ToolError(noAccess);
    Json record;
    record["interfaces"] = Json::array();
    for (const auto& info : found)
        record["interfaces"].push_back(
            {{"index", info.index}, {"board", info.board}, {"path", info.path}});
    record["boardCount"] = u_GetDeviceCount();

    tool.out().result(record, [&] {
        if (found.empty()) {
            Output::line("no device of the driver's class is present");
            return;
        }
        Output::line(fmt::format("{:<5}  {:<5}  {}", "INDEX", "BOARD", "PATH"));
        for (const auto& info : found)
            Output::line(fmt::format("{:<5}  {:<5}  {}", info.index, info.board ? "yes" : "no",
                                     info.path));
    });
}

}  // namespace

void addDiscoveryCommands(Tool& tool) {
    auto* command = tool.app().add_subcommand(
        "list", "List every interface of the driver's class: its index and whether it is a board");
    tool.on(command, list);
}

}  // namespace tarvex::cli
