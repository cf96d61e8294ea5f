// u_GetEyeXY: a scope capture folded onto one bit period (the folding is in eye_fold.cpp).
#include "commands/capture.h"
#include "commands/eye_fold.h"
#include "platform/export_lock.h"
#include "tarvex.h"

extern "C" int TARVEX_CALL u_GetEyeXY(std::uint16_t index, std::uint16_t packets, double dataRate,
                                      double sampleRate, std::uint16_t* eyeX,
                                      std::uint16_t xScale, std::uint16_t* eyeY,
                                      ScopeStats* stats) {
    const tarvex::platform::ExportLock lock;
    // Refused before any I/O: the capture would run for nothing if X had nowhere to go.
    if (eyeX == nullptr && packets != 0) return 0;
    const int result = tarvex::commands::captureSamples(index, packets, eyeY, stats);
    if (result != 1) return result;  // refused capture: nothing was read, nothing to fold
    tarvex::commands::foldEye(eyeY, eyeX, stats->sampleCount, dataRate, sampleRate, xScale);
    return result;
}
