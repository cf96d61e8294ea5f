// Eye folding of a scope capture.
//
// foldEye is the algorithm: find the range, work out the width, fill the zeros, fold.  The two
// passes over the samples run on the widest vector unit the CPU has, because a long capture has
// two million samples and folding them should cost about as much as copying them.  Every vector
// loop performs the scalar loop's IEEE double operations in the same order, only on several
// samples at once, so every unit gives the same integers.
#include "commands/eye_fold.h"

#include <algorithm>
#include <cmath>


#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#  define TARVEX_EYE_SSE2 1
#  include <emmintrin.h>
#endif
// The AVX loops need GCC or Clang's per-function targets.  Not on Windows: GCC for Win64 does
// not align the stack for spilled 32-byte registers, and the DLL makes do with SSE2.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32)
#  define TARVEX_EYE_AVX 1
#  include <immintrin.h>
#endif

namespace tarvex::commands {
namespace {

constexpr double kInt32Limit = 2147483648.0;  // 2^31
// Below this index i x foldStep (< i) fits a signed 32-bit integer, so its truncation can go
// through one; a capture has at most 65535 x 32 samples, far below.
constexpr std::uint32_t kFastFoldLimit = 0x7FFFFFFF;

struct SampleRange {
    std::uint16_t minNonzero = 0xFFFF;  // stays 0xFFFF when no sample is nonzero
    std::uint16_t maximum = 0;
    bool hasZero = false;
};

// Each vector loop handles a multiple of its width from the start and returns how far it got;
// the scalar loops finish the rest.

// ---- Scalar: the reference every vector loop matches ----------------------------------------

void rangeScalar(const std::uint16_t* eyeY, std::uint32_t begin, std::uint32_t end,
                 SampleRange& range) {
    for (std::uint32_t i = begin; i < end; ++i) {
        const std::uint16_t v = eyeY[i];
        if (v != 0 && v < range.minNonzero) range.minNonzero = v;
        if (v > range.maximum) range.maximum = v;
        if (v == 0) range.hasZero = true;
    }
}

void fillZerosScalar(std::uint16_t* eyeY, std::uint32_t begin, std::uint32_t end,
                     std::uint16_t minimum) {
    for (std::uint32_t i = begin; i < end; ++i)
        if (eyeY[i] == 0) eyeY[i] = minimum;
}

// p is at least 0 and below 1, so width x p is below 65536: every conversion is defined.
void foldScalar(std::uint16_t* eyeX, std::uint32_t begin, std::uint32_t end, double foldStep,
                double width) {
    std::uint32_t i = begin;
    for (; i < std::min(end, kFastFoldLimit); ++i) {
        double p = static_cast<double>(i) * foldStep;  // i is exact as a double
        p -= static_cast<double>(static_cast<std::int32_t>(p));
        eyeX[i] = static_cast<std::uint16_t>(static_cast<std::int32_t>(width * p));
    }
    for (; i < end; ++i) {
        double p = static_cast<double>(i) * foldStep;
        p -= std::trunc(p);  // the value a 32-bit truncation gives wherever one fits
        eyeX[i] = static_cast<std::uint16_t>(static_cast<std::int32_t>(width * p));
    }
}

// ---- SSE2: two doubles, eight samples at a time ---------------------------------------------
#if TARVEX_EYE_SSE2

// SSE2 compares 16-bit lanes as signed only: flipping the top bit orders unsigned values.
inline __m128i flipTop(__m128i v) { return _mm_xor_si128(v, _mm_set1_epi16(-0x8000)); }

std::uint32_t rangeSse2(const std::uint16_t* eyeY, std::uint32_t count, SampleRange& range) {
    const __m128i zero = _mm_setzero_si128();
    __m128i minFlipped = flipTop(_mm_set1_epi16(-1));
    __m128i maxFlipped = flipTop(zero);
    __m128i anyZero = zero;
    std::uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(eyeY + i));
        const __m128i isZero = _mm_cmpeq_epi16(v, zero);
        // A zero lane becomes 0xFFFF, which never lowers the minimum.
        minFlipped = _mm_min_epi16(minFlipped, flipTop(_mm_or_si128(v, isZero)));
        maxFlipped = _mm_max_epi16(maxFlipped, flipTop(v));
        anyZero = _mm_or_si128(anyZero, isZero);
    }
    alignas(16) std::uint16_t mins[8], maxs[8], zeros[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(mins), flipTop(minFlipped));
    _mm_store_si128(reinterpret_cast<__m128i*>(maxs), flipTop(maxFlipped));
    _mm_store_si128(reinterpret_cast<__m128i*>(zeros), anyZero);
    for (int k = 0; k < 8; ++k) {
        range.minNonzero = std::min(range.minNonzero, mins[k]);
        range.maximum = std::max(range.maximum, maxs[k]);
        range.hasZero = range.hasZero || zeros[k] != 0;
    }
    return i;
}

std::uint32_t fillZerosSse2(std::uint16_t* eyeY, std::uint32_t count, std::uint16_t minimum) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i fill = _mm_set1_epi16(static_cast<short>(minimum));
    std::uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        auto* at = reinterpret_cast<__m128i*>(eyeY + i);
        const __m128i v = _mm_loadu_si128(at);
        _mm_storeu_si128(at, _mm_or_si128(v, _mm_and_si128(_mm_cmpeq_epi16(v, zero), fill)));
    }
    return i;
}

// width x frac(i x foldStep) of two samples, truncated to 32-bit integers in the low half.
inline __m128i foldPairSse2(__m128d i, __m128d step, __m128d width) {
    __m128d p = _mm_mul_pd(i, step);
    p = _mm_sub_pd(p, _mm_cvtepi32_pd(_mm_cvttpd_epi32(p)));
    return _mm_cvttpd_epi32(_mm_mul_pd(width, p));
}

std::uint32_t foldSse2(std::uint16_t* eyeX, std::uint32_t count, double foldStep, double width) {
    const __m128d step = _mm_set1_pd(foldStep);
    const __m128d w = _mm_set1_pd(width);
    const __m128d two = _mm_set1_pd(2.0);
    const __m128i half = _mm_set1_epi32(0x8000);
    __m128d i0 = _mm_setr_pd(0.0, 1.0);  // whole numbers below 2^31: exact as doubles
    const std::uint32_t end = std::min(count, kFastFoldLimit);
    std::uint32_t i = 0;
    for (; i + 8 <= end; i += 8) {
        const __m128d i1 = _mm_add_pd(i0, two);
        const __m128d i2 = _mm_add_pd(i1, two);
        const __m128d i3 = _mm_add_pd(i2, two);
        const __m128i x01 =
            _mm_unpacklo_epi64(foldPairSse2(i0, step, w), foldPairSse2(i1, step, w));
        const __m128i x23 =
            _mm_unpacklo_epi64(foldPairSse2(i2, step, w), foldPairSse2(i3, step, w));
        // X is 0..65535: packed as signed 16-bit after taking 32768 off, then put back.
        const __m128i packed =
            _mm_packs_epi32(_mm_sub_epi32(x01, half), _mm_sub_epi32(x23, half));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(eyeX + i), flipTop(packed));
        i0 = _mm_add_pd(i3, two);
    }
    return i;
}

#else
std::uint32_t rangeSse2(const std::uint16_t*, std::uint32_t, SampleRange&) { return 0; }
std::uint32_t fillZerosSse2(std::uint16_t*, std::uint32_t, std::uint16_t) { return 0; }
std::uint32_t foldSse2(std::uint16_t*, std::uint32_t, double, double) { return 0; }
#endif

// ---- AVX2 and AVX-512: four and eight doubles, 16 and 32 samples at a time -------------------
#if TARVEX_EYE_AVX

constexpr int kTruncate = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;

__attribute__((target("avx2"))) std::uint32_t rangeAvx2(const std::uint16_t* eyeY,
                                                        std::uint32_t count, SampleRange& range) {
    const __m256i zero = _mm256_setzero_si256();
    __m256i minNonzero = _mm256_set1_epi16(-1);
    __m256i maximum = zero;
    __m256i anyZero = zero;
    std::uint32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(eyeY + i));
        const __m256i isZero = _mm256_cmpeq_epi16(v, zero);
        minNonzero = _mm256_min_epu16(minNonzero, _mm256_or_si256(v, isZero));  // 0 -> 0xFFFF
        maximum = _mm256_max_epu16(maximum, v);
        anyZero = _mm256_or_si256(anyZero, isZero);
    }
    alignas(32) std::uint16_t mins[16], maxs[16], zeros[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(mins), minNonzero);
    _mm256_store_si256(reinterpret_cast<__m256i*>(maxs), maximum);
    _mm256_store_si256(reinterpret_cast<__m256i*>(zeros), anyZero);
    for (int k = 0; k < 16; ++k) {
        range.minNonzero = std::min(range.minNonzero, mins[k]);
        range.maximum = std::max(range.maximum, maxs[k]);
        range.hasZero = range.hasZero || zeros[k] != 0;
    }
    return i;
}

__attribute__((target("avx2"))) inline __m128i foldQuadAvx2(__m256d i, __m256d step,
                                                            __m256d width) {
    __m256d p = _mm256_mul_pd(i, step);
    p = _mm256_sub_pd(p, _mm256_round_pd(p, kTruncate));
    return _mm256_cvttpd_epi32(_mm256_mul_pd(width, p));
}

__attribute__((target("avx2"))) std::uint32_t foldAvx2(std::uint16_t* eyeX, std::uint32_t count,
                                                       double foldStep, double width) {
    const __m256d step = _mm256_set1_pd(foldStep);
    const __m256d w = _mm256_set1_pd(width);
    const __m256d four = _mm256_set1_pd(4.0);
    __m256d i0 = _mm256_setr_pd(0.0, 1.0, 2.0, 3.0);
    const std::uint32_t end = std::min(count, kFastFoldLimit);
    std::uint32_t i = 0;
    for (; i + 8 <= end; i += 8) {
        const __m256d i1 = _mm256_add_pd(i0, four);
        // X is 0..65535, so the unsigned saturating pack keeps every value as it is.
        const __m128i x = _mm_packus_epi32(foldQuadAvx2(i0, step, w), foldQuadAvx2(i1, step, w));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(eyeX + i), x);
        i0 = _mm256_add_pd(i1, four);
    }
    return i;
}

// AVX-512 with its DQ, BW and VL parts.  The masked forms with an explicit source keep GCC 12
// from warning about the unmasked ones' deliberately undefined source.
#define TARVEX_AVX512 __attribute__((target("avx2,avx512f,avx512dq,avx512bw,avx512vl")))

TARVEX_AVX512 std::uint32_t rangeAvx512(const std::uint16_t* eyeY, std::uint32_t count,
                                        SampleRange& range) {
    __m512i minNonzero = _mm512_set1_epi16(-1);
    __m512i minimum = minNonzero;
    __m512i maximum = _mm512_setzero_si512();
    std::uint32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m512i v = _mm512_loadu_si512(eyeY + i);
        minNonzero =
            _mm512_mask_min_epu16(minNonzero, _mm512_test_epi16_mask(v, v), minNonzero, v);
        minimum = _mm512_min_epu16(minimum, v);
        maximum = _mm512_max_epu16(maximum, v);
    }
    alignas(64) std::uint16_t mins[32], rawMins[32], maxs[32];
    _mm512_store_si512(mins, minNonzero);
    _mm512_store_si512(rawMins, minimum);
    _mm512_store_si512(maxs, maximum);
    for (int k = 0; k < 32; ++k) {
        range.minNonzero = std::min(range.minNonzero, mins[k]);
        range.maximum = std::max(range.maximum, maxs[k]);
        range.hasZero = range.hasZero || rawMins[k] == 0;
    }
    return i;
}

// width x frac(i x foldStep) of eight samples, truncated, in the low bits of 64-bit lanes.
// vreducepd gives p - trunc(p) in one step (exact, as the subtraction is).  Adding 2^52 with
// rounding toward zero leaves 2^52 + trunc(x) for 0 <= x < 2^52, so the lane's low bits hold
// trunc(x) exactly as a conversion would.
TARVEX_AVX512 inline __m512i foldOctAvx512(__m512d i, __m512d step, __m512d width) {
    const __m512d p = _mm512_mul_pd(i, step);
    const __m512d fraction = _mm512_mask_reduce_pd(p, 0xFF, p, kTruncate);
    const __m512d x = _mm512_mul_pd(width, fraction);
    const __m512d twoTo52 = _mm512_set1_pd(4503599627370496.0);
    return _mm512_castpd_si512(_mm512_mask_add_round_pd(x, 0xFF, x, twoTo52, kTruncate));
}

// Also fills the zeros of eyeY with `minimum` when eyeY is given: the samples are read while
// the CPU is busy folding, which costs less than a pass of their own.
TARVEX_AVX512 std::uint32_t foldAvx512(std::uint16_t* eyeX, std::uint16_t* eyeY,
                                       std::uint16_t minimum, std::uint32_t count,
                                       double foldStep, double width) {
    const __m512d step = _mm512_set1_pd(foldStep);
    const __m512d w = _mm512_set1_pd(width);
    const __m512d sixteen = _mm512_set1_pd(16.0);
    const __m256i fill = _mm256_set1_epi16(static_cast<short>(minimum));
    // Word 0 of each of the sixteen 64-bit lanes of the two inputs, in order.
    const __m512i lowWords =
        _mm512_set_epi16(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                         60, 56, 52, 48, 44, 40, 36, 32, 28, 24, 20, 16, 12, 8, 4, 0);
    __m512d i0 = _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0);
    __m512d i1 = _mm512_setr_pd(8.0, 9.0, 10.0, 11.0, 12.0, 13.0, 14.0, 15.0);
    const std::uint32_t end = std::min(count, kFastFoldLimit);
    std::uint32_t i = 0;
    for (; i + 16 <= end; i += 16) {
        const __m512i x = _mm512_permutex2var_epi16(foldOctAvx512(i0, step, w), lowWords,
                                                    foldOctAvx512(i1, step, w));
        _mm512_mask_storeu_epi16(eyeX + i, 0xFFFF, x);
        if (eyeY != nullptr) {
            const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(eyeY + i));
            _mm256_mask_storeu_epi16(eyeY + i, _mm256_testn_epi16_mask(y, y), fill);
        }
        i0 = _mm512_add_pd(i0, sixteen);
        i1 = _mm512_add_pd(i1, sixteen);
    }
    return i;
}

#else
std::uint32_t rangeAvx2(const std::uint16_t*, std::uint32_t, SampleRange&) { return 0; }
std::uint32_t foldAvx2(std::uint16_t*, std::uint32_t, double, double) { return 0; }
std::uint32_t rangeAvx512(const std::uint16_t*, std::uint32_t, SampleRange&) { return 0; }
std::uint32_t foldAvx512(std::uint16_t*, std::uint16_t*, std::uint16_t, std::uint32_t, double,
                         double) {
    return 0;
}
#endif

// ---- Choosing the unit -----------------------------------------------------------------------

bool cpuHas(FoldUnit unit) {
#if TARVEX_EYE_AVX
    __builtin_cpu_init();
    if (unit == FoldUnit::kAvx2) return __builtin_cpu_supports("avx2");
    if (unit == FoldUnit::kAvx512)
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl");
#endif
    (void)unit;
    return false;
}

FoldUnit resolve(FoldUnit unit) {
    if (unit != FoldUnit::kBest && foldUnitAvailable(unit)) return unit;
    static const FoldUnit best = [] {
        for (FoldUnit u : {FoldUnit::kAvx512, FoldUnit::kAvx2, FoldUnit::kSse2})
            if (foldUnitAvailable(u)) return u;
        return FoldUnit::kScalar;
    }();
    return best;
}

SampleRange findRange(const std::uint16_t* eyeY, std::uint32_t count, FoldUnit unit) {
    SampleRange range;
    std::uint32_t done = 0;
    if (unit == FoldUnit::kAvx512) done = rangeAvx512(eyeY, count, range);
    if (unit == FoldUnit::kAvx2) done = rangeAvx2(eyeY, count, range);
    if (unit == FoldUnit::kSse2) done = rangeSse2(eyeY, count, range);
    rangeScalar(eyeY, done, count, range);
    return range;
}

// X of every sample and, when fillY is given, every zero of fillY replaced by the minimum.
void fold(std::uint16_t* eyeX, std::uint16_t* fillY, std::uint16_t minimum, std::uint32_t count,
          double foldStep, double width, FoldUnit unit) {
    std::uint32_t done = 0;
    if (unit == FoldUnit::kAvx512) {
        done = foldAvx512(eyeX, fillY, minimum, count, foldStep, width);
        if (fillY != nullptr) fillZerosScalar(fillY, done, count, minimum);
    } else if (fillY != nullptr) {
        const std::uint32_t filled = unit == FoldUnit::kScalar ? 0 : fillZerosSse2(fillY, count, minimum);
        fillZerosScalar(fillY, filled, count, minimum);
    }
    if (unit == FoldUnit::kAvx2) done = foldAvx2(eyeX, count, foldStep, width);
    if (unit == FoldUnit::kSse2) done = foldSse2(eyeX, count, foldStep, width);
    foldScalar(eyeX, done, count, foldStep, width);
}

std::uint16_t widthOf(std::uint16_t minimum, std::uint16_t maximum, std::uint16_t xScale) {
    const std::uint32_t span = std::uint32_t{maximum} - minimum;
    if (xScale == 0) return static_cast<std::uint16_t>(span);
    if (xScale <= EYE_SCALE_LIMIT) return static_cast<std::uint16_t>(xScale * span);
    return xScale;
}

}  // namespace

bool foldUnitAvailable(FoldUnit unit) {
    switch (unit) {
        case FoldUnit::kBest:
        case FoldUnit::kScalar: return true;
#if TARVEX_EYE_SSE2
        case FoldUnit::kSse2: return true;
#endif
        default: return cpuHas(unit);
    }
}

std::optional<double> eyeFoldStep(double dataRate, double sampleRate) {
    if (!(dataRate > 0.0) || !(sampleRate > 0.0) || !std::isfinite(dataRate) ||
        !std::isfinite(sampleRate))
        return std::nullopt;
    const double dataPeriod = 1.0 / dataRate;
    const double samplePeriod = 1.0 / sampleRate;
    const double ratio = samplePeriod / dataPeriod;
    // Also refuses infinity over infinity (NaN), from rates at the far ends of the range.
    if (!(ratio < kInt32Limit)) return std::nullopt;
    return ratio - static_cast<double>(static_cast<std::int32_t>(ratio));
}

EyeRange foldEye(std::uint16_t* eyeY, std::uint16_t* eyeX, std::uint32_t count, double dataRate,
                 double sampleRate, std::uint16_t xScale, FoldUnit unit) {
    unit = resolve(unit);
    const SampleRange samples = findRange(eyeY, count, unit);
    // The minimum search starts at 4096, one above the largest 12-bit sample.  With no nonzero
    // sample there is no minimum: the start value would turn the zeros into a flat line at 4096
    // and wrap the width to 61440.  0 keeps the zeros and gives an empty width instead.
    const std::uint16_t minimum =
        samples.maximum == 0 ? 0 : std::min(EYE_MIN_START, samples.minNonzero);
    const std::uint16_t width = widthOf(minimum, samples.maximum, xScale);
    // Real signals rarely hit 0, so the samples are only rewritten when one did.
    std::uint16_t* fillY = samples.hasZero && minimum != 0 ? eyeY : nullptr;
    // Rates that give no fold step put every sample at X 0.
    fold(eyeX, fillY, minimum, count, eyeFoldStep(dataRate, sampleRate).value_or(0.0), width,
         unit);
    return {minimum, samples.maximum, width};
}

}  // namespace tarvex::commands
