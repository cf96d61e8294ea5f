// How an eye is shown, wherever it is drawn: the PNG/SVG picture (eye_plot.cpp) and the live
// page of `tarvex view` (which receives these values from the server rather than keeping a copy).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex::cli {

// The window shown: two bit periods, a data crossing at 0 and at 1 (in unit intervals).
constexpr double kUiStart = -0.5;
constexpr double kUiEnd = 1.5;
// Graticule lines every quarter of a unit interval, labels every half.
constexpr int kGridLinesPerUi = 4;
constexpr int kLabelsPerUi = 2;

struct Rgb {
    double r, g, b;
};

// A persistence palette, 0 (rare hits: deep blue) to 1 (the most frequent: white).
Rgb paletteAt(double v);

// Hits on a log scale, 0 to 1, so that a single stray sample and the thick of the levels both
// show.
double shade(std::uint32_t hits, std::uint32_t maxHits);

// The screen around the samples.
struct EyeTheme {
    Rgb background;  // the picture around the plot
    Rgb plot;        // the plot area behind the samples
    Rgb text;
    Rgb dimText;
    Rgb grid;
    Rgb frame;
    Rgb maskFill;  // a mask's regions, see-through over the eye
    Rgb maskEdge;
    Rgb inside;    // the samples inside the mask
};
const EyeTheme& eyeTheme();

// The codes shown, bottom and top: the samples' range with a margin, so the levels do not touch
// the frame (a flat signal gets a span of its own).
struct CodeRange {
    double low;
    double high;
};
CodeRange codeRange(double minimum, double maximum);

// Round sample codes, about six over the range, for the graticule and the labels.
std::vector<double> codeTicks(const CodeRange& range);

// "Eye diagram: 1.25 Gb/s data, 99 MS/s sampling"
std::string eyeTitle(double dataRate, double sampleRate);
// "time in unit intervals (1 UI = 800 ps)"
std::string timeAxisTitle(double dataRate);
// "sample code (12 bits)"
std::string codeAxisTitle();

}  // namespace tarvex::cli
