/* A host program as a user writes one, built outside the tree against an installed Tarvex (CMake
 * package, pkg-config, or MinGW with tarvex.lib) and run against the demo library:
 *
 *   host_program <boards>    e.g. TARVEX_DEMO=boards=2,clock=virtual host_program 2
 *
 * It counts the boards, pings board 0, captures 100 packets and checks that an index with no
 * board is refused (and, on Windows, that the last-error code reaches GetLastError).  Exit status 0 when everything is as expected; otherwise it says what was not.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <tarvex.h>

#define PACKETS 100

static int failures = 0;

static void check(int ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "host_program: %s\n", what);
        ++failures;
    }
}

int main(int argc, char **argv) {
    static uint16_t samples[PACKETS * SAMPLES_PER_PACKET];
    uint8_t id[21] = {0};
    ScopeStats stats;
    int boards, i, low = 4096, high = -1;

    if (argc != 2) {
        fprintf(stderr, "usage: host_program <boards expected>\n");
        return 2;
    }
    boards = atoi(argv[1]);

    check(MPUSBGetDLLVersion() == MPUSB_DLL_VERSION, "the library's version is not the header's");
    check(u_GetDeviceCount() == boards, "the board count is not the one asked for");

    check(OpenUSBPort(0) == 1, "board 0 did not open");
    check(u_Ping(0, id) == XFER_OK, "board 0 did not answer the ping");
    check(strncmp((const char *)id, "TVX-SCOPE FW", 12) == 0, "the ping reply is no firmware id");

    memset(&stats, 0, sizeof stats);
    u_GetScopeSamples(0, PACKETS, samples, &stats);
    check(stats.okCount == PACKETS && stats.failCount == 0 && stats.shortCount == 0,
          "not every capture packet came back whole");
    check(stats.sampleCount == PACKETS * SAMPLES_PER_PACKET, "the sample count is not 3200");
    for (i = 0; i < PACKETS * SAMPLES_PER_PACKET; ++i) {
        if (samples[i] < low) low = samples[i];
        if (samples[i] > high) high = samples[i];
    }
    check(high <= 4095 && high - low > 1000, "the samples are no 12-bit signal with an eye");
    check(CloseUSBPort(0) == 1, "board 0 did not close");

    /* No board behind the index: refused, and the port table has no row 32. */
    check(OpenUSBPort((uint32_t)boards) == 0, "an index with no board opened");
    check(u_Ping((uint16_t)boards, id) == XFER_FAIL, "an index with no board answered a ping");
    check(OpenUSBPort(32) == 0, "index 32, beyond the port table, opened");

#ifdef _WIN32
    /* A Windows host reads the failing step's code with GetLastError, the demo DLL's too. */
    {
        uint8_t buffer[64];
        uint32_t moved = 1;
        SetLastError(0);
        check(MPUSBRead(TARVEX_INVALID_HANDLE, buffer, sizeof buffer, &moved, 10) == 0 && moved == 0,
              "a read on no handle did not fail");
        check(GetLastError() == ERROR_INVALID_HANDLE, "GetLastError is not ERROR_INVALID_HANDLE");
    }
#endif

    if (failures) return 1;
    printf("boards: %d; ping: %s; %u samples from %d packets, codes %d..%d; bad index refused\n",
           boards, (const char *)id, (unsigned)stats.sampleCount, PACKETS, low, high);
    return 0;
}
