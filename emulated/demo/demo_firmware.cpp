#include "emulated/demo/demo_firmware.h"

#include <algorithm>
#include <cstring>

#include "emulated/world.h"

namespace tarvex::emulated {

std::unique_ptr<Firmware> makeDemoFirmware() { return std::make_unique<demo::DemoFirmware>(); }

std::unique_ptr<demo::DemoFirmware> makeDemoFirmware(const demo::DemoOptions& options) {
    return std::make_unique<demo::DemoFirmware>(options);
}

}  // namespace tarvex::emulated

namespace tarvex::emulated::demo {

namespace {

// Kinds of data block a packet can announce.
constexpr std::uint8_t kNoBlock = 0;
constexpr std::uint8_t kCalibrationBlock = 1;
constexpr std::uint8_t kI2cWriteBlock = 2;

// The fast packet reply: an even number of bytes, 2 to 512.
std::size_t fastPacketBytes(std::size_t asked) {
    return std::clamp<std::size_t>(asked & ~std::size_t{1}, 2, kMaxFastPacketBytes);
}

Bytes identification(const char* text) {
    Bytes reply(kPingReplyBytes, 0);  // NUL padded, so a host can print it as a C string
    std::memcpy(reply.data(), text, std::min(std::strlen(text), kPingReplyBytes - 1));
    return reply;
}

}  // namespace

DemoFirmware::DemoFirmware(const DemoOptions& options)
    : options_(options),
      signal_(options.signal),
      fifo_(signal_, options.fifoDepth),
      vscope_(options.vscopeSeed, options.vscopeBuildTime),
      temperature_(options.temperature) {
    options_.fastPacketBytes = fastPacketBytes(options.fastPacketBytes);
    fifo_.reset(ports_.stored(kAcquisitionPort));
    i2c_.attach(Eeprom::kAddress, eeprom_);
    i2c_.attach(Si5326::kAddress, si5326_);
    i2c_.attach(Si5338::kAddress, si5338_);
}

DemoFirmware::~DemoFirmware() = default;

void DemoFirmware::receive(const std::uint8_t* data, std::size_t length, Micros now,
                           std::vector<Reply>& replies) {
    if (pending_.kind != kNoBlock) {
        const PendingBlock block = pending_;
        pending_ = {};
        if (length == block.length) {
            ++counters_.blocks;
            handleBlock(block, data);
            return;
        }
        ++counters_.missedBlocks;
    }
    if (length != kPacketBytes) {
        // The host only ever writes whole packets and announced blocks; a block whose packet
        // never arrived is not taken for a command.
        ++counters_.strayTransfers;
        return;
    }
    ++counters_.packets;
    handlePacket(Packet(data), now, replies);
}

void DemoFirmware::handlePacket(const Packet& packet, Micros now, std::vector<Reply>& replies) {
    bool handled = false;
    if (packet.isSet() || packet.isGet()) {
        switch (packet.command()) {
            case CMD_SYSTEM: handled = onSystem(packet, replies); break;
            case CMD_PORT: handled = onPort(packet, replies); break;
            case CMD_SCOPE: handled = onScope(packet, kScopePacketBytes, replies); break;
            case CMD_SCOPE_FAST: handled = onScope(packet, options_.fastPacketBytes, replies); break;
            case CMD_ETH: handled = onNetwork(packet, replies); break;
            case CMD_I2C: handled = onI2c(packet, replies); break;
            case CMD_MDIO: handled = onMdio(packet, replies); break;
            case CMD_VSCOPE: handled = onVScope(packet, now, replies); break;
            case CMD_VSC_TEMP: handled = onTemperature(packet, now, replies); break;
            default: break;
        }
    }
    // Anything else gets no reply, whatever its direction: the host's read times out.
    if (!handled) ++counters_.unknownRequests;
}

void DemoFirmware::expectBlock(const PendingBlock& block) { pending_ = block; }

void DemoFirmware::handleBlock(const PendingBlock& block, const std::uint8_t* data) {
    switch (block.kind) {
        case kCalibrationBlock: calibration_.store(data); break;
        case kI2cWriteBlock: i2c_.write(block.device, block.reg, data, block.length); break;
        default: break;
    }
}

void DemoFirmware::resetBoard() {
    // Registers, FIFO and VScope live in the MCU and its FPGA and start over; the device id,
    // network settings and calibration are in non-volatile memory, and the clock chips, the PHY
    // and the EEPROM are chips of their own.
    pending_ = {};
    ports_.reset();
    fifo_.reset(ports_.stored(kAcquisitionPort));
    vscope_.clear();
}

// ---- 0xFA system ----------------------------------------------------------------------------

bool DemoFirmware::onSystem(const Packet& packet, std::vector<Reply>& replies) {
    if (packet.selector() == SYS_CALIBRATION) return onCalibration(packet, replies);
    if (packet.isGet()) {
        if (packet.selector() != SYS_PING) return false;
        replies.push_back({identification(inBootLoader_ ? kBootLoaderId : kFirmwareId)});
        return true;
    }
    switch (packet.selector()) {
        case SYS_RESET:
            ++counters_.resets;
            inBootLoader_ = false;
            resetBoard();
            return true;
        case SYS_RESET_BOOT:
            ++counters_.bootLoaderResets;
            inBootLoader_ = true;
            resetBoard();
            return true;
        case SYS_DEVICE_ID:
            deviceId_ = packet.payload(0);
            return true;
        default:
            return false;
    }
}

bool DemoFirmware::onCalibration(const Packet& packet, std::vector<Reply>& replies) {
    if (packet.isGet()) {
        replies.push_back({calibration_.reply()});
        return true;
    }
    // The store holds exactly one block; a packet announcing another size is refused, and the
    // block that follows it is then ignored as a stray transfer.
    if (packet.length() != kCalibrationBlockBytes) return false;
    expectBlock({kCalibrationBlock, kCalibrationBlockBytes, 0, 0});
    return true;
}

// ---- 0xF0 ports -----------------------------------------------------------------------------

std::uint16_t DemoFirmware::port(std::uint8_t number) const {
    std::uint16_t value = ports_.stored(number);
    switch (number) {
        case kStatusPort:
            if (fifo_.holdsData()) value |= kDataReadyBit;
            if (pllLocked_) value |= kPllLockedBit;
            break;
        case kAcquisitionPort:
            if (fifo_.underflow()) value |= kUnderflowBit;
            break;
        case kHealthPort:
            if (fault_) value |= kFaultBit;
            break;
        default: break;
    }
    return value;
}

bool DemoFirmware::onPort(const Packet& packet, std::vector<Reply>& replies) {
    const std::uint8_t number = packet.selector();
    if (packet.isGet()) {
        replies.push_back({registerReply(number, port(number))});
        return true;
    }
    ports_.write(number, packet.payloadWord(0));
    if (number == kAcquisitionPort) fifo_.control(ports_.stored(number));
    return true;
}

// ---- 0xF6 / 0xF7 scope packets ----------------------------------------------------------------

bool DemoFirmware::onScope(const Packet& packet, std::size_t bytes, std::vector<Reply>& replies) {
    if (!packet.isGet()) return false;
    Bytes reply(bytes);
    fifo_.read(reply.data(), bytes / 2);
    replies.push_back({std::move(reply)});
    return true;
}

// ---- 0xF9 network -----------------------------------------------------------------------------

bool DemoFirmware::onNetwork(const Packet& packet, std::vector<Reply>& replies) {
    std::size_t size = 0;
    std::uint8_t* value = network_.field(packet.selector(), size);
    if (value == nullptr) return false;
    if (packet.isGet()) {
        replies.push_back({Bytes(value, value + size)});
    } else {
        std::copy(packet.payloadBytes(), packet.payloadBytes() + size, value);
    }
    return true;
}

// ---- 0xF2 I2C -----------------------------------------------------------------------------------

bool DemoFirmware::onI2c(const Packet& packet, std::vector<Reply>& replies) {
    const std::uint8_t device = packet.payload(kI2cDevice);
    const std::uint8_t reg = packet.payload(kI2cRegister);
    switch (packet.selector()) {
        case I2C_SI5326:
        case I2C_SI5338:
            // Both chips take a register address and one data byte; the firmware's two routines
            // differ only in the chip they are meant for, the address byte picks the device.
            if (packet.isGet()) {
                std::uint8_t value = 0;
                const bool ack = i2c_.read(device, reg, &value, 1);
                Bytes reply(kClockChipReplyBytes);
                reply[0] = ack ? kI2cAck : kI2cNak;
                reply[1] = value;
                replies.push_back({std::move(reply)});
            } else {
                const std::uint8_t value = packet.payload(kI2cValue);
                i2c_.write(device, reg, &value, 1);
            }
            return true;
        case I2C_RAW:
            // The aux byte carries bus options the devices on this board do not use.
            if (packet.isGet()) {
                Bytes data(packet.length());
                i2c_.read(device, reg, data.data(), data.size());
                replies.push_back({std::move(data)});
            } else {
                expectBlock({kI2cWriteBlock, packet.length(), device, reg});
            }
            return true;
        default:
            return false;
    }
}

// ---- 0xF5 MDIO ----------------------------------------------------------------------------------

bool DemoFirmware::onMdio(const Packet& packet, std::vector<Reply>& replies) {
    const std::uint8_t address = packet.selector();
    const std::uint16_t reg = packet.payloadWord(0);
    if (packet.isGet()) {
        replies.push_back({registerReply(address, mdio_.read(address, reg))});
    } else {
        mdio_.write(address, reg, packet.payloadWord(2));
    }
    return true;
}

// ---- 0xF8 VScope, 0xF1 VSC temperature ------------------------------------------------------------

bool DemoFirmware::onVScope(const Packet& packet, Micros now, std::vector<Reply>& replies) {
    if (packet.isSet()) {
        vscope_.generate(now);
        return true;
    }
    // No eye yet (still building, or never asked for): an empty reply, which the host sees as
    // a short page.
    if (!vscope_.ready(now)) {
        replies.push_back({Bytes{}});
        return true;
    }
    const std::size_t offset = packet.selector() | (packet.payload(0) << 8);
    replies.push_back({vscope_.page(offset, packet.length())});
    return true;
}

bool DemoFirmware::onTemperature(const Packet& packet, Micros now, std::vector<Reply>& replies) {
    // One sensor, number 0.
    if (!packet.isGet() || packet.selector() != 0) return false;
    const auto reading = temperature_.reading(now);
    replies.push_back({Bytes(reading.begin(), reading.end())});
    return true;
}

}  // namespace tarvex::emulated::demo
