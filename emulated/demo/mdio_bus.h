// The board's MDIO bus with its Ethernet PHY at address 0, a gigabit PHY with the identifier
// 0x0022:0x1622 in registers 2 and 3, link up at 1000 Mb/s full duplex.  Registers are 16-bit
// numbers (clause 45 style numbering is passed through); an address with no PHY reads 0xFFFF,
// the level the bus's pull-up gives, and ignores writes.  Setting bit 15 of register 0 (reset)
// restores the PHY's registers; the bit clears itself.
#pragma once

#include <cstdint>
#include <map>

namespace tarvex::emulated::demo {

class MdioBus {
public:
    static constexpr std::uint8_t kPhyAddress = 0;

    MdioBus() { resetPhy(); }

    std::uint16_t read(std::uint8_t address, std::uint16_t reg) const;
    void write(std::uint8_t address, std::uint16_t reg, std::uint16_t value);

private:
    void resetPhy();

    std::map<std::uint16_t, std::uint16_t> phy_;
};

}  // namespace tarvex::emulated::demo
