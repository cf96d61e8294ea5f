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

// Hits per cell over one bit period, which starts at the data crossing: column 0 holds the
// positions just after the crossing.  Row 0 is the top.
struct Density {
    int columns = 1;
    int rows = 1;
    double yLow = 0;   // sample code at the bottom edge
    double yHigh = 1;  // sample code at the top edge
    std::vector<std::uint32_t> hits;
    std::uint32_t maxHits = 0;

    std::uint32_t at(int column, int row) const {
        return hits[static_cast<std::size_t>(row) * columns + column];
    }
    // The column shown at `ui` unit intervals from a crossing (any number: the eye repeats).
    int columnAt(double ui) const {
        return std::min(columns - 1, static_cast<int>((ui - std::floor(ui)) * columns));
    }
};

constexpr int kMaxBinsPerUi = 200;

// Columns per bit period.  An equivalent-time sampler whose step is a fraction p/q of the bit
// visits q evenly spread positions, over and over: one column per position draws the eye without
// gaps or doubled columns.  Other steps spread the samples over the whole bit.
int binsPerUi(const EyeData& eye) {
    const double samples = std::max<double>(1.0, static_cast<double>(eye.x.size()));
    for (int q = 1; q <= kMaxBinsPerUi; ++q) {
        const double p = std::round(eye.foldStep * q);
        // The positions drift off the q-point pattern by this much over the whole capture.
        if (std::fabs(eye.foldStep - p / q) * samples < 0.1 / q) return q;
    }
    std::vector<bool> seen(static_cast<std::size_t>(eye.width) + 1, false);
    int distinct = 0;
    for (const auto x : eye.x) {
        const std::size_t at = std::min<std::size_t>(x, eye.width);
        if (!seen[at]) {
            seen[at] = true;
            ++distinct;
        }
    }
    return std::clamp(distinct, 1, kMaxBinsPerUi);
}

// Where within the bit the data crosses the middle level, from 0 to 1: the circular mean of the
// positions of the samples that lie between the levels (the transitions).
double crossingPosition(const EyeData& eye) {
    if (eye.width == 0 || eye.maximum <= eye.minimum) return 0.0;
    const double span = eye.maximum - eye.minimum;
    const double bandLow = eye.minimum + 0.3 * span;
    const double bandHigh = eye.minimum + 0.7 * span;
    double sumCos = 0;
    double sumSin = 0;
    for (std::size_t i = 0; i < eye.x.size(); ++i) {
        if (eye.y[i] < bandLow || eye.y[i] > bandHigh) continue;
        const double angle = 2 * std::numbers::pi * eye.x[i] / eye.width;
        sumCos += std::cos(angle);
        sumSin += std::sin(angle);
    }
    if (sumCos == 0 && sumSin == 0) return 0.0;
    const double position = std::atan2(sumSin, sumCos) / (2 * std::numbers::pi);
    return position < 0 ? position + 1 : position;
}

Density buildDensity(const EyeData& eye, int rows) {
    Density d;
    d.columns = binsPerUi(eye);
    d.rows = rows;
    d.hits.assign(static_cast<std::size_t>(d.columns) * d.rows, 0);

    const CodeRange range = codeRange(eye.minimum, eye.maximum);
    d.yLow = range.low;
    d.yHigh = range.high;

    // The crossing goes half a column off a column edge, so that the positions an equivalent-time
    // sampler visits land in the middle of their columns (X is truncated: a position can come
    // out a hair below where it belongs, never above).
    const double crossing = (std::floor(crossingPosition(eye) * d.columns) + 0.5) / d.columns;
    for (std::size_t i = 0; i < eye.x.size(); ++i) {
        const double position = eye.width == 0 ? 0.0 : static_cast<double>(eye.x[i]) / eye.width;
        const int column = d.columnAt(position - crossing);
        const int row = std::clamp(
            static_cast<int>((d.yHigh - eye.y[i]) / (d.yHigh - d.yLow) * d.rows), 0, d.rows - 1);
        auto& cell = d.hits[static_cast<std::size_t>(row) * d.columns + column];
        d.maxHits = std::max(d.maxHits, ++cell);
    }
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
        const int cellRow = py * d.rows / height;
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
    text(cr, width / 2, 54,
         fmt::format("{} samples from {} packets: {} ok, {} short, {} failed",
                     eye.stats.sampleCount, eye.packets, eye.stats.okCount, eye.stats.shortCount,
                     eye.stats.failCount),
         Align::kCentre);
}

void drawPicture(cairo_t* cr, const EyeData& eye, PictureSize size) {
    setColour(cr, kBackground);
    cairo_paint(cr);

    const Rect plot{84, 72, size.width - 84.0 - 118.0, size.height - 72.0 - 66.0};
    const int plotWidth = static_cast<int>(plot.width);
    const int plotHeight = static_cast<int>(plot.height);
    const Density density = buildDensity(eye, std::clamp(plotHeight / 2, 16, 400));

    const Axes axes{plot, density.yLow, density.yHigh};
    setColour(cr, eyeTheme().plot);
    cairo_rectangle(cr, plot.left, plot.top, plot.width, plot.height);
    cairo_fill(cr);
    drawGraticule(cr, axes);

    const Surface image = densityImage(density, plotWidth, plotHeight);
    cairo_set_source_surface(cr, image.get(), plot.left, plot.top);
    cairo_paint(cr);

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
