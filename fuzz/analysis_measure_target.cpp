// Fuzz target: the measurement entry points of the analysis library.  The input is either raw
// points (any X, any code, any width, any rates) or the parameters of an NRZ-like eye the target
// draws (levels, noise, edge width, bit pattern), so that the edges, crossings and jitter are
// reached too.  After every call: the status is one the call may give, and the results hold
// together (finite values, "not measurable" with a reason and a value of 0, counts within the
// points, a usable frame when it says so); the density histogram counts every point once.
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <cstdint>
#include <vector>

#include "fuzz/analysis_check.h"
#include "fuzz/fuzz_input.h"
#include "tarvex_analysis.h"

namespace tarvex::fuzz {
bool gTrace = false;  // replay_main's --trace: this target has no more to say
}  // namespace tarvex::fuzz

namespace {

using tarvex::fuzz::FuzzInput;

constexpr std::uint32_t kMaxPoints = 20000;

struct Eye {
    std::vector<std::uint16_t> x, y;
    std::uint16_t width = 0;
    double dataRate = 0, sampleRate = 0;
};

// Points straight from the input.
Eye rawEye(FuzzInput& in) {
    Eye e;
    e.width = in.u16();
    e.dataRate = in.rate();
    e.sampleRate = in.rate();
    const std::uint32_t n = in.below(kMaxPoints);
    for (std::uint32_t i = 0; i < n && !in.done(); ++i) {
        const std::uint16_t x = in.u16();
        e.x.push_back(e.width > 0 && in.byte() < 250 ? x % e.width : x);
        const std::uint16_t y = in.u16();
        e.y.push_back(in.byte() < 250 ? y & 0x0FFF : y);
    }
    return e;
}

// An NRZ-like eye: bits from a generator seeded by the input, tanh-like edges of a chosen
// width, noise of a chosen size, at the phases of a chosen step.
Eye drawnEye(FuzzInput& in) {
    Eye e;
    e.width = static_cast<std::uint16_t>(1 + in.below(4000));
    e.dataRate = 1e9;
    e.sampleRate = in.flag() ? 1e8 : in.rate();
    const double low = in.below(4096), high = in.below(4096);
    const double noise = in.below(600) / 2.0, edge = (1 + in.below(400)) / 1000.0;
    const double step = (1 + in.below(9999)) / 10000.0, crossing = in.below(1000) / 1000.0;
    std::uint32_t seed = in.u32() | 1u;
    const auto random = [&] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed / 4294967296.0;
    };
    const std::uint32_t n = 1 + in.below(kMaxPoints);
    for (std::uint32_t i = 0; i < n; ++i) {
        double phase = std::fmod(i * step, 1.0);
        const bool before = random() < 0.5, after = random() < 0.5;
        const double t = phase - crossing;
        const double wrapped = t - std::round(t);
        const double s = 0.5 * (1 + std::tanh(wrapped / edge));
        const double level = (before ? high : low) + ((after ? high : low) - (before ? high : low)) * s;
        const double code = std::clamp(std::round(level + noise * (random() - 0.5) * 3.4), 0.0, 4095.0);
        e.x.push_back(static_cast<std::uint16_t>(std::min(phase * e.width, e.width - 1.0)));
        e.y.push_back(static_cast<std::uint16_t>(code));
    }
    return e;
}

void checkMeasurements(const TvaEyeMeasurements& m, std::int32_t status, std::uint32_t count) {
    if (status != kTvaOk) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&m);
        for (std::size_t i = 0; i < sizeof m; ++i)
            TARVEX_ANALYSIS_CHECK(bytes[i] == 0, "results not zeroed after a refusal");
        return;
    }
    TARVEX_ANALYSIS_CHECK(m.pointCount == count, "pointCount is not the number of points");
    for (const TvaMeasurement& item : m.items) {
        TARVEX_ANALYSIS_CHECK(std::isfinite(item.value), "a value that is not finite");
        TARVEX_ANALYSIS_CHECK((item.measurable == 1) == (item.reason == kTvaOk),
                              "measurable and reason disagree");
        TARVEX_ANALYSIS_CHECK(item.measurable == 1 || item.value == 0, "a value that was not measured");
        TARVEX_ANALYSIS_CHECK(item.samples <= count, "more samples than points");
        TARVEX_ANALYSIS_CHECK(item.unit >= kTvaUnitCode && item.unit <= kTvaUnitRatio, "no unit");
        TARVEX_ANALYSIS_CHECK(item.reason == kTvaOk || item.reason >= kTvaTooFewSamples,
                              "a reason that is no reason");
    }
    if (m.frameValid) {
        TARVEX_ANALYSIS_CHECK(m.frame.oneLevel > m.frame.zeroLevel, "frame levels not apart");
        TARVEX_ANALYSIS_CHECK(m.frame.crossingPhase >= 0 && m.frame.crossingPhase < 1,
                              "crossing phase outside the UI");
    }
}

bool oneOf(std::int32_t status, std::initializer_list<std::int32_t> allowed) {
    for (const std::int32_t a : allowed)
        if (a == status) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    Eye e = in.flag() ? drawnEye(in) : rawEye(in);
    const auto count = static_cast<std::uint32_t>(e.x.size());
    const std::uint16_t* x = count > 0 ? e.x.data() : nullptr;
    const std::uint16_t* y = count > 0 ? e.y.data() : nullptr;

    TvaEyeMeasurements m;
    std::int32_t status = tvaMeasurePoints(x, y, count, e.width, e.dataRate, &m);
    TARVEX_ANALYSIS_CHECK(oneOf(status, {kTvaOk, kTvaNullPointer, kTvaNoSamples, kTvaBadEyeWidth,
                                         kTvaBadRates, kTvaPointOutsideEye, kTvaSampleOutOfRange}),
                          "tvaMeasurePoints: a status it may not give");
    checkMeasurements(m, status, count);

    status = tvaMeasureSamples(y, count, e.dataRate, e.sampleRate, &m);
    TARVEX_ANALYSIS_CHECK(oneOf(status, {kTvaOk, kTvaNullPointer, kTvaNoSamples, kTvaBadRates,
                                         kTvaSampleOutOfRange}),
                          "tvaMeasureSamples: a status it may not give");
    checkMeasurements(m, status, count);

    TvaHistogramLayout layout{};
    layout.rows = 1 + in.below(300);
    layout.yLow = in.below(4096);
    layout.yHigh = layout.yLow + 1 + in.below(8192);
    status = tvaSuggestLayout(x, count, e.width, e.dataRate, e.sampleRate,
                              m.frameValid ? m.frame.crossingPhase : in.rate(), &layout);
    if (status != kTvaOk) layout.columns = 1 + in.below(300);
    std::vector<std::uint32_t> counts(std::size_t{layout.columns} * layout.rows);
    status = tvaEyeHistogram(x, y, count, e.width, &layout, counts.data(),
                             static_cast<std::uint32_t>(counts.size()));
    if (status == kTvaOk) {
        std::uint64_t total = 0;
        for (const std::uint32_t c : counts) total += c;
        TARVEX_ANALYSIS_CHECK(total == count, "the histogram lost or doubled points");
    }

    std::vector<std::uint16_t> foldedX(count), foldedY(count);
    std::uint16_t width = 0;
    status = tvaFoldSamples(y, count, e.dataRate, e.sampleRate, static_cast<std::uint16_t>(in.u16()),
                            foldedX.data(), foldedY.data(), &width);
    if (status == kTvaOk)
        for (std::uint32_t i = 0; i < count; ++i)
            TARVEX_ANALYSIS_CHECK(width == 0 || foldedX[i] < width, "a folded X beyond the width");
    return 0;
}
