// The vector units the analysis's passes over the points run on.  They are the eye fold's: one
// check of the CPU for the project, and the same rule for the Windows DLL (SSE2 only there, as
// GCC for Win64 does not align the stack for spilled wide registers).
//
// A pass on a vector unit gives exactly what its scalar loop gives: the passes produce integer
// sums and lists of points in their order, never sums of floating-point numbers in an order of
// their own, so every unit reports the same numbers.
#pragma once

#include "commands/eye_fold.h"

#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#  define TARVEX_ANALYSIS_AVX512 1
// AVX-512 with its DQ, BW and VL parts, as the fold's loops.
#  define TARVEX_ANALYSIS_AVX512_TARGET __attribute__((target("avx2,avx512f,avx512dq,avx512bw,avx512vl")))
#endif

namespace tarvex::analysis {

using VectorUnit = commands::FoldUnit;

// The unit a pass runs on: AVX-512 when the CPU and the build have it and `unit` asks for it or
// for the best; the scalar loop otherwise.
inline VectorUnit passUnit(VectorUnit unit) {
#if TARVEX_ANALYSIS_AVX512
    if ((unit == VectorUnit::kBest || unit == VectorUnit::kAvx512) &&
        commands::foldUnitAvailable(VectorUnit::kAvx512))
        return VectorUnit::kAvx512;
#endif
    (void)unit;
    return VectorUnit::kScalar;
}

}  // namespace tarvex::analysis
