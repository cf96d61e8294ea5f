#include "eye_analysis.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <fmt/format.h>

#include "common/quantity.h"
#include "errors.h"

namespace tarvex::cli {

namespace {

constexpr const char* kHexagon = "hexagon:";
// A mask file is small; reading stops past the largest one the library takes.
constexpr std::size_t kLargestMaskFile = (1u << 20) + 1;

MaskChoice hexagon(const std::string& spec) {
    const std::string usage = fmt::format(
        "--mask {}: the built-in mask is hexagon:X1,X2,Y1,Y2 with 0 <= X1 < X2 < 0.5, "
        "0 < Y1 < 0.5 and Y2 >= 0, like hexagon:0.25,0.4,0.25,0.25",
        spec);
    std::array<double, 4> values{};
    std::string_view rest = std::string_view(spec).substr(std::strlen(kHexagon));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto comma = rest.find(',');
        if ((comma == std::string_view::npos) != (i + 1 == values.size())) throw UsageError(usage);
        const auto value = common::parseNumber(rest.substr(0, comma));
        if (!value) throw UsageError(usage);
        values[i] = *value;
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
    }
    MaskChoice choice{spec};
    if (tvaMaskHexagon(values[0], values[1], values[2], values[3], &choice.mask) != kTvaOk)
        throw UsageError(usage);
    return choice;
}

MaskChoice maskFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError(fmt::format("--mask {}: cannot read it: {}", path, std::strerror(errno)));
    std::string text;
    text.resize(kLargestMaskFile);
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (file.bad()) throw UsageError(fmt::format("--mask {}: cannot read it", path));
    MaskChoice choice{path};
    std::array<char, 256> message{};
    if (tvaMaskFromJson(text.data(), static_cast<std::uint32_t>(text.size()), &choice.mask,
                        message.data(), static_cast<std::uint32_t>(message.size())) != kTvaOk)
        throw UsageError(fmt::format("--mask {}: {}", path, message.data()));
    return choice;
}

bool isTime(const TvaMeasurement& m) { return m.unit == kTvaUnitSecond; }
bool isCode(const TvaMeasurement& m) { return m.unit == kTvaUnitCode; }

// The value as the table shows it, with its unit.
std::pair<std::string, std::string> shown(const TvaMeasurement& m, CodeScale scale) {
    if (isTime(m)) return {fmt::format("{:.2f}", m.value * 1e12), "ps"};
    if (isCode(m) && scale.voltsPerCode > 0)
        return {fmt::format("{:.2f}", m.value * scale.voltsPerCode * 1e3), "mV"};
    if (isCode(m)) return {fmt::format("{:.1f}", m.value), "codes"};
    if (m.unit == kTvaUnitPercent) return {fmt::format("{:.2f}", m.value), "%"};
    return {fmt::format("{:.2f}", m.value), ""};
}

}  // namespace

MaskChoice readMask(const std::string& spec) {
    if (spec.rfind(kHexagon, 0) == 0) return hexagon(spec);
    return maskFile(spec);
}

void printMeasurements(const TvaEyeMeasurements& measured, CodeScale scale) {
    std::vector<std::array<std::string, 5>> rows;
    rows.push_back({"measurement", "value", "unit", "UI", "samples"});
    std::vector<std::string> unmeasurable(TVA_MEASUREMENT_COUNT);
    for (std::uint32_t i = 0; i < TVA_MEASUREMENT_COUNT; ++i) {
        const TvaMeasurement& m = measured.items[i];
        if (!m.measurable) {
            rows.push_back({tvaMeasurementLabel(i), "-", "", "", ""});
            unmeasurable[i] = std::string("not measurable: ") + tvaStatusText(m.reason);
            continue;
        }
        auto [value, unit] = shown(m, scale);
        const std::string ui = isTime(m) ? fmt::format("{:.4f}", m.value / measured.unitInterval) : "";
        rows.push_back({tvaMeasurementLabel(i), value, unit, ui, std::to_string(m.samples)});
    }
    std::array<std::size_t, 5> width{};
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto& row = rows[r];
        std::string line = fmt::format("{:<{}}  {:>{}}  {:<{}}  {:>{}}  {:>{}}", row[0], width[0],
                                       row[1], width[1], row[2], width[2], row[3], width[3],
                                       row[4], width[4]);
        if (r > 0 && !unmeasurable[r - 1].empty())
            line = fmt::format("{:<{}}  {}", row[0], width[0], unmeasurable[r - 1]);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        Output::line(line);
    }
}

Json measurementsJson(const TvaEyeMeasurements& measured, CodeScale scale) {
    Json all = Json::object();
    for (std::uint32_t i = 0; i < TVA_MEASUREMENT_COUNT; ++i) {
        const TvaMeasurement& m = measured.items[i];
        Json item;
        const bool volts = isCode(m) && scale.voltsPerCode > 0;
        item["value"] = m.measurable ? Json(volts ? m.value * scale.voltsPerCode : m.value) : Json();
        item["unit"] = volts ? "V" : tvaUnitSymbol(m.unit);
        if (isTime(m))
            item["ui"] = m.measurable ? Json(m.value / measured.unitInterval) : Json();
        item["samples"] = m.samples;
        item["measurable"] = m.measurable == 1;
        if (!m.measurable) item["reason"] = tvaStatusText(m.reason);
        all[tvaMeasurementName(i)] = std::move(item);
    }
    return all;
}

std::string maskSummary(const MaskChoice& mask, const TvaMaskResult& result) {
    if (result.passed)
        return fmt::format("mask {}: passed, no sample of {} inside it, margin {:.1f} %", mask.spec,
                           result.testedSamples, result.marginPercent);
    std::string regions;
    for (std::uint32_t r = 0; r < mask.mask.regionCount; ++r) {
        if (!regions.empty()) regions += ", ";
        const std::string name = mask.mask.regions[r].name;
        regions += fmt::format("{} {}", name.empty() ? fmt::format("region {}", r + 1) : name,
                               result.regionHits[r]);
    }
    return fmt::format("mask {}: FAILED, {} of {} samples inside it ({}), margin {:.1f} %",
                       mask.spec, result.failedSamples, result.testedSamples, regions,
                       result.marginPercent);
}

Json maskJson(const MaskChoice& mask, const TvaMaskResult& result) {
    Json regions = Json::array();
    for (std::uint32_t r = 0; r < mask.mask.regionCount; ++r)
        regions.push_back({{"name", mask.mask.regions[r].name}, {"hits", result.regionHits[r]}});
    return {{"spec", mask.spec},
            {"passed", result.passed == 1},
            {"failedSamples", result.failedSamples},
            {"testedSamples", result.testedSamples},
            {"marginPercent", result.marginPercent},
            {"regions", std::move(regions)}};
}

}  // namespace tarvex::cli
