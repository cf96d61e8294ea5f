// Internal interface of the port table: the pair of open pipes per board index.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace tarvex::port {

// Rows 0..31; a board index addresses the row of its low 16 bits, and indexes 32..65535 have none.
inline constexpr std::uint32_t kPortCount = 32;

// SendUSBPacket and SendReceiveUSBPacket without taking the export lock: the board commands run
// them inside the command that holds it.
int sendPacket(std::uint32_t index, const std::uint8_t* data, std::uint32_t dataLength,
               std::uint32_t writeTimeoutMs);
int sendReceivePacket(std::uint32_t index, const std::uint8_t* data, std::uint32_t dataLength,
                      std::uint8_t* reply, std::uint32_t* replyLength,
                      std::uint32_t writeTimeoutMs, std::uint32_t readTimeoutMs);

// After a failed transfer on `index`: if the pipe layer left ERROR_INVALID_HANDLE, closes both
// pipes of the row and marks them INVALID_HANDLE_VALUE; any other code leaves the row as it is.
// The last-error code is left as the failed transfer set it.
void InvalidateUSBPort(std::uint32_t index);

// The row's entries: 0 never opened, INVALID_HANDLE_VALUE failed/invalidated/closed, else a
// handle.  Rows outside the table read as INVALID_HANDLE_VALUE.
platform::Handle outPipeOf(std::uint32_t index);
platform::Handle inPipeOf(std::uint32_t index);

}  // namespace tarvex::port
