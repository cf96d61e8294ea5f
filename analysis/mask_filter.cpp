#include "analysis/mask_filter.h"

#include <algorithm>
#include <cstring>

#if TARVEX_ANALYSIS_AVX512
#  include <immintrin.h>
#endif

namespace tarvex::analysis {
namespace {

bool clear(const ClearTable& table, std::uint32_t cell, std::uint32_t y) {
    return (y >= table.low0[cell] && y <= table.high0[cell]) ||
           (y >= table.low1[cell] && y <= table.high1[cell]);
}

// The reference every vector loop matches.
std::uint32_t findUnclearScalar(const EyePoints& points, const ClearTable& table,
                                std::uint32_t begin, std::uint32_t end, std::uint8_t* flags,
                                std::uint32_t* unclear) {
    std::uint32_t found = 0;
    for (std::uint32_t i = begin; i < end; ++i) {
        const std::uint32_t x = points.x[i];
        if (flags != nullptr) flags[i] = 0;
        if (x >= points.width || !clear(table, cellOf(table, x), points.y[i])) unclear[found++] = i;
    }
    return found;
}

#if TARVEX_ANALYSIS_AVX512

// 32 points at a time: the cell's four bounds come from the table in registers (vpermi2w takes
// the low 6 bits of each lane as the index into 64 words).
TARVEX_ANALYSIS_AVX512_TARGET std::uint32_t findUnclearAvx512(
    const EyePoints& points, const ClearTable& table, std::uint32_t begin, std::uint32_t end,
    std::uint8_t* flags, std::uint32_t* unclear) {
    const __m512i low0a = _mm512_load_si512(table.low0), low0b = _mm512_load_si512(table.low0 + 32);
    const __m512i high0a = _mm512_load_si512(table.high0), high0b = _mm512_load_si512(table.high0 + 32);
    const __m512i low1a = _mm512_load_si512(table.low1), low1b = _mm512_load_si512(table.low1 + 32);
    const __m512i high1a = _mm512_load_si512(table.high1), high1b = _mm512_load_si512(table.high1 + 32);
    const __m128i shift = _mm_cvtsi32_si128(table.shift);
    const __m512i multiplier = _mm512_set1_epi16(static_cast<short>(table.multiplier));
    const __m512i width = _mm512_set1_epi16(static_cast<short>(points.width));
    std::uint32_t found = 0;
    std::uint32_t i = begin;
    for (; i + 32 <= end; i += 32) {
        const __m512i x = _mm512_loadu_si512(points.x + i);
        const __m512i y = _mm512_loadu_si512(points.y + i);
        const __m512i cell = _mm512_mulhi_epu16(_mm512_sll_epi16(x, shift), multiplier);
        const __m512i low0 = _mm512_permutex2var_epi16(low0a, cell, low0b);
        const __m512i high0 = _mm512_permutex2var_epi16(high0a, cell, high0b);
        const __m512i low1 = _mm512_permutex2var_epi16(low1a, cell, low1b);
        const __m512i high1 = _mm512_permutex2var_epi16(high1a, cell, high1b);
        const __mmask32 in0 = _mm512_mask_cmple_epu16_mask(_mm512_cmpge_epu16_mask(y, low0), y, high0);
        const __mmask32 in1 = _mm512_mask_cmple_epu16_mask(_mm512_cmpge_epu16_mask(y, low1), y, high1);
        const __mmask32 inside = _mm512_cmplt_epu16_mask(x, width);
        if (flags != nullptr) _mm256_storeu_si256(reinterpret_cast<__m256i*>(flags + i), _mm256_setzero_si256());
        // Most blocks are clear throughout; the few points that are not are listed one by one.
        std::uint32_t rest = ~static_cast<std::uint32_t>(inside & (in0 | in1));
        while (rest != 0) {
            unclear[found++] = i + static_cast<std::uint32_t>(__builtin_ctz(rest));
            rest &= rest - 1;
        }
    }
    return found + findUnclearScalar(points, table, i, end, flags, unclear + found);
}

#endif

}  // namespace

ClearTable cellsFor(std::uint16_t width) {
    ClearTable table;
    // 64 cells of width / 64 X each; an eye of at most 64 X has a cell for each.
    if (width <= kFilterCells) {
        table.shift = 10;
        table.multiplier = kFilterCells;
    } else {
        table.multiplier = static_cast<std::uint16_t>((kFilterCells << 16) / width);
    }
    std::fill(std::begin(table.low0), std::end(table.low0), std::uint16_t{0xFFFF});
    std::fill(std::begin(table.low1), std::end(table.low1), std::uint16_t{0xFFFF});
    std::fill(std::begin(table.high0), std::end(table.high0), std::uint16_t{0});
    std::fill(std::begin(table.high1), std::end(table.high1), std::uint16_t{0});
    return table;
}

std::uint32_t cellOf(const ClearTable& table, std::uint32_t x) {
    const auto shifted = static_cast<std::uint16_t>(x << table.shift);
    return ((std::uint32_t{shifted} * table.multiplier) >> 16) & (kFilterCells - 1);
}

std::uint32_t firstXOf(const ClearTable& table, std::uint32_t cell, std::uint16_t width) {
    if (table.shift != 0) return std::min<std::uint32_t>(cell, width);
    // The least x with x * multiplier >= cell * 2^16.
    const std::uint32_t x = ((cell << 16) + table.multiplier - 1) / table.multiplier;
    return std::min<std::uint32_t>(x, width);
}

std::uint32_t findUnclear(const EyePoints& points, const ClearTable& table, std::uint32_t begin,
                          std::uint32_t end, std::uint8_t* flags, std::uint32_t* unclear,
                          VectorUnit unit) {
#if TARVEX_ANALYSIS_AVX512
    if (passUnit(unit) == VectorUnit::kAvx512)
        return findUnclearAvx512(points, table, begin, end, flags, unclear);
#endif
    (void)unit;
    return findUnclearScalar(points, table, begin, end, flags, unclear);
}

}  // namespace tarvex::analysis
