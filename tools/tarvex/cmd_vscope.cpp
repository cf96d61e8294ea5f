// tarvex vscope and tarvex temp: the VSC device's VScope eye and its temperature.
#include <array>
#include <vector>

#include <fmt/format.h>

#include "errors.h"
#include "platform/platform.h"
#include "progress.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"
#include "values.h"

namespace tarvex::cli {

namespace {

// The board needs this long to build a VScope eye, and a little time after each page.
constexpr std::uint32_t kSettleMs = 1500;
constexpr std::uint32_t kPageGapMs = 25;
constexpr std::uint32_t kSettleStepMs = 100;

// The temperature byte is whole degrees Celsius, two's complement: the VSC device reports
// below-zero readings on a cold start.
int temperatureOf(std::uint8_t reading) { return static_cast<std::int8_t>(reading); }

int readTemperature(std::uint16_t index) {
    std::uint8_t reading = 0;
    clearLastError();
    requireReply(index, u_GetVSCTemp(index, &reading), {"temperature read", 250, 2});
    return temperatureOf(reading);
}

// The VScope sequence: generate, let the board build the eye, read its sixteen pages.  Run here
// step by step rather than through u_GetVScopeSamples so that a person sees it progress and can
// stop it; the steps, pages and pauses are the same.
std::array<std::uint8_t, VSCOPE_EYE_BYTES> readVScopeEye(std::uint16_t index) {
    std::array<std::uint8_t, VSCOPE_EYE_BYTES> eye{};
    Progress progress("vscope", VSCOPE_PAGE_COUNT, "pages");

    clearLastError();
    requireSent(index, u_GenerateVScopeEye(index), {"VScope eye request"});
    for (std::uint32_t waited = 0; waited < kSettleMs; waited += kSettleStepMs) {
        progress.phase(fmt::format("building the eye, {:.1f} s", (kSettleMs - waited) / 1000.0));
        platform::backend().sleep(std::min(kSettleStepMs, kSettleMs - waited));
        if (interrupted()) throw ToolError("interrupted while the board built the eye", kExitInterrupted);
    }
    for (std::uint8_t page = 1; page <= VSCOPE_PAGE_COUNT; ++page) {
        clearLastError();
        const int result = u_GetVScopePacket(index, eye.data() + VSCOPE_PAGE_SIZE * (page - 1),
                                             VSCOPE_PAGE_SIZE, page);
        const std::string what = fmt::format("read of VScope page {}", page);
        requireReply(index, result, {what, 250, VSCOPE_PAGE_SIZE});
        platform::backend().sleep(kPageGapMs);
        if (!progress.update(page))
            throw ToolError(fmt::format("interrupted after {} of {} pages", page, VSCOPE_PAGE_COUNT),
                            kExitInterrupted);
    }
    return eye;
}

struct VScopeArgs {
    std::string output;
};

void vscope(Tool& tool, const VScopeArgs& args) {
    BoardSession board(tool.options().index);
    std::optional<OutputFile> file;
    if (!args.output.empty()) file.emplace(args.output, true);

    const auto eye = readVScopeEye(board.index());
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
