// PNG pictures on Windows, drawn by GDI+, the drawing component every Windows has (cairo, which
// draws them on Linux, is not built for Windows).  Units, pixel centres and the text's baseline
// are set up as cairo has them, so the picture is laid out the same.
#define NOMINMAX
#include <windows.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <fmt/format.h>

#include "canvas.h"
#include "errors.h"

namespace tarvex::cli {

namespace {

namespace gp = Gdiplus;

std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

gp::Color colourOf(const Rgb& c, double alpha = 1.0) {
    const auto byte = [](double v) {
        return static_cast<BYTE>(std::clamp(v, 0.0, 1.0) * 255 + 0.5);
    };
    return gp::Color(byte(alpha), byte(c.r), byte(c.g), byte(c.b));
}

// GDI+ is started once for the picture and shut down after it.
class GdiplusSession {
public:
    GdiplusSession() {
        gp::GdiplusStartupInput input;
        if (gp::GdiplusStartup(&token_, &input, nullptr) != gp::Ok)
            throw ToolError("could not start GDI+, which draws the PNG pictures");
    }
    ~GdiplusSession() { gp::GdiplusShutdown(token_); }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

private:
    ULONG_PTR token_ = 0;
};

// The font of the Linux pictures where Windows has it, else Verdana (its letters are as wide).
std::unique_ptr<gp::FontFamily> pictureFontFamily() {
    for (const wchar_t* name : {L"DejaVu Sans", L"Verdana"}) {
        auto family = std::make_unique<gp::FontFamily>(name);
        if (family->GetLastStatus() == gp::Ok) return family;
    }
    return std::unique_ptr<gp::FontFamily>(gp::FontFamily::GenericSansSerif()->Clone());
}

class GdiplusCanvas : public Canvas {
public:
    explicit GdiplusCanvas(gp::Graphics& g) : g_(g), family_(pictureFontFamily()) {
        g_.SetSmoothingMode(gp::SmoothingModeAntiAlias);
        g_.SetTextRenderingHint(gp::TextRenderingHintAntiAlias);
        // Pixel (x, y) covers x..x+1 as in cairo: a 1-unit line at x + 0.5 fills one column.
        g_.SetPixelOffsetMode(gp::PixelOffsetModeHalf);
        g_.SetInterpolationMode(gp::InterpolationModeNearestNeighbor);
    }

    void fill(const Path& path, const Rgb& colour, double alpha) override {
        gp::GraphicsPath traced(gp::FillModeWinding);
        trace(path, traced);
        gp::SolidBrush brush(colourOf(colour, alpha));
        g_.FillPath(&brush, &traced);
    }

    void stroke(const Path& path, const Pen& pen) override {
        gp::GraphicsPath traced;
        trace(path, traced);
        gp::Pen drawing(colourOf(pen.colour, pen.alpha), static_cast<gp::REAL>(pen.width));
        if (!pen.dashes.empty()) {
            // GDI+ measures dashes in pen widths.
            std::vector<gp::REAL> dashes;
            for (const double d : pen.dashes) dashes.push_back(static_cast<gp::REAL>(d / pen.width));
            drawing.SetDashPattern(dashes.data(), static_cast<INT>(dashes.size()));
        }
        g_.DrawPath(&drawing, &traced);
    }

    void pixels(double left, double top, int width, int height,
                std::span<const std::uint32_t> argb) override {
        // 0xAARRGGBB words, not premultiplied: GDI+'s 32bppARGB.
        std::vector<std::uint32_t> copy(argb.begin(), argb.end());
        gp::Bitmap image(width, height, width * 4, PixelFormat32bppARGB,
                         reinterpret_cast<BYTE*>(copy.data()));
        g_.DrawImage(&image, static_cast<gp::REAL>(left), static_cast<gp::REAL>(top),
                     static_cast<gp::REAL>(width), static_cast<gp::REAL>(height));
    }

    void verticalGradient(const Rect& rect, std::span<const Rgb> colours) override {
        if (colours.empty()) return;
        std::vector<gp::Color> stops;
        std::vector<gp::REAL> positions;
        const double last = colours.size() > 1 ? static_cast<double>(colours.size() - 1) : 1.0;
        for (std::size_t i = 0; i < colours.size(); ++i) {
            stops.push_back(colourOf(colours[i]));
            positions.push_back(static_cast<gp::REAL>(std::min(1.0, static_cast<double>(i) / last)));
        }
        if (colours.size() == 1) {
            stops.push_back(stops.back());
            positions.push_back(1);
        }
        // From the bottom edge to the top edge; past them the end colours go on (no tiling).
        gp::LinearGradientBrush brush(gp::PointF(0, static_cast<gp::REAL>(rect.bottom())),
                                      gp::PointF(0, static_cast<gp::REAL>(rect.top)), stops.front(),
                                      stops.back());
        brush.SetInterpolationColors(stops.data(), positions.data(), static_cast<INT>(stops.size()));
        brush.SetWrapMode(gp::WrapModeTileFlipXY);
        g_.FillRectangle(&brush, static_cast<gp::REAL>(rect.left), static_cast<gp::REAL>(rect.top),
                         static_cast<gp::REAL>(rect.width), static_cast<gp::REAL>(rect.height));
    }

    void text(double x, double y, const std::string& s, const Font& font, const Rgb& colour,
              Align align, double degrees) override {
        const gp::Font drawing(family_.get(), static_cast<gp::REAL>(font.size), style(font),
                               gp::UnitPixel);
        gp::StringFormat format(gp::StringFormat::GenericTypographic());
        format.SetAlignment(align == Align::kCentre  ? gp::StringAlignmentCenter
                            : align == Align::kRight ? gp::StringAlignmentFar
                                                     : gp::StringAlignmentNear);
        gp::SolidBrush brush(colourOf(colour));
        const gp::GraphicsState state = g_.Save();
        g_.TranslateTransform(static_cast<gp::REAL>(x), static_cast<gp::REAL>(y));
        g_.RotateTransform(static_cast<gp::REAL>(-degrees));
        // GDI+ places a line by its top; the caller names its baseline.
        const std::wstring w = wide(s);
        g_.DrawString(w.c_str(), static_cast<INT>(w.size()), &drawing,
                      gp::PointF(0, static_cast<gp::REAL>(-ascent(font))), &format, &brush);
        g_.Restore(state);
    }

    double ascent(const Font& font) override {
        const INT fontStyle = style(font);
        return font.size * family_->GetCellAscent(fontStyle) / family_->GetEmHeight(fontStyle);
    }

    void clip(const Rect& rect) override {
        clips_.push_back(g_.Save());
        g_.SetClip(gp::RectF(static_cast<gp::REAL>(rect.left), static_cast<gp::REAL>(rect.top),
                             static_cast<gp::REAL>(rect.width), static_cast<gp::REAL>(rect.height)),
                   gp::CombineModeIntersect);
    }

    void unclip() override {
        if (clips_.empty()) return;
        g_.Restore(clips_.back());
        clips_.pop_back();
    }

private:
    static INT style(const Font& font) { return font.bold ? gp::FontStyleBold : gp::FontStyleRegular; }

    static void trace(const Path& path, gp::GraphicsPath& traced) {
        for (const Path::Figure& figure : path.figures()) {
            if (figure.points.size() < 2) continue;
            std::vector<gp::PointF> points;
            for (const Point& p : figure.points)
                points.emplace_back(static_cast<gp::REAL>(p.x), static_cast<gp::REAL>(p.y));
            traced.StartFigure();
            traced.AddLines(points.data(), static_cast<INT>(points.size()));
            if (figure.closed) traced.CloseFigure();
        }
    }

    gp::Graphics& g_;
    std::unique_ptr<gp::FontFamily> family_;
    std::vector<gp::GraphicsState> clips_;
};

// The PNG encoder GDI+ comes with.
CLSID pngEncoder() {
    UINT count = 0;
    UINT bytes = 0;
    if (gp::GetImageEncodersSize(&count, &bytes) == gp::Ok && bytes > 0) {
        std::vector<std::uint8_t> buffer(bytes);
        auto* encoders = reinterpret_cast<gp::ImageCodecInfo*>(buffer.data());
        if (gp::GetImageEncoders(count, bytes, encoders) == gp::Ok)
            for (UINT i = 0; i < count; ++i)
                if (std::wcscmp(encoders[i].MimeType, L"image/png") == 0) return encoders[i].Clsid;
    }
    throw ToolError("this Windows has no PNG encoder in GDI+: name the picture .svg");
}

}  // namespace

void writePng(const std::string& path, int width, int height, const Drawing& draw) {
    const GdiplusSession session;
    gp::Bitmap bitmap(width, height, PixelFormat24bppRGB);
    {
        gp::Graphics g(&bitmap);
        GdiplusCanvas canvas(g);
        draw(canvas);
    }
    const CLSID encoder = pngEncoder();
    const gp::Status status = bitmap.Save(wide(path).c_str(), &encoder, nullptr);
    if (status != gp::Ok)
        throw ToolError(fmt::format("could not write {}: GDI+ could not save it there", path));
}

}  // namespace tarvex::cli
