// What the board's status and temperature readings mean, for every command that shows them
// (tarvex status, tarvex temp and vscope, the live view).
#pragma once

#include <cstdint>

namespace tarvex::cli {

// The four status flags of u_GetStatus, where they come from and what a 1 means on the board.
struct StatusFlagInfo {
    const char* key;
    const char* meaning;
    const char* source;
};
inline constexpr StatusFlagInfo kStatusFlags[4] = {
    {"fifoOk", "no FIFO underflow", "port 3 bit 7 clear"},
    {"dataReady", "samples ready", "port 2 bit 4 set"},
    {"pllLocked", "sampling PLL locked", "port 2 bit 13 set"},
    {"frontEndOk", "no front-end fault", "port 4 bit 4 clear"},
};

// The temperature byte is whole degrees Celsius, two's complement: the VSC device reports
// below-zero readings on a cold start.
inline int temperatureOf(std::uint8_t reading) { return static_cast<std::int8_t>(reading); }

}  // namespace tarvex::cli
