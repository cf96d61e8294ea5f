// What `tarvex view` captures and shows, and how the page may change it.
//
// The page changes settings with POST requests whose JSON bodies are read here: every field is
// checked, and a request with anything wrong in it changes nothing and is answered with one
// sentence that says what (the server sends it with status 400).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "eye_analysis.h"
#include "output.h"
#include "session.h"
#include "tarvex_analysis.h"

namespace tarvex::cli {

struct ViewSettings {
    std::uint32_t board = 0;  // member index of the board watched
    double dataRate = 0;      // bits per second: the fold's unit interval
    double sampleRate = 0;    // equivalent-time samples per second
    std::uint32_t packets = 256;  // a frame's capture, 32 samples each
    std::uint32_t xScale = 0;     // as u_GetEyeXY's: 0 the sample range, 1..10 a multiple, more
    bool run = true;              // false: the board is left alone until Run
};

// The limits the page is told and the server holds to.
struct ViewLimits {
    static constexpr std::uint32_t kMaxPackets = 65535;  // a capture's packet count is 16 bits
    static constexpr std::uint32_t kMaxXScale = 65535;
    static constexpr double kMaxRate = 1e12;
    static constexpr std::size_t kMaxMaskNameBytes = 200;
};

// A request's outcome: the new value, or the sentence saying why there is none.
template <typename T>
struct Checked {
    std::optional<T> value;
    std::string error;
};

// `current` with the fields of `body` (a JSON object: board, dataRate, sampleRate, packets,
// xScale, run; any subset) applied.  Rates are numbers or text as on the command line ("1.25G").
// `boards` are the interfaces present: a board index must name one of them.
Checked<ViewSettings> applySettings(const ViewSettings& current, std::string_view body,
                                    const std::vector<InterfaceInfo>& boards);

// A mask from a request: {"kind":"none"} (no mask: an empty optional),
// {"kind":"hexagon","x1":..,"x2":..,"y1":..,"y2":..} (as tarvex eye --mask hexagon:X1,X2,Y1,Y2)
// or {"kind":"file","name":"...","text":"<the mask file>"}.
Checked<std::optional<MaskChoice>> parseMaskRequest(std::string_view body);

Json settingsJson(const ViewSettings& settings);
// The mask in force: its spec ("hexagon:0.25,0.4,0.25,0.2" or the file's name) and its regions in
// the eye's frame (x in UI from the crossing, y 0 at the zero level and 1 at the one level);
// null for none.
Json maskStateJson(const std::optional<MaskChoice>& mask);

}  // namespace tarvex::cli
