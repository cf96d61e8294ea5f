// Port 3 bits that the library itself drives, and the capture enable toggle the capture start
// uses (not exported: host programs reach the registers through u_SetPort / u_GetPort).
#pragma once

#include <cstdint>

namespace tarvex::commands {

constexpr std::uint8_t kControlPort = 3;  // FIFO reset and capture enable live in port 3
constexpr std::uint16_t FIFO_RESET_MASK = 0x0003;
constexpr std::uint16_t CAPTURE_ENABLE_MASK = 0x0020;
constexpr std::uint32_t FIFO_RESET_HOLD_MS = 50;
constexpr std::uint32_t FIFO_RESET_SETTLE_MS = 50;

// Read port 3, write it back with the capture enable bit set (cleared).  1 when the read
// returned XFER_OK and the write was sent, else 0.
int EnableCapture(std::uint16_t index);
int DisableCapture(std::uint16_t index);

}  // namespace tarvex::commands
