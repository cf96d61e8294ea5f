// The soak run: a long stream of commands against a demo board on the virtual clock, and what it
// does to the process's resident memory once warmed up.  The emulated world keeps bounded
// records, so after the warm-up (which fills them) memory must stay flat.
//
//   tarvex_soak [--commands N] [--warm-up N]      defaults: 1,000,000 and 100,000
//
// Prints one line with the figure; exits 1 when memory grew by 1 MiB or more.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "emulated/demo_world.h"
#include "platform/platform.h"
#include "tarvex.h"

namespace {

constexpr double kGoalBytes = 1024.0 * 1024.0;

// Resident set size in bytes (Linux: the second field of /proc/self/statm, in pages).
double residentBytes() {
    std::ifstream statm("/proc/self/statm");
    double size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4096.0;
}

// One command of the mix: mostly register traffic and pings, now and then a short capture and
// a calibration or network round, as a live view and a bench script would issue them.
bool command(std::uint64_t n) {
    static std::uint16_t samples[16 * SAMPLES_PER_PACKET];
    switch (n % 10) {
    case 0: {
        ScopeStats stats{};
        u_GetScopeSamples(0, 16, samples, &stats);
        return stats.okCount == 16;
    }
    case 1: {
        std::uint8_t reply[20];
        return u_Ping(0, reply) == XFER_OK;
    }
    case 2: {
        float values[CALIB_VALUE_COUNT];
        return u_GetScopeCalibValues(0, values) == XFER_OK;
    }
    case 3: {
        std::uint8_t ip[4];
        return u_GetEthIPAddr(0, ip) == XFER_OK;
    }
    case 4: return u_SetPort(0, 9, static_cast<std::uint16_t>(n)) == 1;
    default: {
        std::uint16_t value = 0;
        return u_GetPort(0, 9, &value) == XFER_OK;
    }
    }
}

std::uint64_t argument(int argc, char** argv, const char* name, std::uint64_t fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::strtoull(argv[i + 1], nullptr, 10);
    return fallback;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t commands = argument(argc, argv, "--commands", 1'000'000);
    const std::uint64_t warmUp = argument(argc, argv, "--warm-up", 100'000);

    tarvex::emulated::DemoConfig config;
    config.clock = tarvex::emulated::ClockMode::kVirtual;
    tarvex::emulated::DemoWorld demo(config);
    tarvex::platform::ScopedBackend use(demo.backend());
    if (OpenUSBPort(0) != 1) {
        std::fprintf(stderr, "soak: the demo board did not open\n");
        return 1;
    }
    std::uint64_t failed = 0;
    for (std::uint64_t n = 0; n < warmUp; ++n) failed += !command(n);
    const double before = residentBytes();
    for (std::uint64_t n = 0; n < commands; ++n) failed += !command(n);
    const double after = residentBytes();
    CloseUSBPort(0);

    const double grown = after - before;
    std::printf("soak: %llu commands after %llu of warm-up (%llu failed), virtual %.0f s; resident "
                "memory %.1f MiB, grew by %.0f KiB (goal < 1024 KiB): %s\n",
                static_cast<unsigned long long>(commands),
                static_cast<unsigned long long>(warmUp), static_cast<unsigned long long>(failed),
                demo.world().nowMs() / 1000.0, after / (1024.0 * 1024.0), grown / 1024.0,
                grown < kGoalBytes && failed == 0 ? "met" : "MISSED");
    return grown < kGoalBytes && failed == 0 ? 0 : 1;
}
