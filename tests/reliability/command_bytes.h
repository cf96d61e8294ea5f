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
Steps ping();
Steps resetMcu();
Steps resetMcuBoot();
Steps setDeviceId(std::uint8_t id);

// Network settings; `selector` 0 address, 1 mask, 2 gateway, 3 MAC (6 bytes, the others 4).
Steps setEth(std::uint8_t selector, const std::uint8_t* bytes);
Steps getEth(std::uint8_t selector);

// I2C, clock chips (`chip` 0 Si5326, 1 Si5338) and MDIO.
Steps i2cWrite(std::uint8_t device, const std::uint8_t* data, std::uint8_t count,
               std::uint8_t reg, std::uint8_t aux);
Steps i2cRead(std::uint8_t device, std::uint8_t count, std::uint8_t reg, std::uint8_t aux);
Steps setClockChip(std::uint8_t chip, std::uint8_t device, std::uint8_t reg, std::uint8_t value);
Steps getClockChip(std::uint8_t chip, std::uint8_t device, std::uint8_t reg);
Steps setMdio(std::uint8_t address, std::uint16_t reg, std::uint16_t value);
Steps getMdio(std::uint8_t address, std::uint16_t reg);

// Port registers and the operations built on them.
Steps setPort(std::uint8_t port, std::uint16_t value);
Steps getPort(std::uint8_t port);
Steps getStatus();
Steps resetFifo();
Steps captureStart();

// Scope packets and captures (`fast`: the fast packet command).
Steps scopePacket(bool fast);
Steps scopeSamples(bool fast, std::uint16_t packets);

// VScope and temperature.
Steps generateVScopeEye();
Steps vScopePacket(std::uint8_t pageLength, std::uint8_t page);
Steps vScopeSamples();
Steps vscTemp();

// Calibration values (seven floats).
Steps storeCalibration(const float* values);
Steps getCalibration();

// Bytes handed to SendUSBPacket / SendReceiveUSBPacket / MPUSBWrite by the host.
Steps raw(const std::uint8_t* data, std::uint32_t length);

// The 4 wire bytes of one calibration value and the bits of them the protocol fixes (all for
// values whose encoding it defines, none for NaN, the infinities and values too large for it).
struct CalibrationWire {
    std::uint8_t bytes[4];
    std::uint8_t mask[4];
};
CalibrationWire encodeCalibration(float value);

}  // namespace tarvex::reliability::wire
