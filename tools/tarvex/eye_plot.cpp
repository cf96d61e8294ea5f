#include "eye_plot.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <vector>

#include <fmt/format.h>

#include "canvas.h"
#include "errors.h"
#include "eye_style.h"
#include "values.h"

namespace tarvex::cli {

namespace {

// ---- the density of hits -------------------------------------------------------------------

// Hits per cell over one bit period, counted by the analysis library in the columns it suggests
// for the sampler's phases.  Row 0 is the top.
struct Density {
    TvaHistogramLayout layout{};
    double crossing = 0;  // phase of the crossing, shown at 0 and 1 UI
    std::vector<std::uint32_t> hits;
    std::uint32_t maxHits = 0;

    std::uint32_t at(std::uint32_t column, std::uint32_t row) const {
        return hits[static_cast<std::size_t>(row) * layout.columns + column];
    }
    // The column shown at `ui` unit intervals from a crossing (any number: the eye repeats).
    std::uint32_t columnAt(double ui) const {
        double phase = crossing + ui - layout.originPhase;
        phase -= std::floor(phase);
        return std::min(layout.columns - 1, static_cast<std::uint32_t>(phase * layout.columns));
    }
};

Density buildDensity(const EyeData& eye, std::uint32_t rows) {
    Density d;
    d.crossing = eye.frameValid ? eye.frame.crossingPhase : 0.0;
    const auto count = static_cast<std::uint32_t>(eye.x.size());
    double low = eye.minimum;
    double high = eye.maximum;
    // The mask's edges near the eye show too (the bars reach far beyond: only their inner edges).
    if (eye.mask != nullptr && eye.frameValid) {
        const TvaEyeFrame& f = eye.frame;
        for (std::uint32_t r = 0; r < eye.mask->mask.regionCount; ++r) {
            const TvaMaskRegion& region = eye.mask->mask.regions[r];
            for (std::uint32_t v = 0; v < region.vertexCount; ++v) {
                const double y = region.vertices[v].y;
                if (y < -0.5 || y > 1.5) continue;
                const double code = f.zeroLevel + y * (f.oneLevel - f.zeroLevel);
                low = std::min(low, code);
                high = std::max(high, code);
            }
        }
    }
    const CodeRange range = codeRange(low, high);
    d.layout.rows = rows;
    d.layout.yLow = range.low;
    d.layout.yHigh = range.high;
    d.layout.columns = 1;
    if (count == 0 || eye.width == 0 ||
        tvaSuggestLayout(eye.x.data(), count, eye.width, eye.dataRate, eye.sampleRate, d.crossing,
                         &d.layout) != kTvaOk) {
        d.hits.assign(rows, 0);
        return d;
    }
    d.hits.assign(static_cast<std::size_t>(d.layout.columns) * rows, 0);
    tvaEyeHistogram(eye.x.data(), eye.y.data(), count, eye.width, &d.layout, d.hits.data(),
                    static_cast<std::uint32_t>(d.hits.size()));
    for (const std::uint32_t h : d.hits) d.maxHits = std::max(d.maxHits, h);
    return d;
}

// ---- colours ------------------------------------------------------------------------------------

std::uint32_t argb(const Rgb& c) {
    const auto byte = [](double v) {
        return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
    };
    return 0xFF000000u | byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

const Rgb& kBackground = eyeTheme().background;
const Rgb& kText = eyeTheme().text;
const Rgb& kDimText = eyeTheme().dimText;
const Rgb& kGrid = eyeTheme().grid;
const Rgb& kFrame = eyeTheme().frame;
const Rgb& kMaskFill = eyeTheme().maskFill;
const Rgb& kMaskEdge = eyeTheme().maskEdge;
const Rgb& kInside = eyeTheme().inside;

// ---- drawing ------------------------------------------------------------------------------------

const Font kLabelFont{12};
const Font kAxisTitleFont{13};
const Font kTitleFont{20, true};

// The hits, one pixel per pixel of the plot area, each pixel taking the colour of its cell.
std::vector<std::uint32_t> densityPixels(const Density& d, int width, int height) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    for (int py = 0; py < height; ++py) {
        const auto cellRow = static_cast<std::uint32_t>(py * static_cast<std::int64_t>(d.layout.rows) / height);
        for (int px = 0; px < width; ++px) {
            const double ui = kUiStart + (kUiEnd - kUiStart) * (px + 0.5) / width;
            const std::uint32_t hits = d.at(d.columnAt(ui), cellRow);
            // Empty cells stay transparent: the graticule shows through them.
            pixels[static_cast<std::size_t>(py) * width + px] =
                hits == 0 ? 0u : argb(paletteAt(shade(hits, d.maxHits)));
        }
    }
    return pixels;
}

struct Axes {
    Rect plot;
    double yLow;
    double yHigh;
    double x(double ui) const { return plot.left + (ui - kUiStart) / (kUiEnd - kUiStart) * plot.width; }
    double y(double code) const { return plot.top + (yHigh - code) / (yHigh - yLow) * plot.height; }
    std::vector<double> yTicks() const { return codeTicks({yLow, yHigh}); }
};

// The graticule, under the samples as on a scope's screen: every quarter of a unit interval and
// the round sample codes.
void drawGraticule(Canvas& canvas, const Axes& axes) {
    Path lines;
    for (int q = static_cast<int>(std::ceil(kUiStart * kGridLinesPerUi));
         q <= static_cast<int>(std::floor(kUiEnd * kGridLinesPerUi)); ++q) {
        const double x = std::round(axes.x(static_cast<double>(q) / kGridLinesPerUi)) + 0.5;
        lines.moveTo(x, axes.plot.top).lineTo(x, axes.plot.bottom());
    }
    for (const double code : axes.yTicks()) {
        const double y = std::round(axes.y(code)) + 0.5;
        lines.moveTo(axes.plot.left, y).lineTo(axes.plot.right(), y);
    }
    canvas.stroke(lines, {kGrid, 1.0, 1.0, {3.0, 3.0}});
}

void drawAxes(Canvas& canvas, const Axes& axes, const EyeData& eye) {
    const Rect& plot = axes.plot;
    canvas.stroke(Path().rectangle({plot.left - 0.5, plot.top - 0.5, plot.width + 1, plot.height + 1}),
                  {kFrame});

    // Ticks and their labels.
    const double labelHeight = canvas.ascent(kLabelFont);
    Path ticks;
    for (int h = static_cast<int>(std::ceil(kUiStart * kLabelsPerUi));
         h <= static_cast<int>(std::floor(kUiEnd * kLabelsPerUi)); ++h) {
        const double x = axes.x(static_cast<double>(h) / kLabelsPerUi);
        ticks.moveTo(x, plot.bottom()).lineTo(x, plot.bottom() + 5);
        canvas.text(x, plot.bottom() + 8 + labelHeight,
                    fmt::format("{:g}", static_cast<double>(h) / kLabelsPerUi), kLabelFont,
                    kDimText, Align::kCentre);
    }
    for (const double code : axes.yTicks()) {
        const double y = axes.y(code);
        ticks.moveTo(plot.left - 5, y).lineTo(plot.left, y);
        canvas.text(plot.left - 8, y + labelHeight / 2 - 1, fmt::format("{:g}", code), kLabelFont,
                    kDimText, Align::kRight);
    }
    canvas.stroke(ticks, {kDimText});

    // Axis titles.
    canvas.text(plot.left + plot.width / 2, plot.bottom() + 20 + 2 * labelHeight,
                timeAxisTitle(eye.dataRate), kAxisTitleFont, kText, Align::kCentre);
    canvas.text(plot.left - 58, plot.top + plot.height / 2, codeAxisTitle(), kAxisTitleFont, kText,
                Align::kCentre, 90);
}

void drawColourBar(Canvas& canvas, const Rect& plot, const Density& d) {
    const Rect bar{plot.right() + 28, plot.top + 22, 16, plot.height - 22};
    // The palette as a gradient, bottom (1 hit) to top (the most), in small steps.
    constexpr int kSteps = 64;
    std::array<Rgb, kSteps + 1> colours;
    for (int i = 0; i <= kSteps; ++i) colours[i] = paletteAt(static_cast<double>(i) / kSteps);
    canvas.verticalGradient(bar, colours);
    canvas.stroke(Path().rectangle({bar.left - 0.5, bar.top - 0.5, bar.width + 1, bar.height + 1}),
                  {kFrame});

    canvas.text(bar.left + bar.width / 2, plot.top + 10, "hits", kLabelFont, kText, Align::kCentre);
    const double h = canvas.ascent(kLabelFont);
    canvas.text(bar.right() + 6, bar.top + h, fmt::format("{}", d.maxHits), kLabelFont, kDimText);
    // The middle of a log scale.
    const auto middle = static_cast<std::uint32_t>(std::lround(std::sqrt(std::max<double>(d.maxHits, 1))));
    if (middle > 1 && middle < d.maxHits)
        canvas.text(bar.right() + 6, bar.top + bar.height * (1 - shade(middle, d.maxHits)) + h / 2,
                    fmt::format("{}", middle), kLabelFont, kDimText);
    canvas.text(bar.right() + 6, bar.bottom(), "1", kLabelFont, kDimText);
}

void drawTitle(Canvas& canvas, const EyeData& eye, double width) {
    canvas.text(width / 2, 32, eyeTitle(eye.dataRate, eye.sampleRate), kTitleFont, kText,
                Align::kCentre);
    std::string subtitle = fmt::format("{} samples from {} packets: {} ok, {} short, {} failed",
                                       eye.stats.sampleCount, eye.packets, eye.stats.okCount,
                                       eye.stats.shortCount, eye.stats.failCount);
    Rgb colour = kDimText;
    if (eye.mask != nullptr && eye.maskResult != nullptr) {
        subtitle += eye.maskResult->passed
                        ? fmt::format("; mask passed, margin {:.1f} %", eye.maskResult->marginPercent)
                        : fmt::format("; mask FAILED: {} samples inside, margin {:.1f} %",
                                      eye.maskResult->failedSamples, eye.maskResult->marginPercent);
        if (!eye.maskResult->passed) colour = kInside;
    }
    canvas.text(width / 2, 54, subtitle, kAxisTitleFont, colour, Align::kCentre);
}

// ---- the mask ---------------------------------------------------------------------------------

// The mask's regions in the eye's frame (x in UI from the crossing, y from the zero level to the
// one level), and their copies a UI to either side, clipped to the plot.
void drawMask(Canvas& canvas, const Axes& axes, const EyeData& eye) {
    const TvaEyeFrame& f = eye.frame;
    const auto code = [&](double y) {
        // Far-away edges (the bars reach 1e6) are kept near the plot, where they are drawn
        // exactly; the clip does the rest.
        const double span = axes.yHigh - axes.yLow;
        return std::clamp(f.zeroLevel + y * (f.oneLevel - f.zeroLevel), axes.yLow - span, axes.yHigh + span);
    };
    canvas.clip(axes.plot);
    for (std::uint32_t r = 0; r < eye.mask->mask.regionCount; ++r) {
        const TvaMaskRegion& region = eye.mask->mask.regions[r];
        double left = region.vertices[0].x, right = left;
        for (std::uint32_t v = 0; v < region.vertexCount; ++v) {
            left = std::min(left, region.vertices[v].x);
            right = std::max(right, region.vertices[v].x);
        }
        // A region as wide as the view (the bars) is drawn once, not with its copies' seams.
        const bool spansView = left <= kUiStart && right >= kUiEnd;
        Path outline;
        for (int k = -2; k <= 2; ++k) {
            if ((spansView && k != 0) || right + k < kUiStart || left + k > kUiEnd) continue;
            for (std::uint32_t v = 0; v < region.vertexCount; ++v) {
                const double x = axes.x(region.vertices[v].x + k);
                const double y = axes.y(code(region.vertices[v].y));
                v == 0 ? outline.moveTo(x, y) : outline.lineTo(x, y);
            }
            outline.close();
        }
        canvas.fill(outline, kMaskFill, 0.28);
        canvas.stroke(outline, {kMaskEdge, 1.5, 0.9});
    }
    canvas.unclip();
}

// The points inside the mask, each a small cross, wherever they show between -0.5 and 1.5 UI.
void drawInsideMask(Canvas& canvas, const Axes& axes, const EyeData& eye) {
    if (eye.maskFlags.empty()) return;
    constexpr double kArm = 2.5;
    Path crosses;
    for (std::size_t i = 0; i < eye.maskFlags.size() && i < eye.x.size(); ++i) {
        if (eye.maskFlags[i] == 0) continue;
        double ui = (eye.x[i] + 0.5) / eye.width - eye.frame.crossingPhase;
        ui -= std::floor(ui);
        for (const double at : {ui - 1, ui, ui + 1}) {
            if (at < kUiStart || at > kUiEnd) continue;
            const double x = axes.x(at), y = axes.y(eye.y[i]);
            crosses.moveTo(x - kArm, y - kArm).lineTo(x + kArm, y + kArm);
            crosses.moveTo(x - kArm, y + kArm).lineTo(x + kArm, y - kArm);
        }
    }
    canvas.clip(axes.plot);
    canvas.stroke(crosses, {kInside, 1.2});
    canvas.unclip();
}

void drawPicture(Canvas& canvas, const EyeData& eye, PictureSize size) {
    canvas.fill(Path().rectangle({0, 0, static_cast<double>(size.width),
                                  static_cast<double>(size.height)}),
                kBackground);

    const Rect plot{84, 72, size.width - 84.0 - 118.0, size.height - 72.0 - 66.0};
    const int plotWidth = static_cast<int>(plot.width);
    const int plotHeight = static_cast<int>(plot.height);
    const Density density =
        buildDensity(eye, static_cast<std::uint32_t>(std::clamp(plotHeight / 2, 16, 400)));

    const Axes axes{plot, density.layout.yLow, density.layout.yHigh};
    canvas.fill(Path().rectangle(plot), eyeTheme().plot);
    drawGraticule(canvas, axes);
    canvas.pixels(plot.left, plot.top, plotWidth, plotHeight,
                  densityPixels(density, plotWidth, plotHeight));

    if (eye.mask != nullptr && eye.frameValid) {
        drawMask(canvas, axes, eye);
        drawInsideMask(canvas, axes, eye);
    }

    drawAxes(canvas, axes, eye);
    drawColourBar(canvas, plot, density);
    drawTitle(canvas, eye, size.width);
}

}  // namespace

PictureFormat pictureFormatOf(const std::string& path) {
    const auto dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "png") return PictureFormat::kPng;
    if (extension == "svg") return PictureFormat::kSvg;
    throw UsageError(fmt::format("the picture's file name must end in .png or .svg: {}", path));
}

void drawEye(const EyeData& eye, const std::string& path, PictureFormat format, PictureSize size) {
    const Drawing draw = [&](Canvas& canvas) { drawPicture(canvas, eye, size); };
    if (format == PictureFormat::kPng) writePng(path, size.width, size.height, draw);
    else writeSvg(path, size.width, size.height, draw);
}

}  // namespace tarvex::cli
