// One frame of `tarvex view`: a capture's samples folded, measured, counted into a density grid,
// tested against the mask and packed for the page, all through the analysis library.
//
// A frame goes to the page as one binary message (little-endian):
//   "TVX1"        4 bytes
//   jsonBytes     uint32: the header, UTF-8 JSON (measurements, mask result, layout, board state)
//   hitBytes      uint32: the grid's hits, packed
//   failBytes     uint32: the hits of the samples inside the mask, packed the same way
//   header, hits, fails
// The grid is rows x columns cells, row 0 at the top, cell index row * columns + column.  Packed,
// it is the cells that have hits, in index order, each as two unsigned LEB128 numbers: the
// empty cells skipped since the previous one, then its hits.  An eye of 256 packets leaves
// most of the grid empty, so this is a fifth of the grid's size at one byte a cell (see the
// benchmark beside it).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "eye_analysis.h"
#include "output.h"
#include "tarvex_analysis.h"
#include "view_settings.h"

namespace tarvex::cli {

// Rows of the density grid: about two screen pixels each on a common plot height.
constexpr std::uint32_t kViewRows = 256;

// The grid the hits are counted in, kept from frame to frame so that the page can add frames up
// (persistence); a new one (a new id) tells the page to start over.
struct ViewLayout {
    std::uint32_t id = 0;
    TvaHistogramLayout grid{};
    double crossingPhase = 0;  // where the grid was laid: the crossing at that time
    double dataRate = 0;       // the settings it was laid for
    double sampleRate = 0;
    std::uint32_t xScale = 0;
};

// Cells with hits, packed as described above.
std::string packCells(std::span<const std::uint32_t> cells);

struct FrameContent {
    Json header;          // measurements, frame, mask, layout, capture
    std::string hits;     // packed
    std::string fails;    // packed (empty without a mask)
    std::vector<std::uint16_t> eyeX;  // the points, for the CSV
    std::vector<std::uint16_t> eyeY;
    std::uint16_t eyeWidth = 0;
};

// The whole message for a frame's content and its header.
std::string encodeFrame(const Json& header, const std::string& hits, const std::string& fails);

class FramePipeline {
public:
    // Makes a frame of `samples` (a capture, stats.sampleCount of them) with `settings` and
    // `mask`.  The working buffers are kept and reused: the pipeline allocates nothing once it
    // has seen a frame of the size.
    FrameContent& process(std::span<const std::uint16_t> samples, const ViewSettings& settings,
                          const std::optional<MaskChoice>& mask);

    // The next frame lays a new grid.
    void relayout() { layout_.grid.columns = 0; }
    const ViewLayout& layout() const { return layout_; }

private:
    bool layoutFits(const TvaEyeMeasurements& measured, const ViewSettings& settings,
                    std::uint16_t low, std::uint16_t high) const;
    void layOut(const TvaEyeMeasurements& measured, const ViewSettings& settings,
                std::uint16_t low, std::uint16_t high);
    Json layoutJson() const;
    Json maskResultJson(const TvaEyeMeasurements& measured, const MaskChoice& mask);

    ViewLayout layout_;
    FrameContent out_;
    std::vector<std::uint32_t> cells_;
    std::vector<std::uint8_t> regionFlags_;
    std::vector<std::uint16_t> failX_;
    std::vector<std::uint16_t> failY_;
};

// The measurements' names, labels and units, for the page to label what frames carry.
Json measurementCatalogue();

}  // namespace tarvex::cli
