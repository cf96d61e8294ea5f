// The eye diagram as a picture: a density plot of the folded samples, coloured by how many
// samples hit each spot, like a sampling scope's persistence display.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "eye_analysis.h"
#include "tarvex.h"
#include "tarvex_analysis.h"

namespace tarvex::cli {

struct EyeData {
    std::span<const std::uint16_t> x;  // position within the bit, 0 .. width - 1
    std::span<const std::uint16_t> y;  // the 12-bit samples
    std::uint16_t width = 0;           // span of x (one bit period)
    std::uint16_t minimum = 0;         // smallest nonzero sample
    std::uint16_t maximum = 0;         // largest sample
    double dataRate = 0;               // bits per second
    double sampleRate = 0;             // samples per second
    double foldStep = 0;               // fraction of a bit one sample period advances
    std::uint32_t packets = 0;
    ScopeStats stats{};
    // Where the eye sits, from the measurements: the crossing goes at 0 and 1 UI.
    TvaEyeFrame frame{};
    bool frameValid = false;
    // A mask test to draw over the eye, with each point's regions (bit r: inside region r).
    const MaskChoice* mask = nullptr;
    const TvaMaskResult* maskResult = nullptr;
    std::span<const std::uint8_t> maskFlags;
};

enum class PictureFormat { kPng, kSvg };

struct PictureSize {
    int width = 1000;
    int height = 640;
};

// The picture format a file name asks for by its extension (.png, .svg; any case); throws a
// UsageError for any other.
PictureFormat pictureFormatOf(const std::string& path);

// Draws the eye and writes it to `path`.  Two bit periods are shown, from -0.5 to 1.5 unit
// intervals, with the data crossings placed at 0 and 1; a mask, when given, over it with the
// points inside it marked.  Throws a ToolError when the file cannot be written.
void drawEye(const EyeData& eye, const std::string& path, PictureFormat format, PictureSize size);

}  // namespace tarvex::cli
