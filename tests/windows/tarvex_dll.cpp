#include "tarvex_dll.h"

namespace tarvex::wine {

// Found beside the test program, where the build puts a copy, as a host program ships it.
TarvexDll::TarvexDll() : module_(LoadLibraryA("tarvex.dll")) {}

TarvexDll::~TarvexDll() {
    if (module_) FreeLibrary(module_);
}

}  // namespace tarvex::wine
