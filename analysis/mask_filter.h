// The mask test's first look at every point.  The eye's X are grouped into 64 cells of
// neighbouring X, and a table gives for each cell up to two ranges of codes that hold only
// points certainly clear of the mask: outside every region, and farther from each than a given
// distance.  A point in its cell's ranges needs no more than this look; the few others are
// looked at closely (analysis/mask_points.cpp).  A cell is a 16-bit multiply away from X and
// the table fits in vector registers, so the look costs a few instructions for 32 points.
#pragma once

#include <cstdint>

#include "analysis/eye_points.h"
#include "analysis/vector_unit.h"

namespace tarvex::analysis {

constexpr std::uint32_t kFilterCells = 64;

struct ClearTable {
    // X's cell: the high half of (x << shift) * multiplier in 16 bits, its low 6 bits.
    std::uint16_t shift = 0;
    std::uint16_t multiplier = 0;
    // Per cell, the codes low0..high0 and low1..high1 are clear; an empty range runs from
    // 0xFFFF down to 0.
    alignas(64) std::uint16_t low0[kFilterCells];
    alignas(64) std::uint16_t high0[kFilterCells];
    alignas(64) std::uint16_t low1[kFilterCells];
    alignas(64) std::uint16_t high1[kFilterCells];
};

// A table for an eye `width` wide with every range empty.
ClearTable cellsFor(std::uint16_t width);

// The cell of an X below the width.  Cells hold runs of neighbouring X, in order.
std::uint32_t cellOf(const ClearTable& table, std::uint32_t x);

// The first X of a cell (the width for a cell past the last X).
std::uint32_t firstXOf(const ClearTable& table, std::uint32_t cell, std::uint16_t width);

// Looks at the points begin..end - 1: writes 0 to their flags (when given) and appends to
// `unclear` the index of each point not within its cell's clear ranges or with X not below the
// width, in order.  Returns how many it appended.
std::uint32_t findUnclear(const EyePoints& points, const ClearTable& table, std::uint32_t begin,
                          std::uint32_t end, std::uint8_t* flags, std::uint32_t* unclear,
                          VectorUnit unit);

}  // namespace tarvex::analysis
