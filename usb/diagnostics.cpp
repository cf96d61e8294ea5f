// The pipe layer's diagnostics.
//
// Why a library prints at all: the pipe layer's failures have always been announced on standard
// output as one short line ("Error: 997"), and host programs' logs, and the people who read
// them, expect those lines; the result and the last-error code still say everything a program
// needs.  Only this layer prints, only these lines, and printing never changes the last-error
// code the caller is to see.
#include <cstdio>

#include "usb/usb.h"

namespace tarvex::usb {

void printDiagnostic(const char* format) {
    KeepLastError keep;
    std::printf(format, static_cast<int>(keep.code()));
    std::fflush(stdout);
}

}  // namespace tarvex::usb
