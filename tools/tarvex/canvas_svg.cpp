// SVG pictures, written as text: paths and text elements, and the block of pixels as a PNG inside
// the file (encoded by stb_image_write).  Nothing here depends on the system, so the picture is
// the same file on Linux and Windows.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "canvas.h"
#include "errors.h"

namespace tarvex::cli {

namespace {

// The picture names DejaVu Sans (the font of the PNG pictures) and, where a viewer lacks it,
// Verdana, whose letters are as wide.
constexpr const char* kFontFamily = "DejaVu Sans, Verdana, sans-serif";
// DejaVu Sans's ascent, in ems.
constexpr double kAscent = 0.928;

std::string colourText(const Rgb& c) {
    const auto byte = [](double v) { return static_cast<int>(std::clamp(v, 0.0, 1.0) * 255 + 0.5); };
    return fmt::format("#{:02x}{:02x}{:02x}", byte(c.r), byte(c.g), byte(c.b));
}

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string base64(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (n > 1) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (n > 2) group |= bytes[i + 2];
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kDigits[group >> (18 - 6 * k) & 0x3F] : '=';
    }
    return out;
}

std::vector<std::uint8_t> pngOf(int width, int height, std::span<const std::uint32_t> argb) {
    std::vector<std::uint8_t> rgba;
    rgba.reserve(argb.size() * 4);
    for (const std::uint32_t p : argb) {
        rgba.push_back(static_cast<std::uint8_t>(p >> 16));
        rgba.push_back(static_cast<std::uint8_t>(p >> 8));
        rgba.push_back(static_cast<std::uint8_t>(p));
        rgba.push_back(static_cast<std::uint8_t>(p >> 24));
    }
    std::vector<std::uint8_t> png;
    const auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<std::uint8_t>*>(context);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + size);
    };
    if (stbi_write_png_to_func(append, &png, width, height, 4, rgba.data(), width * 4) == 0)
        throw ToolError("could not encode the picture's pixels as PNG");
    return png;
}

class SvgCanvas : public Canvas {
public:
    void fill(const Path& path, const Rgb& colour, double alpha) override {
        body_ += fmt::format(R"(<path d="{}" fill="{}"{}/>)", pathData(path), colourText(colour),
                             opacity("fill-opacity", alpha));
        body_ += '\n';
    }

    void stroke(const Path& path, const Pen& pen) override {
        std::string dashes;
        if (!pen.dashes.empty())
            dashes = fmt::format(R"( stroke-dasharray="{:g}")", fmt::join(pen.dashes, " "));
        body_ += fmt::format(R"(<path d="{}" fill="none" stroke="{}" stroke-width="{:g}"{}{}/>)",
                             pathData(path), colourText(pen.colour), pen.width,
                             opacity("stroke-opacity", pen.alpha), dashes);
        body_ += '\n';
    }

    void pixels(double left, double top, int width, int height,
                std::span<const std::uint32_t> argb) override {
        body_ += fmt::format(
            R"(<image x="{:g}" y="{:g}" width="{}" height="{}" preserveAspectRatio="none" )"
            // Cells stay sharp-edged when the picture is shown larger, as in the PNG.
            R"(style="image-rendering:pixelated" )"
            R"(xlink:href="data:image/png;base64,{}"/>)",
            left, top, width, height, base64(pngOf(width, height, argb)));
        body_ += '\n';
    }

    void verticalGradient(const Rect& rect, std::span<const Rgb> colours) override {
        const std::string id = fmt::format("g{}", ++ids_);
        defs_ += fmt::format(R"(<linearGradient id="{}" x1="0" y1="1" x2="0" y2="0">)", id);
        const double last = colours.size() > 1 ? static_cast<double>(colours.size() - 1) : 1.0;
        for (std::size_t i = 0; i < colours.size(); ++i)
            defs_ += fmt::format(R"(<stop offset="{:g}" stop-color="{}"/>)",
                                 static_cast<double>(i) / last, colourText(colours[i]));
        defs_ += "</linearGradient>\n";
        body_ += fmt::format(R"~(<rect x="{:g}" y="{:g}" width="{:g}" height="{:g}" fill="url(#{})"/>)~",
                             rect.left, rect.top, rect.width, rect.height, id);
        body_ += '\n';
    }

    void text(double x, double y, const std::string& s, const Font& font, const Rgb& colour,
              Align align, double degrees) override {
        const char* anchor = align == Align::kCentre ? "middle"
                             : align == Align::kRight ? "end"
                                                      : "start";
        std::string turn;
        if (degrees != 0) turn = fmt::format(R"~( transform="rotate({:g} {:g} {:g})")~", -degrees, x, y);
        body_ += fmt::format(
            R"(<text x="{:g}" y="{:g}" font-size="{:g}"{} text-anchor="{}" fill="{}"{}>{}</text>)",
            x, y, font.size, font.bold ? R"( font-weight="bold")" : "", anchor, colourText(colour),
            turn, escaped(s));
        body_ += '\n';
    }

    double ascent(const Font& font) override { return kAscent * font.size; }

    void clip(const Rect& rect) override {
        const std::string id = fmt::format("c{}", ++ids_);
        defs_ += fmt::format(
            R"(<clipPath id="{}"><rect x="{:g}" y="{:g}" width="{:g}" height="{:g}"/></clipPath>)",
            id, rect.left, rect.top, rect.width, rect.height);
        defs_ += '\n';
        body_ += fmt::format(R"~(<g clip-path="url(#{})">)~", id);
        body_ += '\n';
        ++openGroups_;
    }

    void unclip() override {
        if (openGroups_ == 0) return;
        body_ += "</g>\n";
        --openGroups_;
    }

    std::string document(int width, int height) {
        while (openGroups_ > 0) unclip();
        // Sized in points, as cairo's SVG pictures are; one unit is one pixel of the PNG.
        return fmt::format(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            R"(<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" )"
            R"(width="{0}pt" height="{1}pt" viewBox="0 0 {0} {1}" font-family="{2}">)"
            "\n<defs>\n{3}</defs>\n{4}</svg>\n",
            width, height, kFontFamily, defs_, body_);
    }

private:
    static std::string pathData(const Path& path) {
        std::string d;
        for (const Path::Figure& figure : path.figures()) {
            for (std::size_t i = 0; i < figure.points.size(); ++i)
                d += fmt::format("{}{:g} {:g}", i == 0 ? (d.empty() ? "M" : " M") : " L",
                                 figure.points[i].x, figure.points[i].y);
            if (figure.closed) d += " Z";
        }
        return d;
    }

    static std::string opacity(const char* attribute, double alpha) {
        return alpha >= 1.0 ? std::string() : fmt::format(R"( {}="{:g}")", attribute, alpha);
    }

    std::string defs_;
    std::string body_;
    int ids_ = 0;
    int openGroups_ = 0;
};

}  // namespace

void writeSvg(const std::string& path, int width, int height, const Drawing& draw) {
    SvgCanvas canvas;
    draw(canvas);
    const std::string document = canvas.document(width, height);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        throw ToolError(fmt::format("could not write {}: {}", path, std::strerror(errno)));
    const bool written = std::fwrite(document.data(), 1, document.size(), file) == document.size();
    const int writeError = errno;
    if (std::fclose(file) != 0 || !written)
        throw ToolError(fmt::format("could not write {}: {}", path,
                                    std::strerror(written ? errno : writeError)));
}

}  // namespace tarvex::cli
