// The library's entry point in the Windows build.  Loading opens nothing and unloading closes
// nothing: the port table and the command buffer start as zeros and pipes are the host's to
// close, so every reason is answered with success and no work.
#ifdef _WIN32
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}
#endif
