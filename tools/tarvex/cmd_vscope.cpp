// tarvex vscope and tarvex temp: the VSC device's VScope eye and its temperature.
#include <array>
#include <vector>

#include <fmt/format.h>

#include "board_readings.h"
#include "commands/packet.h"
#include "commands/vscope.h"
#include "errors.h"
#include "progress.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"
#include "values.h"

namespace tarvex::cli {

namespace {

int readTemperature(std::uint16_t index) {
    std::uint8_t reading = 0;
    clearLastError();
    requireReply(index, u_GetVSCTemp(index, &reading),
                 {"temperature read", commands::kTimeoutMs, commands::kTemperatureReplyBytes});
    return temperatureOf(reading);
}

// The library's VScope sequence, with its steps shown as they pass; the first failed step or a
// Ctrl-C stops it.
std::array<std::uint8_t, VSCOPE_EYE_BYTES> readEye(std::uint16_t index) {
    using Kind = commands::VScopeStep::Kind;
    std::array<std::uint8_t, VSCOPE_EYE_BYTES> eye{};
    Progress progress("vscope", VSCOPE_PAGE_COUNT, "pages");
    std::string failure;   // the sentence for the step that failed
    std::string stoppedAt;  // where a Ctrl-C stopped the sequence

    clearLastError();
    commands::readVScopeEye(index, eye.data(), [&](const commands::VScopeStep& step) {
        if (step.kind == Kind::kGenerate && step.result != 1) {
            failure = exchangeFailure(index, XFER_FAIL, lastError(), {"VScope eye request"});
            return false;
        }
        if (step.kind == Kind::kPage && step.result != XFER_OK) {
            const std::string what = fmt::format("read of VScope page {}", step.done);
            failure = exchangeFailure(index, step.result, lastError(),
                                      {what, commands::kTimeoutMs, VSCOPE_PAGE_SIZE});
            return false;
        }
        if (step.kind != Kind::kPage) {
            const std::uint32_t waited = step.kind == Kind::kSettle ? step.done : 0;
            progress.phase(fmt::format("building the eye, {:.1f} s",
                                       (commands::VSCOPE_SETTLE_MS - waited) / 1000.0));
            if (interrupted()) stoppedAt = "while the board built the eye";
        } else if (step.kind == Kind::kPage && !progress.update(step.done)) {
            stoppedAt = fmt::format("after {} of {} pages", step.done, step.total);
        }
        clearLastError();
        return stoppedAt.empty();
    });
    if (!failure.empty()) throw ToolError(failure);
    if (!stoppedAt.empty()) throw ToolError("interrupted " + stoppedAt, kExitInterrupted);
    return eye;
}

struct VScopeArgs {
    std::string output;
};

void vscope(Tool& tool, const VScopeArgs& args) {
    BoardSession board(tool.options().index);
    std::optional<OutputFile> file;
    if (!args.output.empty()) file.emplace(args.output, true);

    const auto eye = readEye(board.index());
    const int temperature = readTemperature(board.index());
    if (file) {
        std::fwrite(eye.data(), 1, eye.size(), file->get());
        file->keep();
    }

    Json record = {{"index", board.index()}, {"temperature", temperature}};
    if (file)
        record["output"] = args.output;
    else
        record["eye"] = std::vector<std::uint8_t>(eye.begin(), eye.end());
    tool.out().result(record, [&] {
        if (!file) {
            // 32 rows of 32 cells, as the board lays the eye out.
            for (std::size_t row = 0; row < eye.size(); row += 32)
                Output::line(hexBytes({eye.data() + row, 32}));
        }
        Output::line(fmt::format("temperature {} °C", temperature));
    });
}

void temp(Tool& tool) {
    BoardSession board(tool.options().index);
    const int temperature = readTemperature(board.index());
    tool.out().result({{"index", board.index()}, {"temperature", temperature}},
                      [&] { Output::line(fmt::format("{} °C", temperature)); });
}

}  // namespace

void addVScopeCommands(Tool& tool) {
    auto& app = tool.app();
    auto args = std::make_shared<VScopeArgs>();
    auto* command = app.add_subcommand(
        "vscope", "Build and read the VScope eye (1024 bytes) and the VSC temperature");
    command->add_option("-o,--output", args->output,
                        "Write the 1024 bytes to FILE (else a hex dump, 32 bytes a row)")
        ->type_name("FILE");
    tool.on(command, [args](Tool& t) { vscope(t, *args); });

    tool.on(app.add_subcommand("temp", "Read the VSC device's temperature"), temp);
}

}  // namespace tarvex::cli
