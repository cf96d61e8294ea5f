#include "view_frame.h"

#include <algorithm>
#include <cmath>

#include "eye_style.h"

namespace tarvex::cli {

namespace {

void putLeb128(std::string& out, std::uint64_t value) {
    do {
        auto byte = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
        if (value != 0) byte |= 0x80;
        out.push_back(static_cast<char>(byte));
    } while (value != 0);
}

void putUint32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// `a - b` taken around the unit interval, in [-0.5, 0.5).
double phaseDifference(double a, double b) {
    const double d = a - b;
    return d - std::floor(d + 0.5);
}

}  // namespace

std::string packCells(std::span<const std::uint32_t> cells) {
    std::string out;
    std::uint64_t skipped = 0;
    for (const std::uint32_t hits : cells) {
        if (hits == 0) {
            ++skipped;
            continue;
        }
        putLeb128(out, skipped);
        putLeb128(out, hits);
        skipped = 0;
    }
    return out;
}

std::string encodeFrame(const Json& header, const std::string& hits, const std::string& fails) {
    const std::string json = header.dump();
    std::string out;
    out.reserve(16 + json.size() + hits.size() + fails.size());
    out += "TVX1";
    putUint32(out, static_cast<std::uint32_t>(json.size()));
    putUint32(out, static_cast<std::uint32_t>(hits.size()));
    putUint32(out, static_cast<std::uint32_t>(fails.size()));
    out += json;
    out += hits;
    out += fails;
    return out;
}

bool FramePipeline::layoutFits(const TvaEyeMeasurements& measured, const ViewSettings& settings,
                               std::uint16_t low, std::uint16_t high) const {
    const TvaHistogramLayout& grid = layout_.grid;
    if (grid.columns == 0 || layout_.dataRate != settings.dataRate ||
        layout_.sampleRate != settings.sampleRate || layout_.xScale != settings.xScale)
        return false;
    // Samples off the grid would pile up in its first or last row; an eye that shrank to less
    // than half the grid would be drawn small.
    if (low < grid.yLow || high > grid.yHigh) return false;
    const CodeRange now = codeRange(low, high);
    if (now.high - now.low < 0.5 * (grid.yHigh - grid.yLow)) return false;
    // The crossing wandered by more than a column: the eye would be drawn off its axis.
    if (measured.frameValid != 0 &&
        std::fabs(phaseDifference(measured.frame.crossingPhase, layout_.crossingPhase)) >
            1.0 / grid.columns)
        return false;
    return true;
}

void FramePipeline::layOut(const TvaEyeMeasurements& measured, const ViewSettings& settings,
                           std::uint16_t low, std::uint16_t high) {
    const double crossing = measured.frameValid != 0 ? measured.frame.crossingPhase : 0.0;
    TvaHistogramLayout grid{};
    if (tvaSuggestLayout(out_.eyeX.data(), static_cast<std::uint32_t>(out_.eyeX.size()),
                         out_.eyeWidth, settings.dataRate, settings.sampleRate, crossing,
                         &grid) != kTvaOk) {
        grid.columns = 1;
        grid.originPhase = 0;
    }
    const CodeRange range = codeRange(low, high);
    grid.rows = kViewRows;
    grid.yLow = range.low;
    grid.yHigh = range.high;
    layout_.grid = grid;
    layout_.crossingPhase = crossing;
    layout_.dataRate = settings.dataRate;
    layout_.sampleRate = settings.sampleRate;
    layout_.xScale = settings.xScale;
    ++layout_.id;
}

Json FramePipeline::layoutJson() const {
    const TvaHistogramLayout& grid = layout_.grid;
    return {{"id", layout_.id},
            {"columns", grid.columns},
            {"rows", grid.rows},
            {"originPhase", grid.originPhase},
            {"crossingPhase", layout_.crossingPhase},
            {"yLow", grid.yLow},
            {"yHigh", grid.yHigh},
            {"yTicks", codeTicks({grid.yLow, grid.yHigh})},
            {"title", eyeTitle(layout_.dataRate, layout_.sampleRate)},
            {"timeTitle", timeAxisTitle(layout_.dataRate)},
            {"codeTitle", codeAxisTitle()}};
}

Json FramePipeline::maskResultJson(const TvaEyeMeasurements& measured, const MaskChoice& mask) {
    const auto count = static_cast<std::uint32_t>(out_.eyeX.size());
    if (measured.frameValid == 0)
        return {{"error", "the eye's levels and crossing were not found, so the mask has no "
                          "place to go"}};
    TvaMaskResult result{};
    regionFlags_.resize(count);
    const std::int32_t status = tvaMaskTest(out_.eyeX.data(), out_.eyeY.data(), count,
                                            out_.eyeWidth, &measured.frame, &mask.mask, &result,
                                            regionFlags_.data());
    if (status != kTvaOk) return {{"error", tvaStatusText(status)}};

    failX_.clear();
    failY_.clear();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (regionFlags_[i] == 0) continue;
        failX_.push_back(out_.eyeX[i]);
        failY_.push_back(out_.eyeY[i]);
    }
    if (!failX_.empty()) {
        std::fill(cells_.begin(), cells_.end(), 0u);
        tvaEyeHistogram(failX_.data(), failY_.data(), static_cast<std::uint32_t>(failX_.size()),
                        out_.eyeWidth, &layout_.grid, cells_.data(),
                        static_cast<std::uint32_t>(cells_.size()));
        out_.fails = packCells(cells_);
    }

    // The regions where the page draws them: x on its axis (UI from the grid's crossing), y in
    // codes; the edges far off (the bars reach 1e6) are brought near the grid, as the picture
    // does, where a canvas still draws them exactly.
    const TvaEyeFrame& frame = measured.frame;
    const double shift = phaseDifference(frame.crossingPhase, layout_.crossingPhase);
    const double span = layout_.grid.yHigh - layout_.grid.yLow;
    Json out = maskJson(mask, result);
    for (std::uint32_t r = 0; r < mask.mask.regionCount && r < TVA_MASK_MAX_REGIONS; ++r) {
        const TvaMaskRegion& region = mask.mask.regions[r];
        Json outline = Json::array();
        for (std::uint32_t v = 0; v < region.vertexCount && v < TVA_MASK_MAX_VERTICES; ++v) {
            const TvaPoint& p = region.vertices[v];
            const double code = frame.zeroLevel + p.y * (frame.oneLevel - frame.zeroLevel);
            outline.push_back({p.x + shift, std::clamp(code, layout_.grid.yLow - span,
                                                       layout_.grid.yHigh + span)});
        }
        out["regions"][r]["outline"] = std::move(outline);
    }
    return out;
}

FrameContent& FramePipeline::process(std::span<const std::uint16_t> samples,
                                     const ViewSettings& settings,
                                     const std::optional<MaskChoice>& mask) {
    const auto count = static_cast<std::uint32_t>(samples.size());
    out_.eyeX.resize(count);
    out_.eyeY.resize(count);
    out_.hits.clear();
    out_.fails.clear();
    out_.header = Json::object();
    out_.eyeWidth = 0;

    const std::int32_t folded =
        tvaFoldSamples(samples.data(), count, settings.dataRate, settings.sampleRate,
                       static_cast<std::uint16_t>(settings.xScale), out_.eyeX.data(),
                       out_.eyeY.data(), &out_.eyeWidth);
    if (folded != kTvaOk || out_.eyeWidth == 0) {
        out_.eyeX.clear();
        out_.eyeY.clear();
        out_.header["error"] = folded != kTvaOk
                                   ? std::string("no eye: ") + tvaStatusText(folded)
                                   : std::string("no eye: every sample is 0");
        return out_;
    }
    const auto [low, high] = std::minmax_element(out_.eyeY.begin(), out_.eyeY.end());

    TvaEyeMeasurements measured{};
    tvaMeasurePoints(out_.eyeX.data(), out_.eyeY.data(), count, out_.eyeWidth, settings.dataRate,
                     &measured);
    if (!layoutFits(measured, settings, *low, *high)) layOut(measured, settings, *low, *high);

    const std::size_t cellCount = std::size_t{layout_.grid.columns} * layout_.grid.rows;
    cells_.assign(cellCount, 0u);
    tvaEyeHistogram(out_.eyeX.data(), out_.eyeY.data(), count, out_.eyeWidth, &layout_.grid,
                    cells_.data(), static_cast<std::uint32_t>(cells_.size()));
    out_.hits = packCells(cells_);

    Json& header = out_.header;
    header["points"] = count;
    header["eyeWidth"] = out_.eyeWidth;
    header["layout"] = layoutJson();
    header["frameValid"] = measured.frameValid != 0;
    header["frame"] = {{"crossingPhase", measured.frame.crossingPhase},
                       {"zeroLevel", measured.frame.zeroLevel},
                       {"oneLevel", measured.frame.oneLevel}};
    header["measurements"] = measurementsJson(measured, CodeScale{});
    if (mask) header["mask"] = maskResultJson(measured, *mask);
    return out_;
}

Json measurementCatalogue() {
    Json items = Json::array();
    for (std::uint32_t i = 0; i < TVA_MEASUREMENT_COUNT; ++i)
        items.push_back({{"name", tvaMeasurementName(i)}, {"label", tvaMeasurementLabel(i)}});
    return items;
}

}  // namespace tarvex::cli
