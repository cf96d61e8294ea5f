// PNG pictures, drawn by cairo (its text through fontconfig and the DejaVu fonts).
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include <fmt/format.h>

#include "canvas.h"
#include "errors.h"

namespace tarvex::cli {

namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

class CairoCanvas : public Canvas {
public:
    explicit CairoCanvas(cairo_t* cr) : cr_(cr) {}

    void fill(const Path& path, const Rgb& colour, double alpha) override {
        trace(path);
        cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
        cairo_set_source_rgba(cr_, colour.r, colour.g, colour.b, alpha);
        cairo_fill(cr_);
    }

    void stroke(const Path& path, const Pen& pen) override {
        trace(path);
        cairo_set_source_rgba(cr_, pen.colour.r, pen.colour.g, pen.colour.b, pen.alpha);
        cairo_set_line_width(cr_, pen.width);
        cairo_set_dash(cr_, pen.dashes.data(), static_cast<int>(pen.dashes.size()), 0);
        cairo_stroke(cr_);
        cairo_set_dash(cr_, nullptr, 0, 0);
    }

    void pixels(double left, double top, int width, int height,
                std::span<const std::uint32_t> argb) override {
        Surface image(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height),
                      cairo_surface_destroy);
        cairo_surface_flush(image.get());
        auto* data = cairo_image_surface_get_data(image.get());
        const int stride = cairo_image_surface_get_stride(image.get());
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
            for (int x = 0; x < width; ++x)
                row[x] = premultiplied(argb[static_cast<std::size_t>(y) * width + x]);
        }
        cairo_surface_mark_dirty(image.get());
        cairo_set_source_surface(cr_, image.get(), left, top);
        cairo_paint(cr_);
    }

    void verticalGradient(const Rect& rect, std::span<const Rgb> colours) override {
        cairo_pattern_t* gradient = cairo_pattern_create_linear(0, rect.bottom(), 0, rect.top);
        const double last = colours.size() > 1 ? static_cast<double>(colours.size() - 1) : 1.0;
        for (std::size_t i = 0; i < colours.size(); ++i)
            cairo_pattern_add_color_stop_rgb(gradient, static_cast<double>(i) / last,
                                             colours[i].r, colours[i].g, colours[i].b);
        cairo_rectangle(cr_, rect.left, rect.top, rect.width, rect.height);
        cairo_set_source(cr_, gradient);
        cairo_fill(cr_);
        cairo_pattern_destroy(gradient);
    }

    void text(double x, double y, const std::string& s, const Font& font, const Rgb& colour,
              Align align, double degrees) override {
        setFont(font);
        cairo_set_source_rgb(cr_, colour.r, colour.g, colour.b);
        cairo_save(cr_);
        cairo_translate(cr_, x, y);
        cairo_rotate(cr_, -degrees * std::numbers::pi / 180);
        cairo_text_extents_t extents;
        cairo_text_extents(cr_, s.c_str(), &extents);
        double at = -extents.x_bearing;
        if (align == Align::kCentre) at -= extents.width / 2;
        if (align == Align::kRight) at -= extents.width;
        cairo_move_to(cr_, at, 0);
        cairo_show_text(cr_, s.c_str());
        cairo_restore(cr_);
    }

    double ascent(const Font& font) override {
        setFont(font);
        cairo_font_extents_t extents;
        cairo_font_extents(cr_, &extents);
        return extents.ascent;
    }

    void clip(const Rect& rect) override {
        cairo_save(cr_);
        cairo_rectangle(cr_, rect.left, rect.top, rect.width, rect.height);
        cairo_clip(cr_);
    }

    void unclip() override { cairo_restore(cr_); }

private:
    void trace(const Path& path) {
        cairo_new_path(cr_);
        for (const Path::Figure& figure : path.figures()) {
            for (std::size_t i = 0; i < figure.points.size(); ++i) {
                const Point& p = figure.points[i];
                i == 0 ? cairo_move_to(cr_, p.x, p.y) : cairo_line_to(cr_, p.x, p.y);
            }
            if (figure.closed) cairo_close_path(cr_);
        }
    }

    void setFont(const Font& font) {
        cairo_select_font_face(cr_, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                               font.bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr_, font.size);
    }

    // Cairo's images hold colours multiplied by their alpha.
    static std::uint32_t premultiplied(std::uint32_t argb) {
        const std::uint32_t alpha = argb >> 24;
        if (alpha == 0xFF) return argb;
        const auto channel = [alpha](std::uint32_t c) { return (c * alpha + 127) / 255; };
        return alpha << 24 | channel(argb >> 16 & 0xFF) << 16 | channel(argb >> 8 & 0xFF) << 8 |
               channel(argb & 0xFF);
    }

    cairo_t* cr_;
};

// Cairo and fontconfig keep font caches for the life of the process; a picture is drawn once per
// run, so they are let go right after, and leak checkers see a clean exit.
struct FontCachesRelease {
    ~FontCachesRelease() {
        cairo_debug_reset_static_data();
        FcFini();
    }
};

}  // namespace

void writePng(const std::string& path, int width, int height, const Drawing& draw) {
    const FontCachesRelease release;
    Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height),
                    cairo_surface_destroy);
    {
        Context cr(cairo_create(surface.get()), cairo_destroy);
        CairoCanvas canvas(cr.get());
        draw(canvas);
    }
    const auto status = cairo_surface_write_to_png(surface.get(), path.c_str());
    if (status != CAIRO_STATUS_SUCCESS)
        throw ToolError(fmt::format("could not write {}: {}", path, cairo_status_to_string(status)));
}

}  // namespace tarvex::cli
