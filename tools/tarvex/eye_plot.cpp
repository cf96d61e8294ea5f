#include "eye_plot.h"

#include <cairo-svg.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include <fmt/format.h>

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

// ---- cairo helpers ----------------------------------------------------------------------------

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

struct Rect {
    double left, top, width, height;
    double right() const { return left + width; }
    double bottom() const { return top + height; }
};

void setColour(cairo_t* cr, const Rgb& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

void setFont(cairo_t* cr, double size, bool bold = false) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

enum class Align { kLeft, kCentre, kRight };

// Text whose baseline starts, centres or ends at (x, y).
void text(cairo_t* cr, double x, double y, const std::string& s, Align align = Align::kLeft) {
    cairo_text_extents_t extents;
    cairo_text_extents(cr, s.c_str(), &extents);
    double at = x - extents.x_bearing;
    if (align == Align::kCentre) at = x - extents.x_bearing - extents.width / 2;
    if (align == Align::kRight) at = x - extents.x_bearing - extents.width;
    cairo_move_to(cr, at, y);
    cairo_show_text(cr, s.c_str());
}

double textHeight(cairo_t* cr) {
    cairo_font_extents_t extents;
    cairo_font_extents(cr, &extents);
    return extents.ascent;
}

// The hits, one pixel per pixel of the plot area, each pixel taking the colour of its cell.
Surface densityImage(const Density& d, int width, int height) {
    Surface image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height),
                  cairo_surface_destroy);
    cairo_surface_flush(image.get());
    auto* data = cairo_image_surface_get_data(image.get());
    const int stride = cairo_image_surface_get_stride(image.get());
    for (int py = 0; py < height; ++py) {
        auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(py) * stride);
        const auto cellRow = static_cast<std::uint32_t>(py * static_cast<std::int64_t>(d.layout.rows) / height);
        for (int px = 0; px < width; ++px) {
            const double ui = kUiStart + (kUiEnd - kUiStart) * (px + 0.5) / width;
            const std::uint32_t hits = d.at(d.columnAt(ui), cellRow);
            // Empty cells stay transparent: the graticule shows through them.
            row[px] = hits == 0 ? 0u : argb(paletteAt(shade(hits, d.maxHits)));
        }
    }
    cairo_surface_mark_dirty(image.get());
    return image;
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
void drawGraticule(cairo_t* cr, const Axes& axes) {
    cairo_set_line_width(cr, 1.0);
    setColour(cr, kGrid);
    const double dashes[] = {3.0, 3.0};
    cairo_set_dash(cr, dashes, 2, 0);
    for (int q = static_cast<int>(std::ceil(kUiStart * kGridLinesPerUi));
         q <= static_cast<int>(std::floor(kUiEnd * kGridLinesPerUi)); ++q) {
        const double x = std::round(axes.x(static_cast<double>(q) / kGridLinesPerUi)) + 0.5;
        cairo_move_to(cr, x, axes.plot.top);
        cairo_line_to(cr, x, axes.plot.bottom());
    }
    for (const double code : axes.yTicks()) {
        const double y = std::round(axes.y(code)) + 0.5;
        cairo_move_to(cr, axes.plot.left, y);
        cairo_line_to(cr, axes.plot.right(), y);
    }
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
}

void drawAxes(cairo_t* cr, const Axes& axes, const EyeData& eye) {
    const Rect& plot = axes.plot;
    cairo_set_line_width(cr, 1.0);
    setColour(cr, kFrame);
    cairo_rectangle(cr, plot.left - 0.5, plot.top - 0.5, plot.width + 1, plot.height + 1);
    cairo_stroke(cr);

    // Ticks and their labels.
    setFont(cr, 12);
    setColour(cr, kDimText);
    const double labelHeight = textHeight(cr);
    for (int h = static_cast<int>(std::ceil(kUiStart * kLabelsPerUi));
         h <= static_cast<int>(std::floor(kUiEnd * kLabelsPerUi)); ++h) {
        const double x = axes.x(static_cast<double>(h) / kLabelsPerUi);
        cairo_move_to(cr, x, plot.bottom());
        cairo_line_to(cr, x, plot.bottom() + 5);
        cairo_stroke(cr);
        text(cr, x, plot.bottom() + 8 + labelHeight,
             fmt::format("{:g}", static_cast<double>(h) / kLabelsPerUi), Align::kCentre);
    }
    for (const double code : axes.yTicks()) {
        const double y = axes.y(code);
        cairo_move_to(cr, plot.left - 5, y);
        cairo_line_to(cr, plot.left, y);
        cairo_stroke(cr);
        text(cr, plot.left - 8, y + labelHeight / 2 - 1, fmt::format("{:g}", code), Align::kRight);
    }

    // Axis titles.
    setFont(cr, 13);
    setColour(cr, kText);
    text(cr, plot.left + plot.width / 2, plot.bottom() + 20 + 2 * labelHeight,
         timeAxisTitle(eye.dataRate), Align::kCentre);
    cairo_save(cr);
    cairo_translate(cr, plot.left - 58, plot.top + plot.height / 2);
    cairo_rotate(cr, -std::numbers::pi / 2);
    text(cr, 0, 0, codeAxisTitle(), Align::kCentre);
    cairo_restore(cr);
}

void drawColourBar(cairo_t* cr, const Rect& plot, const Density& d) {
    const Rect bar{plot.right() + 28, plot.top + 22, 16, plot.height - 22};
    // The palette as a gradient, bottom (1 hit) to top (the most), in small steps.
    cairo_pattern_t* gradient = cairo_pattern_create_linear(0, bar.bottom(), 0, bar.top);
    constexpr int kSteps = 64;
    for (int i = 0; i <= kSteps; ++i) {
        const Rgb c = paletteAt(static_cast<double>(i) / kSteps);
        cairo_pattern_add_color_stop_rgb(gradient, static_cast<double>(i) / kSteps, c.r, c.g, c.b);
    }
    cairo_rectangle(cr, bar.left, bar.top, bar.width, bar.height);
    cairo_set_source(cr, gradient);
    cairo_fill(cr);
    cairo_pattern_destroy(gradient);
    setColour(cr, kFrame);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, bar.left - 0.5, bar.top - 0.5, bar.width + 1, bar.height + 1);
    cairo_stroke(cr);

    setFont(cr, 12);
    setColour(cr, kText);
    text(cr, bar.left + bar.width / 2, plot.top + 10, "hits", Align::kCentre);
    setColour(cr, kDimText);
    const double h = textHeight(cr);
    text(cr, bar.right() + 6, bar.top + h, fmt::format("{}", d.maxHits));
    // The middle of a log scale.
    const auto middle = static_cast<std::uint32_t>(std::lround(std::sqrt(std::max<double>(d.maxHits, 1))));
    if (middle > 1 && middle < d.maxHits)
        text(cr, bar.right() + 6, bar.top + bar.height * (1 - shade(middle, d.maxHits)) + h / 2,
             fmt::format("{}", middle));
    text(cr, bar.right() + 6, bar.bottom(), "1");
}

void drawTitle(cairo_t* cr, const EyeData& eye, double width) {
    setFont(cr, 20, true);
    setColour(cr, kText);
    text(cr, width / 2, 32, eyeTitle(eye.dataRate, eye.sampleRate), Align::kCentre);
    setFont(cr, 13);
    setColour(cr, kDimText);
    std::string subtitle = fmt::format("{} samples from {} packets: {} ok, {} short, {} failed",
                                       eye.stats.sampleCount, eye.packets, eye.stats.okCount,
                                       eye.stats.shortCount, eye.stats.failCount);
    if (eye.mask != nullptr && eye.maskResult != nullptr) {
        subtitle += eye.maskResult->passed
                        ? fmt::format("; mask passed, margin {:.1f} %", eye.maskResult->marginPercent)
                        : fmt::format("; mask FAILED: {} samples inside, margin {:.1f} %",
                                      eye.maskResult->failedSamples, eye.maskResult->marginPercent);
        if (!eye.maskResult->passed) setColour(cr, kInside);
    }
    text(cr, width / 2, 54, subtitle, Align::kCentre);
}

// ---- the mask ---------------------------------------------------------------------------------


// The mask's regions in the eye's frame (x in UI from the crossing, y from the zero level to the
// one level), and their copies a UI to either side, clipped to the plot.
void drawMask(cairo_t* cr, const Axes& axes, const EyeData& eye) {
    const TvaEyeFrame& f = eye.frame;
    const auto code = [&](double y) {
        // Far-away edges (the bars reach 1e6) are kept near the plot, where cairo draws them
        // exactly; the clip does the rest.
        const double span = axes.yHigh - axes.yLow;
        return std::clamp(f.zeroLevel + y * (f.oneLevel - f.zeroLevel), axes.yLow - span, axes.yHigh + span);
    };
    cairo_save(cr);
    cairo_rectangle(cr, axes.plot.left, axes.plot.top, axes.plot.width, axes.plot.height);
    cairo_clip(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_set_line_width(cr, 1.5);
    for (std::uint32_t r = 0; r < eye.mask->mask.regionCount; ++r) {
        const TvaMaskRegion& region = eye.mask->mask.regions[r];
        double left = region.vertices[0].x, right = left;
        for (std::uint32_t v = 0; v < region.vertexCount; ++v) {
            left = std::min(left, region.vertices[v].x);
            right = std::max(right, region.vertices[v].x);
        }
        // A region as wide as the view (the bars) is drawn once, not with its copies' seams.
        const bool spansView = left <= kUiStart && right >= kUiEnd;
        for (int k = -2; k <= 2; ++k) {
            if ((spansView && k != 0) || right + k < kUiStart || left + k > kUiEnd) continue;
            for (std::uint32_t v = 0; v < region.vertexCount; ++v) {
                const double x = axes.x(region.vertices[v].x + k);
                const double y = axes.y(code(region.vertices[v].y));
                v == 0 ? cairo_move_to(cr, x, y) : cairo_line_to(cr, x, y);
            }
            cairo_close_path(cr);
        }
        cairo_set_source_rgba(cr, kMaskFill.r, kMaskFill.g, kMaskFill.b, 0.28);
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, kMaskEdge.r, kMaskEdge.g, kMaskEdge.b, 0.9);
        cairo_stroke(cr);
    }
    cairo_restore(cr);
}

// The points inside the mask, each a small cross, wherever they show between -0.5 and 1.5 UI.
void drawInsideMask(cairo_t* cr, const Axes& axes, const EyeData& eye) {
    if (eye.maskFlags.empty()) return;
    cairo_save(cr);
    cairo_rectangle(cr, axes.plot.left, axes.plot.top, axes.plot.width, axes.plot.height);
    cairo_clip(cr);
    constexpr double kArm = 2.5;
    for (std::size_t i = 0; i < eye.maskFlags.size() && i < eye.x.size(); ++i) {
        if (eye.maskFlags[i] == 0) continue;
        double ui = (eye.x[i] + 0.5) / eye.width - eye.frame.crossingPhase;
        ui -= std::floor(ui);
        for (const double at : {ui - 1, ui, ui + 1}) {
            if (at < kUiStart || at > kUiEnd) continue;
            const double x = axes.x(at), y = axes.y(eye.y[i]);
            cairo_move_to(cr, x - kArm, y - kArm);
            cairo_line_to(cr, x + kArm, y + kArm);
            cairo_move_to(cr, x - kArm, y + kArm);
            cairo_line_to(cr, x + kArm, y - kArm);
        }
    }
    setColour(cr, kInside);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void drawPicture(cairo_t* cr, const EyeData& eye, PictureSize size) {
    setColour(cr, kBackground);
    cairo_paint(cr);

    const Rect plot{84, 72, size.width - 84.0 - 118.0, size.height - 72.0 - 66.0};
    const int plotWidth = static_cast<int>(plot.width);
    const int plotHeight = static_cast<int>(plot.height);
    const Density density =
        buildDensity(eye, static_cast<std::uint32_t>(std::clamp(plotHeight / 2, 16, 400)));

    const Axes axes{plot, density.layout.yLow, density.layout.yHigh};
    setColour(cr, eyeTheme().plot);
    cairo_rectangle(cr, plot.left, plot.top, plot.width, plot.height);
    cairo_fill(cr);
    drawGraticule(cr, axes);

    const Surface image = densityImage(density, plotWidth, plotHeight);
    cairo_set_source_surface(cr, image.get(), plot.left, plot.top);
    cairo_paint(cr);

    if (eye.mask != nullptr && eye.frameValid) {
        drawMask(cr, axes, eye);
        drawInsideMask(cr, axes, eye);
    }

    drawAxes(cr, axes, eye);
    drawColourBar(cr, plot, density);
    drawTitle(cr, eye, size.width);
}

[[noreturn]] void writeFailed(const std::string& path, cairo_status_t status) {
    throw ToolError(fmt::format("could not write {}: {}", path, cairo_status_to_string(status)));
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

// Cairo and fontconfig keep font caches for the life of the process; a picture is drawn once per
// run, so they are let go right after, and leak checkers see a clean exit.
struct FontCachesRelease {
    ~FontCachesRelease() {
        cairo_debug_reset_static_data();
        FcFini();
    }
};

void drawEye(const EyeData& eye, const std::string& path, PictureFormat format, PictureSize size) {
    const FontCachesRelease release;
    if (format == PictureFormat::kPng) {
        Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, size.width, size.height),
                        cairo_surface_destroy);
        {
            Context cr(cairo_create(surface.get()), cairo_destroy);
            drawPicture(cr.get(), eye, size);
        }
        const auto status = cairo_surface_write_to_png(surface.get(), path.c_str());
        if (status != CAIRO_STATUS_SUCCESS) writeFailed(path, status);
        return;
    }
    Surface surface(cairo_svg_surface_create(path.c_str(), size.width, size.height),
                    cairo_surface_destroy);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        writeFailed(path, cairo_surface_status(surface.get()));
    {
        Context cr(cairo_create(surface.get()), cairo_destroy);
        drawPicture(cr.get(), eye, size);
    }
    cairo_surface_finish(surface.get());
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        writeFailed(path, cairo_surface_status(surface.get()));
}

}  // namespace tarvex::cli
