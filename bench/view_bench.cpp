// Figure 7: a frame of `tarvex view` as the server makes it, capture excluded: 256 packets of the
// demo board's signal folded, measured, counted into the density grid, tested against the
// page's default mask and packed with its JSON header.  The goal: under 20 % of one core at 10
// frames a second, so 20 ms of CPU a frame.
//
// For the record, what else a frame's grid could travel as: the grid whole at one or two bytes a
// cell, and the packed grid in base64 as a Server-Sent Event (SSE carries text only); each
// reports its bytes per frame as a counter.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_world.h"
#include "bench/benchmarks.h"
#include "bench/figures.h"
#include "tarvex.h"
#include "tarvex_analysis.h"
#include "view_frame.h"

namespace tarvex::bench {
namespace {

using cli::FramePipeline;
using cli::MaskChoice;
using cli::ViewSettings;

constexpr std::uint16_t kPackets = 256;

const std::vector<std::uint16_t>& capture() {
    static const std::vector<std::uint16_t> samples = [] {
        std::vector<std::uint16_t> s(std::size_t{kPackets} * SAMPLES_PER_PACKET);
        BoardWorld w(true);
        ScopeStats stats{};
        u_GetScopeSamples(0, kPackets, s.data(), &stats);
        return s;
    }();
    return samples;
}

ViewSettings demoSettings() {
    ViewSettings settings;
    settings.dataRate = 1.25e9;
    settings.sampleRate = 99e6;
    settings.packets = kPackets;
    return settings;
}

std::optional<MaskChoice> pageMask() {
    MaskChoice mask;
    mask.spec = "hexagon:0.25,0.4,0.25,0.2";
    tvaMaskHexagon(0.25, 0.4, 0.25, 0.2, &mask.mask);
    return mask;
}

void frame(benchmark::State& state, bool withMask) {
    const auto& samples = capture();
    const ViewSettings settings = demoSettings();
    const auto mask = withMask ? pageMask() : std::nullopt;
    FramePipeline pipeline;
    std::size_t bytes = 0;
    for (auto _ : state) {
        cli::FrameContent& content = pipeline.process(samples, settings, mask);
        content.header["seq"] = state.iterations();
        const std::string message = cli::encodeFrame(content.header, content.hits, content.fails);
        bytes = message.size();
        benchmark::DoNotOptimize(message.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

// The grid of the demo eye as the server lays it out.
struct Grid {
    std::vector<std::uint32_t> cells;
};

const Grid& demoGrid() {
    static const Grid grid = [] {
        FramePipeline pipeline;
        const auto& samples = capture();
        cli::FrameContent& content = pipeline.process(samples, demoSettings(), std::nullopt);
        const TvaHistogramLayout& layout = pipeline.layout().grid;
        Grid g;
        g.cells.resize(std::size_t{layout.columns} * layout.rows);
        tvaEyeHistogram(content.eyeX.data(), content.eyeY.data(),
                        static_cast<std::uint32_t>(content.eyeX.size()), content.eyeWidth, &layout,
                        g.cells.data(), static_cast<std::uint32_t>(g.cells.size()));
        return g;
    }();
    return grid;
}

void packed(benchmark::State& state) {
    const auto& cells = demoGrid().cells;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string out = cli::packCells(cells);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

// The whole grid, a byte a cell when no cell has more than 255 hits, else two.
void whole(benchmark::State& state) {
    const auto& cells = demoGrid().cells;
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::uint32_t most = 0;
        for (const auto c : cells) most = std::max(most, c);
        std::string out;
        if (most <= 0xFF) {
            out.resize(cells.size());
            for (std::size_t i = 0; i < cells.size(); ++i) out[i] = static_cast<char>(cells[i]);
        } else {
            out.resize(cells.size() * 2);
            for (std::size_t i = 0; i < cells.size(); ++i) {
                const auto c = static_cast<std::uint16_t>(std::min<std::uint32_t>(cells[i], 0xFFFF));
                out[2 * i] = static_cast<char>(c & 0xFF);
                out[2 * i + 1] = static_cast<char>(c >> 8);
            }
        }
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

std::string base64(const std::string& in) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((in.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < in.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint8_t>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<std::uint8_t>(in[i + 1]) << 8;
        if (i + 2 < in.size()) v |= static_cast<std::uint8_t>(in[i + 2]);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += i + 1 < in.size() ? kAlphabet[v >> 6 & 63] : '=';
        out += i + 2 < in.size() ? kAlphabet[v & 63] : '=';
    }
    return out;
}

// The packed grid as an SSE event: "data: <base64>\n\n".
void sseEvent(benchmark::State& state) {
    const auto& cells = demoGrid().cells;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string out = "data: " + base64(cli::packCells(cells)) + "\n\n";
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

}  // namespace

void registerViewBenchmarks() {
    // 20 % of a core at 10 frames a second.
    constexpr double kFrameBudgetNs = 0.2 * 1e9 / 10;
    benchmark::RegisterBenchmark("view/frame", frame, true)->Unit(benchmark::kMicrosecond);
    addFigure({.title = "tarvex view frame, 256 packets (fold, measure, grid, mask, pack)",
               .measured = "view/frame",
               .bound = {{.fixedNs = kFrameBudgetNs}},
               .goal = 1.0,
               .boundText = "20 % of a core at 10 frames/s: 20 ms"});
    benchmark::RegisterBenchmark("view/frame-no-mask", frame, false)->Unit(benchmark::kMicrosecond);
    addFigure({.title = "…without a mask",
               .measured = "view/frame-no-mask",
               .bound = {{.fixedNs = kFrameBudgetNs}},
               .boundText = "20 ms"});
    benchmark::RegisterBenchmark("view/grid-packed", packed);
    benchmark::RegisterBenchmark("view/grid-whole", whole);
    benchmark::RegisterBenchmark("view/grid-sse-base64", sseEvent);
    addFigure({.title = "Grid as sent: packed cells (binary, fetch)",
               .measured = "view/grid-packed",
               .bound = {{"view/grid-whole"}},
               .boundText = "the whole grid, 1 or 2 bytes a cell"});
    addFigure({.title = "…packed in base64 as an SSE event",
               .measured = "view/grid-sse-base64",
               .bound = {{"view/grid-packed"}},
               .boundText = "packed binary"});
}

}  // namespace tarvex::bench
