// Loads a library as a host program does (dlopen, LoadLibraryA), asks it for the board count
// twice, unloads it and checks that it is gone:
//   demo_library_probe <library>    prints "counts: 2 2" and "unloaded"
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using Count = int (*)();

#ifdef _WIN32
using Library = HMODULE;
Library load(const char* path) { return LoadLibraryA(path); }
Count countOf(Library library) {
    // The detour through void (*)() is the one function-pointer cast that does not warn.
    return reinterpret_cast<Count>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "u_GetDeviceCount")));
}
bool unload(Library library) { return FreeLibrary(library) != 0; }
bool stillLoaded(const char* path) { return GetModuleHandleA(path) != nullptr; }
#else
using Library = void*;
Library load(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
Count countOf(Library library) { return reinterpret_cast<Count>(dlsym(library, "u_GetDeviceCount")); }
bool unload(Library library) { return dlclose(library) == 0; }
bool stillLoaded(const char* path) { return dlopen(path, RTLD_NOW | RTLD_NOLOAD) != nullptr; }
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const Library library = load(argv[1]);
    if (library == nullptr) {
        std::fprintf(stderr, "probe: %s does not load\n", argv[1]);
        return 2;
    }
    const Count count = countOf(library);
    if (count == nullptr) return 2;
    const int first = count();
    const int second = count();
    std::printf("counts: %d %d\n", first, second);
    if (!unload(library)) return 3;
    // Still there after the last unload means something pinned it in memory.
    if (stillLoaded(argv[1])) return 4;
    std::printf("unloaded\n");
    return 0;
}
