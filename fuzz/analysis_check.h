// What the analysis fuzz targets report when an invariant breaks: the call and what did not
// hold, then an abort, which libFuzzer keeps as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>

#define TARVEX_ANALYSIS_CHECK(condition, what)                                                   \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "==== tarvex analysis fuzz finding ====\n  %s\n  (%s)\n", what, \
                         #condition);                                                            \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)
