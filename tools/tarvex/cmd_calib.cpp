// tarvex calib get/set: the seven scope calibration values kept on the board.
#include <cmath>
#include <vector>

#include <fmt/format.h>

#include "commands/packet.h"
#include "errors.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"

namespace tarvex::cli {

namespace {

// The board keeps each value as a 16-bit integer part and a fraction in ten-thousandths, so it
// holds 0 up to 65536 and nothing else: a value outside would be stored as its 16-bit remainder
// and come back as something else.  The test is on the single-precision value that travels, as
// 65535.9999 rounds up to 65536 on the way.
constexpr float kBeyondLargest = 65536.0f;

void calibGet(Tool& tool) {
    BoardSession board(tool.options().index);
    float values[CALIB_VALUE_COUNT] = {};
    clearLastError();
    requireReply(board.index(), u_GetScopeCalibValues(board.index(), values),
                 {"calibration read", commands::kTimeoutMs, commands::kCalibReplyBytes});
    tool.out().result(
        {{"index", board.index()}, {"values", std::vector<float>(values, values + CALIB_VALUE_COUNT)}},
        [&] {
            for (int i = 0; i < CALIB_VALUE_COUNT; ++i)
                Output::line(fmt::format("{}  {:.4f}", i, values[i]));
        });
}

void calibSet(Tool& tool, const std::vector<double>& values) {
    for (const double v : values) {
        if (!std::isfinite(v) || v < 0 || v >= kBeyondLargest ||
            static_cast<float>(v) >= kBeyondLargest)
            throw UsageError(fmt::format("calibration value {} is out of range: the board keeps "
                                         "values from 0 up to 65536, in steps of 0.0001",
                                         v));
    }
    BoardSession board(tool.options().index);
    float stored[CALIB_VALUE_COUNT];
    for (int i = 0; i < CALIB_VALUE_COUNT; ++i) stored[i] = static_cast<float>(values[i]);
    clearLastError();
    requireSent(board.index(), u_StoreScopeCalibValues(board.index(), stored),
                {"calibration store"});
}

}  // namespace

void addCalibCommands(Tool& tool) {
    auto* calib = tool.app().add_subcommand("calib", "Read and store the seven calibration values");
    calib->require_subcommand(1);

    tool.on(calib->add_subcommand("get", "Read the seven values"), calibGet);

    auto values = std::make_shared<std::vector<double>>();
    auto* set = calib->add_subcommand(
        "set", "Store seven values, each from 0 up to 65536 (kept to four decimals, cut)");
    set->add_option("VALUES", *values, "The seven values, in the board's order")
        ->required()
        ->expected(CALIB_VALUE_COUNT);
    tool.on(set, [values](Tool& t) { calibSet(t, *values); });
}

}  // namespace tarvex::cli
