// The demo board's firmware: a believable sampling-scope board with no hardware behind it.
//
// It answers the 64-byte command packets (and the data blocks that follow the I2C write and the
// calibration store), keeps port registers whose acquisition bits drive a capture FIFO fed by a
// pseudo-random NRZ signal with rise time, jitter and noise, and holds network settings, an I2C
// bus (24LC02 EEPROM at 0x50, Si5326 at 0x68, Si5338 at 0x70), an MDIO PHY at address 0, a VScope
// eye that takes time to build, a warming VSC temperature sensor and a calibration store.
//
//   auto firmware = tarvex::emulated::makeDemoFirmware(options);
//   auto& demo = *firmware;                        // keep a reference for the test's checks
//   auto& board = world.plugBoard(std::move(firmware));
//   ... demo.port(3), demo.eepromBytes(), demo.counters().unknownRequests ...
//
// A board plugged with the default firmware is reached with
//   dynamic_cast<tarvex::emulated::demo::DemoFirmware&>(board.firmware()).
//
// What the board answers (a DIR_GET packet always gets exactly one reply, a DIR_SET packet none;
// an unknown command, direction or selector gets nothing and is counted):
//   - Scope (0xF6) and fast (0xF7) packets read the capture FIFO (see sample_fifo.h); an empty
//     FIFO reads as zero words and flags underflow in port 3 bit 7, so a host that reads with
//     no capture started sees "no data" rather than made-up samples.
//   - I2C devices are addressed with 7-bit addresses; an address nobody answers reads 0xFF
//     bytes (clock-chip commands: status byte 0x01 instead of 0x00).
//   - A VScope page asked for before the eye is built is an empty (0-byte) reply.
//   - The board sends no interrupt data.
//
// Transfers: a 64-byte transfer is a command packet, unless the packet before it announced a
// data block (I2C write, calibration store), which the next transfer is taken for when its
// length matches, 0 and 64 bytes included.  A transfer of any other length is a stray and is
// ignored (counted), so a block whose packet never arrived is not taken for a command; a packet
// whose block never came is counted, and a 64-byte transfer in the block's place is taken as
// the next packet.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "emulated/demo/calibration_store.h"
#include "emulated/demo/clock_chips.h"
#include "emulated/demo/eeprom.h"
#include "emulated/demo/i2c_bus.h"
#include "emulated/demo/mdio_bus.h"
#include "emulated/demo/network_settings.h"
#include "emulated/demo/port_registers.h"
#include "emulated/demo/protocol.h"
#include "emulated/demo/sample_fifo.h"
#include "emulated/demo/signal_source.h"
#include "emulated/demo/temperature.h"
#include "emulated/demo/vscope.h"
#include "emulated/firmware.h"

namespace tarvex::emulated::demo {

struct DemoOptions {
    SignalOptions signal;
    std::size_t fifoDepth = 16384;        // sample words the FIFO holds
    // Bytes in a fast packet (0xF7) reply: 64, what the library asks for; up to 512 (even).
    std::size_t fastPacketBytes = 64;
    // Emulated time a VScope eye takes to build (the host waits 1500 ms before reading it).
    Micros vscopeBuildTime = 1'200'000;
    std::uint64_t vscopeSeed = 0x5C0BE;
    TemperatureOptions temperature;
};

// What the firmware has seen, for tests and the demo tool.
struct DemoCounters {
    std::uint64_t packets = 0;          // command packets received
    std::uint64_t blocks = 0;           // data blocks taken after their packet
    std::uint64_t unknownRequests = 0;  // packets with an unknown command, direction or selector
    std::uint64_t strayTransfers = 0;   // transfers that were neither a packet nor an awaited block
    std::uint64_t missedBlocks = 0;     // announced blocks that never came
    std::uint32_t resets = 0;           // reset requests (0xFA selector 1)
    std::uint32_t bootLoaderResets = 0;  // reset-into-boot-loader requests (0xFA selector 2)
};

class DemoFirmware final : public Firmware {
public:
    explicit DemoFirmware(const DemoOptions& options = {});
    ~DemoFirmware() override;
    DemoFirmware(const DemoFirmware&) = delete;  // its parts refer to each other
    DemoFirmware& operator=(const DemoFirmware&) = delete;

    void receive(const std::uint8_t* data, std::size_t length, Micros now,
                 std::vector<Reply>& replies) override;

    // ---- identity and system state ----
    static constexpr const char* kFirmwareId = "TVX-SCOPE FW 1.04";
    static constexpr const char* kBootLoaderId = "TVX-SCOPE BOOT 1.00";
    std::uint8_t deviceId() const { return deviceId_; }
    // Set by a reset into the boot loader, cleared by a plain reset.  The demo board keeps
    // answering every command in the boot loader; only its ping says where it is.
    bool inBootLoader() const { return inBootLoader_; }
    const DemoCounters& counters() const { return counters_; }
    const DemoOptions& options() const { return options_; }

    // ---- ports and acquisition ----
    // A port register as the host reads it (status bits included).
    std::uint16_t port(std::uint8_t number) const;
    const SampleFifo& fifo() const { return fifo_; }
    // Board conditions behind the status bits.
    void setPllLocked(bool locked) { pllLocked_ = locked; }
    void setFault(bool fault) { fault_ = fault; }

    // ---- stored settings and peripherals ----
    const NetworkSettings& network() const { return network_; }
    const CalibrationStore& calibration() const { return calibration_; }
    const Eeprom& eeprom() const { return eeprom_; }
    const std::array<std::uint8_t, Eeprom::kSize>& eepromBytes() const { return eeprom_.bytes(); }
    const Si5326& si5326() const { return si5326_; }
    const Si5338& si5338() const { return si5338_; }
    const I2cBus& i2c() const { return i2c_; }
    const MdioBus& mdio() const { return mdio_; }
    const VScope& vscope() const { return vscope_; }
    const VscTemperature& temperature() const { return temperature_; }

private:
    // The data block a packet announced, taken by the next transfer.
    struct PendingBlock {
        std::uint8_t kind = 0;  // 0: none
        std::size_t length = 0;
        std::uint8_t device = 0;
        std::uint8_t reg = 0;
    };

    void handlePacket(const Packet& packet, Micros now, std::vector<Reply>& replies);
    void expectBlock(const PendingBlock& block);
    void handleBlock(const PendingBlock& block, const std::uint8_t* data);

    bool onSystem(const Packet& packet, std::vector<Reply>& replies);
    bool onPort(const Packet& packet, std::vector<Reply>& replies);
    bool onScope(const Packet& packet, std::size_t bytes, std::vector<Reply>& replies);
    bool onCalibration(const Packet& packet, std::vector<Reply>& replies);
    bool onNetwork(const Packet& packet, std::vector<Reply>& replies);
    bool onI2c(const Packet& packet, std::vector<Reply>& replies);
    bool onMdio(const Packet& packet, std::vector<Reply>& replies);
    bool onVScope(const Packet& packet, Micros now, std::vector<Reply>& replies);
    bool onTemperature(const Packet& packet, Micros now, std::vector<Reply>& replies);

    void resetBoard();

    DemoOptions options_;
    DemoCounters counters_;
    PortRegisters ports_;
    SignalSource signal_;
    SampleFifo fifo_;
    NetworkSettings network_;
    CalibrationStore calibration_;
    I2cBus i2c_;
    Eeprom eeprom_;
    Si5326 si5326_;
    Si5338 si5338_;
    MdioBus mdio_;
    VScope vscope_;
    VscTemperature temperature_;
    std::uint8_t deviceId_ = 0;
    bool inBootLoader_ = false;
    bool pllLocked_ = true;
    bool fault_ = false;
    PendingBlock pending_;
};

}  // namespace tarvex::emulated::demo

namespace tarvex::emulated {

// A demo board's firmware with default options (also declared with the world).
std::unique_ptr<Firmware> makeDemoFirmware();
// A demo board's firmware with the given options.
std::unique_ptr<demo::DemoFirmware> makeDemoFirmware(const demo::DemoOptions& options);

}  // namespace tarvex::emulated
