/*
 * c_reference.c - the capture and the eye called from C, through the library file the package
 * has loaded, in the same process.
 *
 * Built as a small shared object by the speed script and the tests (cc -shared) and loaded with
 * ctypes next to the package: referenceBind finds the exports in the library already loaded (the
 * same file, the same demo boards), and each reference call makes one export call from C, as a
 * C host program makes it, timing it by the calling thread's CPU time (on a shared machine the
 * time a call waits for a core is not its own).  The buffers are the caller's.
 */
#define _POSIX_C_SOURCE 200809L
#include <dlfcn.h>
#include <time.h>

#include "tarvex.h"

#define REFERENCE_API __attribute__((visibility("default")))

typedef int (*SamplesFn)(uint16_t, uint16_t, uint16_t *, ScopeStats *);
typedef int (*EyeFn)(uint16_t, uint16_t, double, double, uint16_t *, uint16_t, uint16_t *,
                     ScopeStats *);

static SamplesFn getScopeSamples;
static EyeFn getEyeXY;

static double cpuSeconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

/* 1 when `library` (loaded already, or loadable) has both exports. */
REFERENCE_API int referenceBind(const char *library) {
    void *handle = dlopen(library, RTLD_NOW);
    if (!handle) return 0;
    getScopeSamples = (SamplesFn)dlsym(handle, "u_GetScopeSamples");
    getEyeXY = (EyeFn)dlsym(handle, "u_GetEyeXY");
    return getScopeSamples != NULL && getEyeXY != NULL;
}

/* u_GetScopeSamples's result; *seconds the CPU time the call took. */
REFERENCE_API int referenceCapture(uint16_t index, uint16_t packets, uint16_t *samples,
                                   ScopeStats *stats, double *seconds) {
    const double start = cpuSeconds();
    const int result = getScopeSamples(index, packets, samples, stats);
    *seconds = cpuSeconds() - start;
    return result;
}

/* u_GetEyeXY's result; *seconds the CPU time the call took. */
REFERENCE_API int referenceEye(uint16_t index, uint16_t packets, double dataRate,
                               double sampleRate, uint16_t *eyeX, uint16_t xScale,
                               uint16_t *eyeY, ScopeStats *stats, double *seconds) {
    const double start = cpuSeconds();
    const int result =
        getEyeXY(index, packets, dataRate, sampleRate, eyeX, xScale, eyeY, stats);
    *seconds = cpuSeconds() - start;
    return result;
}
