// tarvex.dll as a host program uses it: loaded by name with LoadLibraryA and each export looked
// up with GetProcAddress.  The DLL keeps its own port table and command buffer, apart from any
// library code linked into the test program itself.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tarvex.h"

namespace tarvex::wine {

// Casts an export's address to the export's own type.  The detour through void (*)() is the one
// function-pointer cast that does not warn.
template <typename Function>
Function exportAs(FARPROC address) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

class TarvexDll {
    // Declared first: the DLL is loaded before the exports below are resolved.
    std::vector<std::string> missing_;
    HMODULE module_;

public:
    TarvexDll();
    ~TarvexDll();
    TarvexDll(const TarvexDll&) = delete;
    TarvexDll& operator=(const TarvexDll&) = delete;

    HMODULE module() const { return module_; }
    // The exports that could not be found; empty when the DLL loaded whole.
    const std::vector<std::string>& missing() const { return missing_; }

#define TARVEX_DLL_EXPORT(name) decltype(&::name) name = resolve<decltype(&::name)>(#name)
    TARVEX_DLL_EXPORT(MPUSBGetDeviceCount);
    TARVEX_DLL_EXPORT(MPUSBOpen);
    TARVEX_DLL_EXPORT(MPUSBRead);
    TARVEX_DLL_EXPORT(MPUSBWrite);
    TARVEX_DLL_EXPORT(MPUSBReadInt);
    TARVEX_DLL_EXPORT(MPUSBClose);
    TARVEX_DLL_EXPORT(MPUSBGetDeviceDescriptor);
    TARVEX_DLL_EXPORT(OpenUSBPort);
    TARVEX_DLL_EXPORT(CloseUSBPort);
    TARVEX_DLL_EXPORT(SendUSBPacket);
    TARVEX_DLL_EXPORT(SendReceiveUSBPacket);
    TARVEX_DLL_EXPORT(u_GetDeviceCount);
    TARVEX_DLL_EXPORT(u_Ping);
    TARVEX_DLL_EXPORT(u_SetDeviceID);
    TARVEX_DLL_EXPORT(u_SetPort);
    TARVEX_DLL_EXPORT(u_GetPort);
    TARVEX_DLL_EXPORT(u_GetStatus);
    TARVEX_DLL_EXPORT(u_ResetFIFO);
    TARVEX_DLL_EXPORT(u_GetScopeSamples);
    TARVEX_DLL_EXPORT(u_GetEyeXY);
    TARVEX_DLL_EXPORT(u_SetEthIPAddr);
    TARVEX_DLL_EXPORT(u_GetEthIPAddr);
    TARVEX_DLL_EXPORT(u_StoreScopeCalibValues);
    TARVEX_DLL_EXPORT(u_GetScopeCalibValues);
#undef TARVEX_DLL_EXPORT

private:
    template <typename Function>
    Function resolve(const char* name) {
        FARPROC address = module_ ? GetProcAddress(module_, name) : nullptr;
        if (!address) missing_.push_back(name);
        return exportAs<Function>(address);
    }
};

}  // namespace tarvex::wine
