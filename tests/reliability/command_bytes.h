// What each board command writes into the shared command buffer and sends, as the board
// protocol lays it down (byte 0 command, 1 direction, 2 length, 3 selector, 4.. payload), for the
// command buffer model.  Written from the protocol's tables on its own: nothing here calls the
// library, so a command that writes a byte it should not, or forgets one, disagrees with it.
#pragma once

#include <cstdint>
#include <vector>

#include "reliability/command_buffer_model.h"

namespace tarvex::reliability::wire {

using Steps = std::vector<Step>;

// System commands.
Steps Ping();
Steps ResetMcu();
Steps ResetMcuBoot();
Steps SetDeviceId(std::uint8_t id);

// Network settings; `selector` 0 address, 1 mask, 2 gateway, 3 MAC (6 bytes, the others 4).
Steps SetEth(std::uint8_t selector, const std::uint8_t* bytes);
Steps GetEth(std::uint8_t selector);

// I2C, clock chips (`chip` 0 Si5326, 1 Si5338) and MDIO.
Steps I2cWrite(std::uint8_t device, const std::uint8_t* data, std::uint8_t count,
               std::uint8_t reg, std::uint8_t aux);
Steps I2cRead(std::uint8_t device, std::uint8_t count, std::uint8_t reg, std::uint8_t aux);
Steps SetClockChip(std::uint8_t chip, std::uint8_t device, std::uint8_t reg, std::uint8_t value);
Steps GetClockChip(std::uint8_t chip, std::uint8_t device, std::uint8_t reg);
Steps SetMdio(std::uint8_t address, std::uint16_t reg, std::uint16_t value);
Steps GetMdio(std::uint8_t address, std::uint16_t reg);

// Port registers and the operations built on them.
Steps SetPort(std::uint8_t port, std::uint16_t value);
Steps GetPort(std::uint8_t port);
Steps GetStatus();
Steps ResetFifo();
Steps CaptureStart();

// Scope packets and captures (`fast`: the fast packet command).
Steps ScopePacket(bool fast);
Steps ScopeSamples(bool fast, std::uint16_t packets);

// VScope and temperature.
Steps GenerateVScopeEye();
Steps VScopePacket(std::uint8_t pageLength, std::uint8_t page);
Steps VScopeSamples();
Steps VscTemp();

// Calibration values (seven floats).
Steps StoreCalibration(const float* values);
Steps GetCalibration();

// Bytes handed to SendUSBPacket / SendReceiveUSBPacket / MPUSBWrite by the host.
Steps Raw(const std::uint8_t* data, std::uint32_t length);

// The 4 wire bytes of one calibration value and the bits of them the protocol fixes (all for
// values whose encoding it defines, none for NaN, the infinities and values too large for it).
struct CalibrationWire {
    std::uint8_t bytes[4];
    std::uint8_t mask[4];
};
CalibrationWire EncodeCalibration(float value);

}  // namespace tarvex::reliability::wire
