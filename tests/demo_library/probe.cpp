// Loads a library as a host program does (dlopen), asks it for the board count twice, unloads it
// and checks that it is gone:
//   demo_library_probe <library>    prints "counts: 2 2" and "unloaded"
#include <dlfcn.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "probe: %s\n", dlerror());
        return 2;
    }
    using Count = int (*)();
    const auto count = reinterpret_cast<Count>(dlsym(library, "u_GetDeviceCount"));
    if (count == nullptr) return 2;
    const int first = count();
    const int second = count();
    std::printf("counts: %d %d\n", first, second);
    if (dlclose(library) != 0) return 3;
    // Still mapped after the last dlclose means something pinned it in memory.
    if (dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD) != nullptr) return 4;
    std::printf("unloaded\n");
    return 0;
}
