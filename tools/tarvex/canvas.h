// What a picture is drawn with: straight paths, text, a block of pixels and a gradient, on a
// canvas whose units are the picture's pixels, y downwards.  The eye's layout (eye_plot.cpp) is
// written once against it; the canvas writes it out as SVG (canvas_svg.cpp, the same text on
// every system) or as PNG (cairo on Linux, GDI+ on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "eye_style.h"

namespace tarvex::cli {

struct Point {
    double x, y;
};

struct Rect {
    double left, top, width, height;
    double right() const { return left + width; }
    double bottom() const { return top + height; }
};

// Figures of straight segments, each open (lines) or closed (a polygon, or a rectangle's edge).
class Path {
public:
    struct Figure {
        std::vector<Point> points;
        bool closed = false;
    };

    Path& moveTo(double x, double y) {
        figures_.push_back({{{x, y}}, false});
        return *this;
    }
    // A line from the last point (from (x, y) itself when the path is empty).
    Path& lineTo(double x, double y) {
        if (figures_.empty()) return moveTo(x, y);
        figures_.back().points.push_back({x, y});
        return *this;
    }
    Path& close() {
        if (!figures_.empty()) figures_.back().closed = true;
        return *this;
    }
    Path& rectangle(const Rect& r) {
        return moveTo(r.left, r.top).lineTo(r.right(), r.top).lineTo(r.right(), r.bottom())
            .lineTo(r.left, r.bottom()).close();
    }

    const std::vector<Figure>& figures() const { return figures_; }

private:
    std::vector<Figure> figures_;
};

struct Pen {
    Pen(const Rgb& colour, double width = 1.0, double alpha = 1.0, std::vector<double> dashes = {})
        : colour(colour), width(width), alpha(alpha), dashes(std::move(dashes)) {}

    Rgb colour;
    double width;
    double alpha;
    std::vector<double> dashes;  // on, off, ... lengths; empty: a solid line
};

struct Font {
    double size;
    bool bold = false;
};

// Which point of the text its position names, along the baseline.
enum class Align { kLeft, kCentre, kRight };

class Canvas {
public:
    virtual ~Canvas() = default;

    // Closed figures filled by the nonzero winding rule.
    virtual void fill(const Path& path, const Rgb& colour, double alpha = 1.0) = 0;
    virtual void stroke(const Path& path, const Pen& pen) = 0;
    // `width` x `height` pixels, row by row from the top, as 0xAARRGGBB (alpha 0: nothing
    // drawn there); one pixel per unit, its top-left corner at (left, top).
    virtual void pixels(double left, double top, int width, int height,
                        std::span<const std::uint32_t> argb) = 0;
    // `rect` filled with `colours` spread evenly from its bottom edge to its top edge.
    virtual void verticalGradient(const Rect& rect, std::span<const Rgb> colours) = 0;
    // `text` with the point `align` names at (x, y) on its baseline; turned by `degrees`
    // (counter-clockwise as seen) about that point.
    virtual void text(double x, double y, const std::string& text, const Font& font,
                      const Rgb& colour, Align align = Align::kLeft, double degrees = 0) = 0;
    // How far the font's capitals reach above the baseline.
    virtual double ascent(const Font& font) = 0;
    // Until unclip(), only what falls inside `rect` is drawn.
    virtual void clip(const Rect& rect) = 0;
    virtual void unclip() = 0;
};

using Drawing = std::function<void(Canvas&)>;

// Draws a `width` x `height` picture and writes it to `path` as SVG; throws a ToolError when
// the file cannot be written.
void writeSvg(const std::string& path, int width, int height, const Drawing& draw);

// The same as PNG: drawn by cairo on Linux (canvas_cairo.cpp), by GDI+ on Windows
// (canvas_gdiplus.cpp).
void writePng(const std::string& path, int width, int height, const Drawing& draw);

}  // namespace tarvex::cli
