/*
 * tarvex_analysis.h - eye measurements and mask tests over captured samples.
 *
 * The analysis library (libtarvex-analysis, tarvex-analysis.dll) works on the data a capture
 * gives: the 12-bit samples of u_GetScopeSamples with the data and sample rates, or the eye
 * points of u_GetEyeXY.  It folds with the same code as u_GetEyeXY, so its points are the
 * export's points.  It holds no state and does no I/O: every function is pure, reads only its
 * arguments and writes only the outputs its caller hands it.  Any thread may call any function
 * at any time.
 *
 * It is built for three callers at once: C and C++ programs, a live view that calls it every
 * frame, and Python through ctypes.  Hence plain structures of fixed-width fields, no callbacks,
 * output buffers the caller provides with their sizes, and a status code from every function
 * (tvaStatusText gives its sentence).  Nothing is ever thrown across this interface and no
 * input, however malformed, makes a function crash: it returns a status instead and leaves its
 * outputs as documented.
 *
 * Coordinates.  An eye point is (X, Y): X the sample's position within one unit interval (UI,
 * one bit period) scaled to the eye width (0 <= X < eyeWidth), Y the sample code.  A point's
 * phase is (X + 0.5) / eyeWidth, its position in the UI of the folded axis (X is truncated from
 * the exact position, so the middle of its step is the better estimate).  The measurements find
 * where the data crosses (the crossing phase) and the zero and one levels; together they are the
 * eye's frame, in which masks are drawn: x in UI from the crossing (crossings at 0 and 1), y in
 * normalised amplitude (0 the zero level, 1 the one level).
 *
 * The definitions of the measurements, their windows, minimum sample counts and accuracy, and
 * the mask file format are in docs/analysis.md.
 *
 * Calling convention: the C default (__cdecl on 32-bit Windows), through TARVEX_ANALYSIS_CALL.
 * Define TARVEX_ANALYSIS_STATIC when linking the library statically.
 */
#ifndef TARVEX_ANALYSIS_H
#define TARVEX_ANALYSIS_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(TARVEX_ANALYSIS_STATIC)
#    define TARVEX_ANALYSIS_API
#  elif defined(TARVEX_ANALYSIS_BUILDING_DLL)
#    define TARVEX_ANALYSIS_API __declspec(dllexport)
#  else
#    define TARVEX_ANALYSIS_API __declspec(dllimport)
#  endif
#  if defined(_M_IX86) || defined(__i386__)
#    define TARVEX_ANALYSIS_CALL __cdecl
#  else
#    define TARVEX_ANALYSIS_CALL
#  endif
#else
#  define TARVEX_ANALYSIS_API __attribute__((visibility("default")))
#  define TARVEX_ANALYSIS_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Version ------------------------------------------------------------------------------- */

/* major << 16 | minor << 8 | patch.  The major number changes with any change of a structure's
 * layout or a function's meaning; a host checks it against the header it was built with. */
#define TARVEX_ANALYSIS_VERSION 0x010000u

TARVEX_ANALYSIS_API uint32_t TARVEX_ANALYSIS_CALL tvaVersion(void);

/* ---- Status codes -------------------------------------------------------------------------- */

/* Every function returns one of these (as int32_t); 0 is success.  The codes from 100 on are
 * not failures of a call but the reasons a measurement is not measurable (TvaMeasurement). */
enum TvaStatus {
    kTvaOk = 0,
    kTvaNullPointer = 1,        /* a pointer the call needs is null */
    kTvaNoSamples = 2,          /* the sample or point count is 0 */
    kTvaBadRates = 3,           /* the rates are not positive and finite, or cannot fold */
    kTvaBadEyeWidth = 4,        /* the eye width is 0 */
    kTvaPointOutsideEye = 5,    /* a point's X is not below the eye width */
    kTvaSampleOutOfRange = 6,   /* a sample code is above 4095 */
    kTvaBufferTooSmall = 7,     /* an output buffer's capacity is below what the call writes */
    kTvaBadArgument = 8,        /* an argument is outside its range (see the function) */
    kTvaBadMask = 9,            /* the mask is malformed (the message says how) */
    kTvaBadFrame = 10,          /* the frame is not usable: levels not apart, phase not in [0,1) */
    kTvaOutOfMemory = 11,       /* the working memory could not be had */

    kTvaTooFewSamples = 100,    /* fewer samples than the measurement's minimum */
    kTvaNoTransitions = 101,    /* no transitions between the levels */
    kTvaLevelsNotApart = 102,   /* the one and zero levels cannot be told apart */
    kTvaInsideNoise = 103,      /* its threshold lies within the levels' noise (3 sigma) */
    kTvaNotEnoughEdges = 104,   /* a rising or falling edge it needs was not found */
    kTvaNoNoise = 105           /* no noise within the resolution: nothing to divide by */
};

/* The status's sentence, in English ("a pointer the call needs is null"); never null. */
TARVEX_ANALYSIS_API const char *TARVEX_ANALYSIS_CALL tvaStatusText(int32_t status);

/* ---- Folding ------------------------------------------------------------------------------- */

/* Folds `count` samples onto one UI exactly as u_GetEyeXY does (the same code): eyeY receives
 * the samples with every 0 replaced by the smallest nonzero sample, eyeX the X coordinates, and
 * *eyeWidth the width xScale chooses (0: the sample range; 1..10: that multiple; above: xScale).
 * eyeY may be `samples` itself.  kTvaBadRates when the rates give no fold step (not positive,
 * not finite, or a ratio of 2^31 or more); nothing is written then. */
TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaFoldSamples(
    const uint16_t *samples, uint32_t count, double dataRate, double sampleRate, uint16_t xScale,
    uint16_t *eyeX, uint16_t *eyeY, uint16_t *eyeWidth);

/* ---- Measurements -------------------------------------------------------------------------- */

/* Indexes into TvaEyeMeasurements.items. */
enum TvaMeasurementIndex {
    kTvaOneLevel = 0,        /* codes: mean of the one level in the eye window */
    kTvaZeroLevel = 1,       /* codes: mean of the zero level in the eye window */
    kTvaOneNoise = 2,        /* codes: standard deviation of the one level */
    kTvaZeroNoise = 3,       /* codes: standard deviation of the zero level */
    kTvaEyeAmplitude = 4,    /* codes: one level - zero level */
    kTvaEyeHeight = 5,       /* codes: (one - 3 sigma1) - (zero + 3 sigma0); <= 0: closed */
    kTvaQFactor = 6,         /* ratio: (one - zero) / (sigma1 + sigma0) */
    kTvaCrossingLevel = 7,   /* codes: mean level of the transitions at the crossing time */
    kTvaCrossingPercent = 8, /* %: 100 (crossing - zero) / (one - zero) */
    kTvaJitterRms = 9,       /* seconds: standard deviation of the crossing times */
    kTvaJitterPp = 10,       /* seconds: peak to peak of the crossing times */
    kTvaEyeWidth = 11,       /* seconds: 1 UI - 6 jitterRms; <= 0: closed */
    kTvaRiseTime = 12,       /* seconds: rising edge, 10 % to 90 % */
    kTvaFallTime = 13,       /* seconds: falling edge, 90 % to 10 % */
    kTvaRiseTime2080 = 14,   /* seconds: rising edge, 20 % to 80 % */
    kTvaFallTime2080 = 15,   /* seconds: falling edge, 80 % to 20 % */
    kTvaDutyCycleDistortion = 16 /* seconds: |rising - falling crossing time| at the crossing */
};
#define TVA_MEASUREMENT_COUNT 17

/* Units of TvaMeasurement.unit. */
enum TvaUnit {
    kTvaUnitCode = 1,    /* sample codes (12-bit) */
    kTvaUnitSecond = 2,  /* seconds */
    kTvaUnitPercent = 3, /* percent */
    kTvaUnitRatio = 4    /* a pure number */
};

typedef struct TvaMeasurement {
    double value;        /* in `unit`; 0 when not measurable (never NaN or infinite) */
    uint32_t samples;    /* how many samples it rests on */
    uint32_t unit;       /* a TvaUnit */
    uint32_t measurable; /* 1: value holds the measurement; 0: see reason */
    int32_t reason;      /* kTvaOk when measurable, else why not (kTvaTooFewSamples, ...) */
} TvaMeasurement;

/* Where the eye sits: the frame masks are drawn in (see Coordinates above). */
typedef struct TvaEyeFrame {
    double crossingPhase; /* phase of the crossing on the folded axis, 0 <= p < 1 */
    double zeroLevel;     /* codes */
    double oneLevel;      /* codes, above zeroLevel */
} TvaEyeFrame;

typedef struct TvaEyeMeasurements {
    TvaMeasurement items[TVA_MEASUREMENT_COUNT]; /* by TvaMeasurementIndex */
    TvaEyeFrame frame;
    uint32_t frameValid;   /* 1 when the levels and the crossing were found (frame usable) */
    uint32_t pointCount;   /* points measured */
    double unitInterval;   /* seconds: 1 / dataRate */
} TvaEyeMeasurements;

/* Measures the eye of `count` points (eyeX, eyeY), folded at `dataRate` bits per second.  On
 * success every item is filled, measurable or not; on failure (bad arguments) *out is zeroed. */
TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMeasurePoints(
    const uint16_t *eyeX, const uint16_t *eyeY, uint32_t count, uint16_t eyeWidth,
    double dataRate, TvaEyeMeasurements *out);

/* Folds `count` raw samples (as tvaFoldSamples with an eye width of 65535, the finest) and
 * measures them.  Working memory of 4 bytes a sample is taken and given back within the call. */
TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMeasureSamples(
    const uint16_t *samples, uint32_t count, double dataRate, double sampleRate,
    TvaEyeMeasurements *out);

/* The measurement's name as JSON keys have it ("oneLevel"), its label for a person ("one
 * level"), and a unit's symbol ("codes", "s", "%", ""); "" for an index or unit out of range. */
TARVEX_ANALYSIS_API const char *TARVEX_ANALYSIS_CALL tvaMeasurementName(uint32_t index);
TARVEX_ANALYSIS_API const char *TARVEX_ANALYSIS_CALL tvaMeasurementLabel(uint32_t index);
TARVEX_ANALYSIS_API const char *TARVEX_ANALYSIS_CALL tvaUnitSymbol(uint32_t unit);

/* ---- Density histogram --------------------------------------------------------------------- */

/* A grid over one UI of the folded axis and a range of sample codes.  Column j holds the points
 * whose phase lies in [originPhase + j / columns, originPhase + (j + 1) / columns), taken
 * around the UI; row 0 is the top (yHigh), row r holds codes in
 * [yHigh - (r + 1) h, yHigh - r h) with h = (yHigh - yLow) / rows, and points beyond the range
 * are counted in the first or last row. */
typedef struct TvaHistogramLayout {
    uint32_t columns;    /* per UI, 1 to 4096 */
    uint32_t rows;       /* 1 to 4096 */
    double originPhase;  /* 0 <= originPhase < 1 */
    double yLow;         /* codes at the bottom edge */
    double yHigh;        /* codes at the top edge, above yLow */
} TvaHistogramLayout;

/* The columns and origin that draw the eye cleanly: an equivalent-time sampler whose fold step
 * is (nearly) a fraction p/q of the UI visits q evenly spread phases, and one column per phase
 * (q up to 200) draws them without gaps or doubled columns, each phase in the middle of its
 * column; other steps get one column per distinct X, at most 200.  Column 0 starts at the
 * crossing (crossingPhase, from the measurements' frame).  Fills columns and originPhase of
 * *layout and leaves the rest. */
TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaSuggestLayout(
    const uint16_t *eyeX, uint32_t count, uint16_t eyeWidth, double dataRate, double sampleRate,
    double crossingPhase, TvaHistogramLayout *layout);

/* Counts the points into counts[row * columns + column]; countCapacity is the number of
 * elements counts holds (at least rows * columns). */
TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaEyeHistogram(
    const uint16_t *eyeX, const uint16_t *eyeY, uint32_t count, uint16_t eyeWidth,
    const TvaHistogramLayout *layout, uint32_t *counts, uint32_t countCapacity);

/* ---- Masks --------------------------------------------------------------------------------- */

#define TVA_MASK_MAX_REGIONS 8
#define TVA_MASK_MAX_VERTICES 32
#define TVA_MASK_NAME_BYTES 32

typedef struct TvaPoint {
    double x; /* UI from the crossing: -1 to 2 */
    double y; /* normalised amplitude: 0 the zero level, 1 the one level; -1e6 to 1e6 */
} TvaPoint;

/* One region: a simple polygon (at least 3 vertices, no edge crossing another, some area). */
typedef struct TvaMaskRegion {
    char name[TVA_MASK_NAME_BYTES]; /* NUL-terminated, may be empty */
    uint32_t vertexCount;
    uint32_t reserved;              /* 0 */
    TvaPoint vertices[TVA_MASK_MAX_VERTICES];
} TvaMaskRegion;

typedef struct TvaMask {
    uint32_t regionCount; /* 1 to TVA_MASK_MAX_REGIONS */
    uint32_t reserved;    /* 0 */
    TvaMaskRegion regions[TVA_MASK_MAX_REGIONS];
} TvaMask;

/* Reads a mask from the text of a mask file (JSON, see docs/analysis.md); `length` bytes, no
 * terminating NUL needed.  On failure kTvaBadMask, *mask zeroed and, when message is given, a
 * NUL-terminated sentence of at most messageBytes bytes saying what is wrong and where. */
TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMaskFromJson(
    const char *text, uint32_t length, TvaMask *mask, char *message, uint32_t messageBytes);

/* The NRZ mask of the usual shape: a hexagon in the middle with its points at (x1, 0.5) and
 * (1 - x1, 0.5) and its flat sides from x2 to 1 - x2 at heights y1 and 1 - y1, and two bars
 * across the whole UI, above 1 + y2 and below -y2.  Needs 0 <= x1 < x2 <= 0.5, 0 < y1 < 0.5
 * and 0 <= y2 <= 1e5 (kTvaBadArgument otherwise, *mask zeroed).  Regions "hexagon", "top",
 * "bottom". */
TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMaskHexagon(double x1, double x2, double y1,
                                                                double y2, TvaMask *mask);

/* Checks a mask built by hand (as tvaMaskFromJson checks a file): kTvaOk or kTvaBadMask with a
 * sentence in message (optional). */
TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMaskCheck(const TvaMask *mask, char *message,
                                                              uint32_t messageBytes);

typedef struct TvaMaskResult {
    uint32_t regionHits[TVA_MASK_MAX_REGIONS]; /* samples inside each region */
    uint32_t failedSamples; /* samples inside at least one region */
    uint32_t testedSamples; /* samples tested (all of them) */
    uint32_t passed;        /* 1 when no sample is inside any region */
    uint32_t reserved;
    /* The largest growth of the mask with no sample inside, in percent of the normalised eye:
     * every region grown by m % (each of its points moved up to m/100 UI sideways and m/100 of
     * the amplitude up or down, so a square of half-side m/100 around every point) leaves
     * every sample outside.  Negative when samples are inside: shrinking by -m % clears them. */
    double marginPercent;
} TvaMaskResult;

/* Tests `count` points against `mask` in the eye's `frame`.  A point is inside a region when
 * its position (x = phase - crossingPhase, taken in [0, 1), and the same plus or minus whole UIs)
 * lies in the polygon or on its edge.  regionFlags is optional: when given it holds `count`
 * bytes and receives for each point a byte with bit r set when the point is inside region r.
 * On failure *result is zeroed, and so are the flags when the points were at fault. */
TARVEX_ANALYSIS_API int32_t TARVEX_ANALYSIS_CALL tvaMaskTest(
    const uint16_t *eyeX, const uint16_t *eyeY, uint32_t count, uint16_t eyeWidth,
    const TvaEyeFrame *frame, const TvaMask *mask, TvaMaskResult *result, uint8_t *regionFlags);

#ifdef __cplusplus
}
#endif

#endif /* TARVEX_ANALYSIS_H */
