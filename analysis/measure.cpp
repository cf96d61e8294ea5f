// The measurements, taken from the eye's grid in the order they depend on one another: the rough
// levels and crossing, then the levels in the eye window, the crossing level and the crossing
// times (twice, each round placing the crossing better), then the edges.
#include "analysis/measure.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

namespace tarvex::analysis {
namespace {

using namespace eye;

// ---- the grid -------------------------------------------------------------------------------

// Rows run across the UI: consecutive points of an equivalent-time capture jump between columns,
// and rows keep the few hundred cells of each level together in the cache (columns of a power
// of two bytes would also put every level's cells in the same few cache sets).
class EyeGrid {
    static constexpr std::uint32_t kStride = kColumns + 1;

public:
    // Counts the points; kXOutsideEye or kYAboveCode leave the grid unusable.
    PointsProblem build(const EyePoints& points) {
        // One more column and row than the grid has: points beyond the width and codes beyond
        // 12 bits land there, so the loop counts every point without a test.
        counts_.assign(std::size_t{kStride} * (kRows + 1), 0u);
        const std::uint32_t width = points.width;
        std::vector<std::uint32_t> perX(width + 1, 0u);
        std::vector<std::uint16_t> columnOf = columnOfX(points.width, kColumns, 0.0);
        columnOf.push_back(kColumns);
        // Every 16-bit X and code has its place in a table, so the pass needs no bounds test:
        // the few kilobytes the eye's own X and codes use stay in the first-level cache.
        std::vector<std::uint32_t> cellOfX(0x10000, kColumns), cellOfY(0x10000, kRows * kStride);
        std::copy(columnOf.begin(), columnOf.end(), cellOfX.begin());
        for (std::uint32_t y = 0; y <= kLargestCode; ++y) cellOfY[y] = y / kRowCodes * kStride;
        count(points, cellOfX.data(), cellOfY.data(), counts_.data());
        for (std::uint32_t r = 0; r <= kRows; ++r)
            if (at(kColumns, r) > 0) return PointsProblem::kXOutsideEye;
        // The X of every point up to 65536 of them, of evenly spread ones beyond: the columns'
        // phases need no more, and a count per X costs as much as the grid.
        const std::uint32_t stride = std::max<std::uint32_t>(1, points.count / kPhasePoints);
        for (std::uint32_t i = 0; i < points.count; i += stride)
            ++perX[std::min<std::uint32_t>(points.x[i], width)];
        const std::uint32_t* beyond = row(kRows);
        if (std::any_of(beyond, beyond + kStride, [](std::uint32_t n) { return n > 0; }))
            return PointsProblem::kYAboveCode;
        findPhases(perX, columnOf, points.width);
        return PointsProblem::kNone;
    }

    // The pass itself, apart from the steps so that its few values stay in registers.
    [[gnu::noinline]] static void count(const EyePoints& points, const std::uint32_t* cellOfX,
                                        const std::uint32_t* cellOfY, std::uint32_t* counts) {
        const std::uint16_t* const xs = points.x;
        const std::uint16_t* const ys = points.y;
        for (std::uint32_t i = 0, n = points.count; i < n; ++i) ++counts[cellOfX[xs[i]] + cellOfY[ys[i]]];
    }

    std::uint32_t at(std::uint32_t column, std::uint32_t row) const {
        return counts_[row * kStride + column];
    }
    const std::uint32_t* row(std::uint32_t r) const { return &counts_[r * kStride]; }

    // The phases of a column's points, exactly: an equivalent-time sampler visits a few phases
    // over and over, and taking them at their column's middle would stretch or shrink the
    // spread of a crossing by a good part of a column.
    struct Phases {
        double mean = 0;    // of the column's points
        double spread = 0;  // their variance about the mean
        double low = 0, high = 0;
    };
    const Phases& phases(std::uint32_t column) const { return phases_[column]; }

private:
    void findPhases(const std::vector<std::uint32_t>& perX, const std::vector<std::uint16_t>& columnOf,
                    std::uint16_t width) {
        phases_.assign(kColumns, {});
        std::vector<double> n(kColumns, 0.0), sum(kColumns, 0.0), squares(kColumns, 0.0);
        for (std::uint32_t x = 0; x < width; ++x) {
            if (perX[x] == 0) continue;
            const std::uint32_t c = columnOf[x];
            const double phase = phaseOf(x, width);
            if (n[c] == 0) phases_[c].low = phase;
            phases_[c].high = phase;
            n[c] += perX[x];
            sum[c] += perX[x] * phase;
            squares[c] += perX[x] * phase * phase;
        }
        for (std::uint32_t c = 0; c < kColumns; ++c) {
            Phases& p = phases_[c];
            if (n[c] == 0) {
                p.mean = p.low = p.high = (c + 0.5) / kColumns;
                continue;
            }
            p.mean = sum[c] / n[c];
            p.spread = std::max(0.0, squares[c] / n[c] - p.mean * p.mean);
        }
    }

    std::vector<std::uint32_t> counts_;
    std::vector<Phases> phases_;
};

// The points of each row within the columns whose phase after t0 lies in [start, end): one or
// two runs of neighbouring columns (two when the window wraps around the UI).
std::vector<double> rowTotals(const EyeGrid& grid, double t0, double start, double end) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;  // [first, last)
    std::uint32_t first = kColumns;
    for (std::uint32_t c = 0; c <= kColumns; ++c) {
        const double t = wrapUnit((c + 0.5) / kColumns - t0);
        const bool chosen = c < kColumns && t >= start && t < end;
        if (chosen && first == kColumns) first = c;
        if (!chosen && first != kColumns) {
            runs.emplace_back(first, c);
            first = kColumns;
        }
    }
    std::vector<double> rows(kRows, 0.0);
    for (std::uint32_t r = 0; r < kRows; ++r) {
        const std::uint32_t* cells = grid.row(r);
        std::uint32_t sum = 0;
        for (const auto& [from, to] : runs) sum = std::accumulate(cells + from, cells + to, sum);
        rows[r] = sum;
    }
    return rows;
}

// The middle of a row, in codes, and the rows whose middles lie within [low, high] (at least
// the row holding their centre when the band is thinner than a row).
double rowCode(std::uint32_t row) { return row * double{kRowCodes} + (kRowCodes - 1) / 2.0; }

struct RowRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;  // inclusive
};

RowRange rowsWithin(double low, double high) {
    const auto rowAt = [](double code) {
        return std::clamp((code - (kRowCodes - 1) / 2.0) / kRowCodes, 0.0, double{kRows - 1});
    };
    RowRange range{static_cast<std::uint32_t>(std::ceil(rowAt(low))),
                   static_cast<std::uint32_t>(std::floor(rowAt(high)))};
    if (range.first > range.last) {
        const auto centre = static_cast<std::uint32_t>(std::lround(rowAt((low + high) / 2)));
        range = {centre, centre};
    }
    return range;
}

// A column's time from the crossing at phase t0 (the mean phase of its points), in UI, taken
// into [-0.5, 0.5).
double timeFrom(const EyeGrid& grid, std::uint32_t column, double t0) {
    const double t = wrapUnit(grid.phases(column).mean - t0);
    return t >= 0.5 ? t - 1.0 : t;
}

// ---- weighted statistics ----------------------------------------------------------------------

struct Moments {
    double n = 0, sum = 0, sumSquares = 0;
    // `weight` values at `value`, spread about it with variance `spread`.
    void add(double value, double weight, double spread = 0) {
        n += weight;
        sum += weight * value;
        sumSquares += weight * (value * value + spread);
    }
    double mean() const { return n > 0 ? sum / n : 0.0; }
    double variance() const { return n > 0 ? std::max(0.0, sumSquares / n - mean() * mean()) : 0.0; }
};

// A histogram over time: per column, the points' time from the crossing, their count, their
// variance about that time and how far before and after it they reach.
struct TimeBin {
    double t, count, spread, before, after;
};
using TimeHistogram = std::vector<TimeBin>;

TimeBin timeBin(const EyeGrid& grid, std::uint32_t column, double t0, double count) {
    const auto& p = grid.phases(column);
    return {timeFrom(grid, column, t0), count, p.spread, p.mean - p.low, p.high - p.mean};
}

struct TimeStats {
    Moments moments;
    double first = 0, last = 0;  // the earliest and latest column in the window
    double low = 0, high = 0;    // the window kept
};

// The mean and spread of a time histogram, kept to mean +- 5 sigma (at least +- 2 columns) so
// that a few stray points far from the edge do not move them; a few rounds settle the window.
TimeStats robustTimes(const TimeHistogram& histogram) {
    TimeStats stats;
    stats.low = -1.0;
    stats.high = 1.0;
    for (int round = 0; round < 6; ++round) {
        Moments m;
        double first = 1.0, last = -1.0;
        for (const TimeBin& bin : histogram) {
            if (bin.count <= 0 || bin.t < stats.low || bin.t > stats.high) continue;
            m.add(bin.t, bin.count, bin.spread);
            first = std::min(first, bin.t - bin.before);
            last = std::max(last, bin.t + bin.after);
        }
        stats.moments = m;
        stats.first = first;
        stats.last = last;
        if (m.n <= 0) return stats;
        const double reach =
            std::max(kRobustSigmas * std::sqrt(m.variance()), 2.0 / kColumns);
        const double low = m.mean() - reach, high = m.mean() + reach;
        if (low == stats.low && high == stats.high) break;
        stats.low = low;
        stats.high = high;
    }
    return stats;
}

// Sheppard's correction: counting into bins of width w adds w^2 / 12 to a variance.
double sheppard(double variance, double binWidth) {
    return std::max(0.0, variance - binWidth * binWidth / 12.0);
}

// ---- the steps ----------------------------------------------------------------------------------

struct Levels {
    double zero = 0, one = 0;
    double zeroSigma = 0, oneSigma = 0;
    std::uint32_t zeroCount = 0, oneCount = 0;
    double amplitude() const { return one - zero; }
    // The codes a threshold must lie strictly between to be clear of the levels' noise.
    double clearLow() const { return zero + kNoiseSigmas * zeroSigma; }
    double clearHigh() const { return one - kNoiseSigmas * oneSigma; }
};

// The quartiles of all points: most points of an NRZ eye sit on its two levels.
std::optional<std::pair<double, double>> roughLevels(const EyeGrid& grid, double total) {
    const std::vector<double> rows = rowTotals(grid, 0.0, 0.0, 1.0);
    const auto quantile = [&](double q) {
        double seen = 0;
        for (std::uint32_t r = 0; r < kRows; ++r) {
            seen += rows[r];
            if (seen >= q * total) return rowCode(r);
        }
        return rowCode(kRows - 1);
    };
    const double low = quantile(0.25), high = quantile(0.75);
    if (high - low < 2 * kRowCodes) return std::nullopt;
    return std::pair{low, high};
}

// Where the transitions cross: the circular mean of the phases of the points between 30 % and
// 70 % of the rough levels, which only transitions reach.
std::optional<double> roughCrossing(const EyeGrid& grid, double low, double high) {
    const RowRange band = rowsWithin(low + kMidBandLow * (high - low), low + kMidBandHigh * (high - low));
    double sumCos = 0, sumSin = 0, n = 0;
    for (std::uint32_t c = 0; c < kColumns; ++c) {
        double count = 0;
        for (std::uint32_t r = band.first; r <= band.last; ++r) count += grid.at(c, r);
        const double angle = 2 * std::numbers::pi * (c + 0.5) / kColumns;
        sumCos += count * std::cos(angle);
        sumSin += count * std::sin(angle);
        n += count;
    }
    if (n == 0 || (sumCos == 0 && sumSin == 0)) return std::nullopt;
    return wrapUnit(std::atan2(sumSin, sumCos) / (2 * std::numbers::pi));
}

// The one and zero levels: the eye window's points split at the midpoint of the two means
// (found by iterating from the rough levels), then each side's mean and standard deviation.
std::optional<Levels> eyeLevels(const EyeGrid& grid, double t0, double roughLow, double roughHigh,
                                std::int32_t& reason) {
    const std::vector<double> rows = rowTotals(grid, t0, kWindowStart, kWindowEnd);
    double split = (roughLow + roughHigh) / 2;
    Moments zero, one;
    for (int round = 0; round < 50; ++round) {
        zero = {};
        one = {};
        for (std::uint32_t r = 0; r < kRows; ++r)
            (rowCode(r) < split ? zero : one).add(rowCode(r), rows[r]);
        if (zero.n == 0 || one.n == 0) break;
        const double next = (zero.mean() + one.mean()) / 2;
        if (next == split) break;
        split = next;
    }
    if (zero.n < kMinLevelSamples || one.n < kMinLevelSamples) {
        reason = kTvaTooFewSamples;
        return std::nullopt;
    }
    Levels levels;
    levels.zero = zero.mean();
    levels.one = one.mean();
    levels.zeroSigma = std::sqrt(sheppard(zero.variance(), kRowCodes));
    levels.oneSigma = std::sqrt(sheppard(one.variance(), kRowCodes));
    levels.zeroCount = static_cast<std::uint32_t>(zero.n);
    levels.oneCount = static_cast<std::uint32_t>(one.n);
    const double noise = levels.zeroSigma + levels.oneSigma;
    if (levels.amplitude() <= 0 || (noise > 0 && levels.amplitude() / noise < kMinQ)) {
        reason = kTvaLevelsNotApart;
        return std::nullopt;
    }
    return levels;
}

struct Value {
    double value = 0;
    std::uint32_t samples = 0;
    std::int32_t reason = kTvaOk;
    bool ok() const { return reason == kTvaOk; }
};

Value failed(std::int32_t reason) { return {0.0, 0, reason}; }

// The crossing level: the mean of the points in the slice around the crossing time that lie
// clear of both levels' noise (the transitions there).
Value crossingLevel(const EyeGrid& grid, double t0, const Levels& levels) {
    if (levels.clearLow() >= levels.clearHigh()) return failed(kTvaInsideNoise);
    const RowRange band = rowsWithin(std::nextafter(levels.clearLow(), 1e9),
                                     std::nextafter(levels.clearHigh(), -1e9));
    Moments m;
    for (std::uint32_t c = 0; c < kColumns; ++c) {
        if (std::fabs(timeFrom(grid, c, t0)) > kCrossingSlice) continue;
        for (std::uint32_t r = band.first; r <= band.last; ++r) m.add(rowCode(r), grid.at(c, r));
    }
    if (m.n < kMinCrossingSamples) return failed(m.n == 0 ? kTvaNoTransitions : kTvaTooFewSamples);
    return {m.mean(), static_cast<std::uint32_t>(m.n)};
}

// A band of codes [level - half, level + half] must lie clear of the levels' noise.
bool clearOfNoise(const Levels& levels, double level, double half) {
    return level - half > levels.clearLow() && level + half < levels.clearHigh();
}

// The crossing times: the time histogram of a thin band around the crossing level.
struct CrossingTimes {
    TimeStats stats;
    double offsetSquares = 0;  // mean of (code - crossing level)^2 over the points counted
    std::int32_t reason = kTvaOk;
};

CrossingTimes crossingTimes(const EyeGrid& grid, double t0, double level, const Levels& levels) {
    CrossingTimes result;
    const double half = kCrossingBand * levels.amplitude();
    if (!clearOfNoise(levels, level, half)) {
        result.reason = kTvaInsideNoise;
        return result;
    }
    const RowRange band = rowsWithin(level - half, level + half);
    TimeHistogram histogram;
    for (std::uint32_t c = 0; c < kColumns; ++c) {
        double count = 0;
        for (std::uint32_t r = band.first; r <= band.last; ++r) count += grid.at(c, r);
        histogram.push_back(timeBin(grid, c, t0, count));
    }
    result.stats = robustTimes(histogram);
    if (result.stats.moments.n < kMinCrossingSamples) {
        result.reason = result.stats.moments.n == 0 ? kTvaNoTransitions : kTvaTooFewSamples;
        return result;
    }
    Moments offsets;
    for (std::uint32_t c = 0; c < kColumns; ++c) {
        const double t = timeFrom(grid, c, t0);
        if (t < result.stats.low || t > result.stats.high) continue;
        for (std::uint32_t r = band.first; r <= band.last; ++r) {
            const double offset = rowCode(r) - level;
            offsets.add(offset * offset, grid.at(c, r));
        }
    }
    result.offsetSquares = offsets.mean();
    return result;
}

// The mean time at which one kind of edge crosses `level`: the band's points on that edge's
// side of the crossing (a rising edge is below the crossing level before the crossing, above
// after; a falling edge the other way round).
Value edgeTime(const EyeGrid& grid, double t0, double level, bool rising, double crossing,
               const Levels& levels) {
    const double half = kEdgeBand * levels.amplitude();
    if (!clearOfNoise(levels, level, half)) return failed(kTvaInsideNoise);
    const bool before = rising == (level < crossing);
    const RowRange band = rowsWithin(level - half, level + half);
    TimeHistogram histogram;
    for (std::uint32_t c = 0; c < kColumns; ++c) {
        if (before != (timeFrom(grid, c, t0) < 0)) continue;
        double count = 0;
        for (std::uint32_t r = band.first; r <= band.last; ++r) count += grid.at(c, r);
        histogram.push_back(timeBin(grid, c, t0, count));
    }
    const TimeStats stats = robustTimes(histogram);
    if (stats.moments.n < kMinEdgeSamples) return failed(kTvaNotEnoughEdges);
    return {stats.moments.mean(), static_cast<std::uint32_t>(stats.moments.n)};
}

// ---- filling the results ------------------------------------------------------------------------

constexpr std::array<std::uint32_t, TVA_MEASUREMENT_COUNT> kUnits = {
    kTvaUnitCode,    kTvaUnitCode,    kTvaUnitCode,    kTvaUnitCode,   kTvaUnitCode,
    kTvaUnitCode,    kTvaUnitRatio,   kTvaUnitCode,    kTvaUnitPercent, kTvaUnitSecond,
    kTvaUnitSecond,  kTvaUnitSecond,  kTvaUnitSecond,  kTvaUnitSecond, kTvaUnitSecond,
    kTvaUnitSecond,  kTvaUnitSecond};

class Results {
public:
    explicit Results(TvaEyeMeasurements& out) : out_(out) {
        for (std::uint32_t i = 0; i < TVA_MEASUREMENT_COUNT; ++i) {
            out_.items[i] = {};
            out_.items[i].unit = kUnits[i];
            out_.items[i].reason = kTvaNoTransitions;
        }
    }
    // A value that is not finite is not a measurement: it is reported as not measurable.
    void set(std::uint32_t index, double value, std::uint32_t samples) {
        if (!std::isfinite(value)) return fail(index, kTvaTooFewSamples);
        out_.items[index] = {value, samples, kUnits[index], 1, kTvaOk};
    }
    void set(std::uint32_t index, const Value& v) {
        v.ok() ? set(index, v.value, v.samples) : fail(index, v.reason);
    }
    void fail(std::uint32_t index, std::int32_t reason) {
        out_.items[index] = {0.0, 0, kUnits[index], 0, reason};
    }
    void failFrom(std::uint32_t first, std::int32_t reason) {
        for (std::uint32_t i = first; i < TVA_MEASUREMENT_COUNT; ++i) fail(i, reason);
    }

private:
    TvaEyeMeasurements& out_;
};

// A time measurement from two others, in UI.
Value difference(const Value& later, const Value& earlier) {
    if (!later.ok()) return later;
    if (!earlier.ok()) return earlier;
    return {later.value - earlier.value, later.samples + earlier.samples};
}

}  // namespace

PointsProblem measureEye(const EyePoints& points, double dataRate, TvaEyeMeasurements& out) {
    out = {};
    EyeGrid grid;
    if (const PointsProblem problem = grid.build(points); problem != PointsProblem::kNone)
        return problem;

    Results results(out);
    out.pointCount = points.count;
    const double ui = 1.0 / dataRate;
    out.unitInterval = ui;

    const auto rough = roughLevels(grid, points.count);
    if (!rough) {
        results.failFrom(0, kTvaLevelsNotApart);
        return PointsProblem::kNone;
    }
    const auto firstCrossing = roughCrossing(grid, rough->first, rough->second);
    if (!firstCrossing) {
        results.failFrom(0, kTvaNoTransitions);
        return PointsProblem::kNone;
    }

    // Each round finds the levels in the eye window and the crossing level at the crossing time
    // found so far, then the mean crossing time places the crossing better for the next.
    double t0 = *firstCrossing;
    std::int32_t reason = kTvaOk;
    std::optional<Levels> levels;
    Value crossing;
    CrossingTimes times;
    for (int round = 0; round < 3; ++round) {
        levels = eyeLevels(grid, t0, rough->first, rough->second, reason);
        if (!levels) break;
        crossing = crossingLevel(grid, t0, *levels);
        if (!crossing.ok()) break;
        times = crossingTimes(grid, t0, crossing.value, *levels);
        if (times.reason != kTvaOk || round == 2) break;
        t0 = wrapUnit(t0 + times.stats.moments.mean());
    }
    if (!levels) {
        results.failFrom(0, reason);
        return PointsProblem::kNone;
    }

    // Levels, noise, amplitude, height, Q.
    const Levels& l = *levels;
    const std::uint32_t levelSamples = l.zeroCount + l.oneCount;
    results.set(kTvaOneLevel, l.one, l.oneCount);
    results.set(kTvaZeroLevel, l.zero, l.zeroCount);
    results.set(kTvaOneNoise, l.oneSigma, l.oneCount);
    results.set(kTvaZeroNoise, l.zeroSigma, l.zeroCount);
    results.set(kTvaEyeAmplitude, l.amplitude(), levelSamples);
    results.set(kTvaEyeHeight, l.clearHigh() - l.clearLow(), levelSamples);
    if (l.zeroSigma + l.oneSigma > 0)
        results.set(kTvaQFactor, l.amplitude() / (l.zeroSigma + l.oneSigma), levelSamples);
    else
        results.fail(kTvaQFactor, kTvaNoNoise);
    out.frame = {t0, l.zero, l.one};
    out.frameValid = 1;

    // The crossing.
    results.set(kTvaCrossingLevel, crossing);
    if (crossing.ok())
        results.set(kTvaCrossingPercent, 100.0 * (crossing.value - l.zero) / l.amplitude(),
                    crossing.samples);
    else
        results.fail(kTvaCrossingPercent, crossing.reason);
    if (!crossing.ok()) {
        results.failFrom(kTvaJitterRms, crossing.reason);
        return PointsProblem::kNone;
    }

    // The edges: each threshold's mean crossing time on the rising and on the falling edges.
    const auto at = [&](double fraction, bool rising) {
        return edgeTime(grid, t0, l.zero + fraction * l.amplitude(), rising, crossing.value, l);
    };
    const auto around = [&](double offset, bool rising) {
        return edgeTime(grid, t0, crossing.value + offset * l.amplitude(), rising,
                        crossing.value, l);
    };
    const auto inSeconds = [&](Value v) {
        v.value *= ui;
        return v;
    };
    results.set(kTvaRiseTime, inSeconds(difference(at(0.9, true), at(0.1, true))));
    results.set(kTvaFallTime, inSeconds(difference(at(0.1, false), at(0.9, false))));
    results.set(kTvaRiseTime2080, inSeconds(difference(at(0.8, true), at(0.2, true))));
    results.set(kTvaFallTime2080, inSeconds(difference(at(0.2, false), at(0.8, false))));

    // Either side of the crossing level: the edges' slopes there, and the rising and falling
    // edges' crossing times (the midpoints of the two sides' times).
    const Value riseBelow = around(-kSlopeOffset, true), riseAbove = around(kSlopeOffset, true);
    const Value fallBelow = around(-kSlopeOffset, false), fallAbove = around(kSlopeOffset, false);
    Value riseSpan = difference(riseAbove, riseBelow);
    Value fallSpan = difference(fallBelow, fallAbove);
    for (Value* spanOf : {&riseSpan, &fallSpan})
        if (spanOf->ok() && spanOf->value <= 0) *spanOf = failed(kTvaNotEnoughEdges);
    const std::int32_t edgesReason = !riseSpan.ok() ? riseSpan.reason : fallSpan.reason;
    if (riseSpan.ok() && fallSpan.ok()) {
        const double riseMid = (riseAbove.value + riseBelow.value) / 2;
        const double fallMid = (fallAbove.value + fallBelow.value) / 2;
        results.set(kTvaDutyCycleDistortion, std::fabs(riseMid - fallMid) * ui,
                    riseSpan.samples + fallSpan.samples);
    } else {
        results.fail(kTvaDutyCycleDistortion, edgesReason);
    }

    // Jitter: the crossing-time histogram's spread, less what the band's own height adds (a
    // point at code y on an edge of slope s sits (y - crossing) / s from its crossing time).
    if (times.reason != kTvaOk || edgesReason != kTvaOk) {
        const std::int32_t why = times.reason != kTvaOk ? times.reason : edgesReason;
        for (std::uint32_t i : {kTvaJitterRms, kTvaJitterPp, kTvaEyeWidth}) results.fail(i, why);
        return PointsProblem::kNone;
    }
    const double span = 2 * kSlopeOffset * l.amplitude();
    const double riseSlope = span / riseSpan.value, fallSlope = span / fallSpan.value;
    const double bandSpread =
        times.offsetSquares * (1 / (riseSlope * riseSlope) + 1 / (fallSlope * fallSlope)) / 2;
    const double variance = std::max(0.0, times.stats.moments.variance() - bandSpread);
    const double rms = std::sqrt(variance);
    const auto crossingSamples = static_cast<std::uint32_t>(times.stats.moments.n);
    results.set(kTvaJitterRms, rms * ui, crossingSamples);
    results.set(kTvaJitterPp, (times.stats.last - times.stats.first) * ui, crossingSamples);
    results.set(kTvaEyeWidth, (1.0 - 6.0 * rms) * ui, crossingSamples);
    return PointsProblem::kNone;
}

}  // namespace tarvex::analysis
