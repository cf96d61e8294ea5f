// What `tarvex eye` says about an eye: the measurements as a table or JSON, and the mask test.
// The numbers come from the analysis library (tarvex_analysis.h); this file only words them.
#pragma once

#include <string>

#include "output.h"
#include "tarvex_analysis.h"

namespace tarvex::cli {

// A mask as the command line names it: "hexagon:X1,X2,Y1,Y2" or the path of a mask file.
struct MaskChoice {
    std::string spec;
    TvaMask mask{};
};

// Reads the mask a --mask value names; throws a UsageError that says what is wrong with it.
MaskChoice readMask(const std::string& spec);

// How sample codes are shown: as codes, or in volts when the volts per code are known.
struct CodeScale {
    double voltsPerCode = 0.0;  // 0: codes
};

// The table for a person: one line per measurement, with its unit, UI for times, and the
// number of samples it rests on; "not measurable" and why for the others.
void printMeasurements(const TvaEyeMeasurements& measured, CodeScale scale);

// Every measurement as {"value", "unit", "samples", "measurable"} (and "ui" for times, "reason"
// when not measurable): SI units (seconds, volts with a scale) or codes; null, never NaN, for a
// value not measured.
Json measurementsJson(const TvaEyeMeasurements& measured, CodeScale scale);

// The mask test's outcome: one line for a person, and the JSON record.
std::string maskSummary(const MaskChoice& mask, const TvaMaskResult& result);
Json maskJson(const MaskChoice& mask, const TvaMaskResult& result);

}  // namespace tarvex::cli
