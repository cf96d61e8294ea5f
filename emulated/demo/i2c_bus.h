// The board's I2C bus as its microcontroller drives it: devices at 7-bit addresses, each a file
// of byte registers reached by a register address followed by data bytes (the register address
// advances after each byte and wraps at 256).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

namespace tarvex::emulated::demo {

class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    virtual void write(std::uint8_t reg, std::uint8_t value) = 0;
    virtual std::uint8_t read(std::uint8_t reg) const = 0;
};

class I2cBus {
public:
    void attach(std::uint8_t address, I2cDevice& device) { devices_[address] = &device; }
    I2cDevice* device(std::uint8_t address) const;

    // `count` bytes to `address` from register `reg` on.  False when no device acknowledged
    // its address (the data is then dropped).
    bool write(std::uint8_t address, std::uint8_t reg, const std::uint8_t* data, std::size_t count);
    // `count` bytes from `address` from register `reg` on.  An address nobody acknowledges
    // reads as 0xFF bytes, the idle level of the bus, and the call returns false.
    bool read(std::uint8_t address, std::uint8_t reg, std::uint8_t* out, std::size_t count) const;

    std::uint64_t naks() const { return naks_; }

private:
    std::map<std::uint8_t, I2cDevice*> devices_;
    mutable std::uint64_t naks_ = 0;
};

}  // namespace tarvex::emulated::demo
