// The C interface (include/tarvex_analysis.h): arguments checked, then the C++ analysis; nothing
// thrown ever crosses it.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "analysis/density.h"
#include "analysis/eye_points.h"
#include "analysis/mask.h"
#include "analysis/measure.h"
#include "commands/eye_fold.h"
#include "tarvex_analysis.h"

// Python's ctypes and other languages lay these records out by the same C rules; the sizes and
// offsets are part of the interface.
static_assert(sizeof(TvaMeasurement) == 24 && offsetof(TvaMeasurement, samples) == 8 &&
              offsetof(TvaMeasurement, reason) == 20);
static_assert(sizeof(TvaEyeFrame) == 24);
static_assert(sizeof(TvaEyeMeasurements) == 24 * TVA_MEASUREMENT_COUNT + 24 + 8 + 8);
static_assert(sizeof(TvaHistogramLayout) == 32 && offsetof(TvaHistogramLayout, originPhase) == 8);
static_assert(sizeof(TvaPoint) == 16);
static_assert(sizeof(TvaMaskRegion) == TVA_MASK_NAME_BYTES + 8 + 16 * TVA_MASK_MAX_VERTICES);
static_assert(sizeof(TvaMask) == 8 + sizeof(TvaMaskRegion) * TVA_MASK_MAX_REGIONS);
static_assert(sizeof(TvaMaskResult) == 4 * TVA_MASK_MAX_REGIONS + 16 + 8);

namespace tarvex::analysis {
namespace {

// The finest X axis a fold gives: xScale above 10 is the width itself.
constexpr std::uint16_t kFinestWidth = 0xFFFF;

struct Named {
    const char* name;
    const char* label;
};

constexpr Named kMeasurements[TVA_MEASUREMENT_COUNT] = {
    {"oneLevel", "one level"},
    {"zeroLevel", "zero level"},
    {"oneNoise", "one level noise (RMS)"},
    {"zeroNoise", "zero level noise (RMS)"},
    {"eyeAmplitude", "eye amplitude"},
    {"eyeHeight", "eye height"},
    {"qFactor", "Q factor"},
    {"crossingLevel", "crossing level"},
    {"crossingPercent", "crossing percentage"},
    {"jitterRms", "jitter (RMS)"},
    {"jitterPp", "jitter (peak to peak)"},
    {"eyeWidth", "eye width"},
    {"riseTime", "rise time 10-90 %"},
    {"fallTime", "fall time 90-10 %"},
    {"riseTime2080", "rise time 20-80 %"},
    {"fallTime2080", "fall time 80-20 %"},
    {"dutyCycleDistortion", "duty-cycle distortion"},
};

int32_t statusOf(PointsProblem problem) {
    switch (problem) {
        case PointsProblem::kNone: return kTvaOk;
        case PointsProblem::kNullPointer: return kTvaNullPointer;
        case PointsProblem::kNoPoints: return kTvaNoSamples;
        case PointsProblem::kZeroWidth: return kTvaBadEyeWidth;
        case PointsProblem::kXOutsideEye: return kTvaPointOutsideEye;
        case PointsProblem::kYAboveCode: return kTvaSampleOutOfRange;
    }
    return kTvaBadArgument;
}

bool usableRate(double rate) { return std::isfinite(rate) && rate > 0; }

// Runs `body`, turning anything thrown into a status: memory first, anything else unforeseen.
template <typename Body>
int32_t guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kTvaOutOfMemory;
    } catch (...) {
        return kTvaBadArgument;
    }
}

void writeMessage(const std::string& text, char* message, uint32_t bytes) {
    if (message == nullptr || bytes == 0) return;
    const std::size_t n = std::min<std::size_t>(text.size(), bytes - 1);
    std::memcpy(message, text.data(), n);
    message[n] = '\0';
}

}  // namespace
}  // namespace tarvex::analysis

using namespace tarvex::analysis;

extern "C" {

TARVEX_ANALYSIS_API uint32_t TARVEX_ANALYSIS_CALL tvaVersion(void) { return TARVEX_ANALYSIS_VERSION; }

TARVEX_ANALYSIS_API const char* TARVEX_ANALYSIS_CALL tvaStatusText(int32_t status) {
    switch (status) {
        case kTvaOk: return "success";
        case kTvaNullPointer: return "a pointer the call needs is null";
        case kTvaNoSamples: return "there are no samples: the count is 0";
        case kTvaBadRates:
            return "the rates cannot fold: they must be positive and finite, and the sample "
                   "period at most 2^31 bit periods";
        case kTvaBadEyeWidth: return "the eye width is 0";
        case kTvaPointOutsideEye: return "a point's X is not below the eye width";
        case kTvaSampleOutOfRange: return "a sample code is above 4095, the largest 12-bit code";
        case kTvaBufferTooSmall: return "an output buffer is smaller than what the call writes";
        case kTvaBadArgument: return "an argument is outside its range";
        case kTvaBadMask: return "the mask is malformed";
        case kTvaBadFrame:
            return "the eye's frame is not usable: the one level must be above the zero level "
                   "and the crossing phase within [0, 1)";
        case kTvaOutOfMemory: return "the working memory could not be had";
        case kTvaTooFewSamples: return "too few samples for this measurement";
        case kTvaNoTransitions: return "no transitions between the levels";
        case kTvaLevelsNotApart: return "the one and zero levels cannot be told apart";
        case kTvaInsideNoise: return "its threshold lies within the noise of the levels";
        case kTvaNotEnoughEdges: return "the rising or falling edges it needs were not found";
        case kTvaNoNoise: return "the levels show no noise to divide by";
        default: return "unknown status";
    }
}

TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaFoldSamples(
    const uint16_t* samples, uint32_t count, double dataRate, double sampleRate, uint16_t xScale,
    uint16_t* eyeX, uint16_t* eyeY, uint16_t* eyeWidth) {
    if (samples == nullptr || eyeX == nullptr || eyeY == nullptr || eyeWidth == nullptr)
        return kTvaNullPointer;
    if (count == 0) return kTvaNoSamples;
    if (!tarvex::commands::eyeFoldStep(dataRate, sampleRate)) return kTvaBadRates;
    if (eyeY != samples) std::memmove(eyeY, samples, std::size_t{count} * sizeof(uint16_t));
    *eyeWidth = tarvex::commands::foldEye(eyeY, eyeX, count, dataRate, sampleRate, xScale).width;
    return kTvaOk;
}

TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMeasurePoints(
    const uint16_t* eyeX, const uint16_t* eyeY, uint32_t count, uint16_t eyeWidth,
    double dataRate, TvaEyeMeasurements* out) {
    if (out == nullptr) return kTvaNullPointer;
    *out = {};
    const EyePoints points{eyeX, eyeY, count, eyeWidth};
    if (const auto problem = checkShape(points); problem != PointsProblem::kNone)
        return statusOf(problem);
    if (!usableRate(dataRate)) return kTvaBadRates;
    return guarded([&]() -> int32_t {
        const int32_t status = statusOf(measureEye(points, dataRate, *out));
        if (status != kTvaOk) *out = {};
        return status;
    });
}

TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMeasureSamples(
    const uint16_t* samples, uint32_t count, double dataRate, double sampleRate,
    TvaEyeMeasurements* out) {
    if (out == nullptr) return kTvaNullPointer;
    *out = {};
    if (samples == nullptr) return kTvaNullPointer;
    if (count == 0) return kTvaNoSamples;
    if (!tarvex::commands::eyeFoldStep(dataRate, sampleRate)) return kTvaBadRates;
    return guarded([&]() -> int32_t {
        // One block for both, filled by the copy and the fold: nothing is cleared first.
        const std::unique_ptr<uint16_t[]> points(new uint16_t[std::size_t{count} * 2]);
        uint16_t* y = points.get();
        uint16_t* x = points.get() + count;
        std::memcpy(y, samples, std::size_t{count} * sizeof(uint16_t));
        const auto range =
            tarvex::commands::foldEye(y, x, count, dataRate, sampleRate, kFinestWidth);
        return tvaMeasurePoints(x, y, count, range.width, dataRate, out);
    });
}

TARVEX_ANALYSIS_API const char* TARVEX_ANALYSIS_CALL tvaMeasurementName(uint32_t index) {
    return index < TVA_MEASUREMENT_COUNT ? kMeasurements[index].name : "";
}

TARVEX_ANALYSIS_API const char* TARVEX_ANALYSIS_CALL tvaMeasurementLabel(uint32_t index) {
    return index < TVA_MEASUREMENT_COUNT ? kMeasurements[index].label : "";
}

TARVEX_ANALYSIS_API const char* TARVEX_ANALYSIS_CALL tvaUnitSymbol(uint32_t unit) {
    switch (unit) {
        case kTvaUnitCode: return "codes";
        case kTvaUnitSecond: return "s";
        case kTvaUnitPercent: return "%";
        default: return "";
    }
}

TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaSuggestLayout(
    const uint16_t* eyeX, uint32_t count, uint16_t eyeWidth, double dataRate, double sampleRate,
    double crossingPhase, TvaHistogramLayout* layout) {
    if (eyeX == nullptr || layout == nullptr) return kTvaNullPointer;
    if (count == 0) return kTvaNoSamples;
    if (eyeWidth == 0) return kTvaBadEyeWidth;
    const auto foldStep = tarvex::commands::eyeFoldStep(dataRate, sampleRate);
    if (!foldStep) return kTvaBadRates;
    if (!(crossingPhase >= 0 && crossingPhase < 1)) return kTvaBadArgument;
    return guarded([&]() -> int32_t {
        const SuggestedColumns suggested =
            suggestColumns({eyeX, eyeX, count, eyeWidth}, *foldStep, crossingPhase);
        layout->columns = suggested.columns;
        layout->originPhase = suggested.origin;
        return kTvaOk;
    });
}

TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaEyeHistogram(
    const uint16_t* eyeX, const uint16_t* eyeY, uint32_t count, uint16_t eyeWidth,
    const TvaHistogramLayout* layout, uint32_t* counts, uint32_t countCapacity) {
    if (layout == nullptr || counts == nullptr) return kTvaNullPointer;
    const EyePoints points{eyeX, eyeY, count, eyeWidth};
    if (const auto problem = checkShape(points); problem != PointsProblem::kNone)
        return statusOf(problem);
    if (!layoutUsable(*layout)) return kTvaBadArgument;
    if (countCapacity / layout->columns < layout->rows) return kTvaBufferTooSmall;
    return guarded([&]() -> int32_t { return statusOf(countDensity(points, *layout, counts)); });
}

TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMaskFromJson(
    const char* text, uint32_t length, TvaMask* mask, char* message, uint32_t messageBytes) {
    writeMessage("", message, messageBytes);
    if (mask == nullptr) return kTvaNullPointer;
    *mask = {};
    if (text == nullptr) return kTvaNullPointer;
    return guarded([&]() -> int32_t {
        std::string sentence;
        if (maskFromJson({text, length}, *mask, sentence)) return kTvaOk;
        writeMessage(sentence, message, messageBytes);
        return kTvaBadMask;
    });
}

TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMaskHexagon(double x1, double x2, double y1,
                                                                double y2, TvaMask* mask) {
    if (mask == nullptr) return kTvaNullPointer;
    return hexagonMask(x1, x2, y1, y2, *mask) ? kTvaOk : kTvaBadArgument;
}

TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMaskCheck(const TvaMask* mask, char* message,
                                                              uint32_t messageBytes) {
    writeMessage("", message, messageBytes);
    if (mask == nullptr) return kTvaNullPointer;
    return guarded([&]() -> int32_t {
        const std::string problem = maskProblem(*mask);
        if (problem.empty()) return kTvaOk;
        writeMessage(problem, message, messageBytes);
        return kTvaBadMask;
    });
}

TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMaskTest(
    const uint16_t* eyeX, const uint16_t* eyeY, uint32_t count, uint16_t eyeWidth,
    const TvaEyeFrame* frame, const TvaMask* mask, TvaMaskResult* result, uint8_t* regionFlags) {
    if (result == nullptr) return kTvaNullPointer;
    *result = {};
    if (frame == nullptr || mask == nullptr) return kTvaNullPointer;
    const EyePoints points{eyeX, eyeY, count, eyeWidth};
    if (const auto problem = checkShape(points); problem != PointsProblem::kNone)
        return statusOf(problem);
    if (!frameUsable(*frame)) return kTvaBadFrame;
    return guarded([&]() -> int32_t {
        if (!maskProblem(*mask).empty()) return kTvaBadMask;
        const int32_t status = statusOf(testMask(points, *frame, *mask, *result, regionFlags));
        if (status != kTvaOk) *result = {};
        return status;
    });
}

}  // extern "C"
