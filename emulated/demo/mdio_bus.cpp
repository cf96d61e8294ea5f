#include "emulated/demo/mdio_bus.h"

namespace tarvex::emulated::demo {

namespace {

constexpr std::uint16_t kControl = 0;
constexpr std::uint16_t kResetBit = 0x8000;

bool readOnly(std::uint16_t reg) {
    // Status, identifiers, link partner ability, 1000BASE-T status, extended status.
    return reg == 1 || reg == 2 || reg == 3 || reg == 5 || reg == 10 || reg == 15;
}

}  // namespace

void MdioBus::resetPhy() {
    phy_ = {
        {0, 0x1140},   // auto-negotiation enabled, 1000 Mb/s, full duplex
        {1, 0x796D},   // link up, auto-negotiation complete
        {2, 0x0022},   // PHY identifier
        {3, 0x1622},
        {4, 0x01E1},   // advertised: 10/100 half and full
        {5, 0xC5E1},   // link partner ability
        {9, 0x0300},   // advertised: 1000BASE-T half and full
        {10, 0x3C00},  // 1000BASE-T status: link partner 1000 full/half, receivers OK
        {15, 0x3000},  // extended status: 1000BASE-T capable
    };
}

std::uint16_t MdioBus::read(std::uint8_t address, std::uint16_t reg) const {
    if (address != kPhyAddress) return 0xFFFF;
    const auto found = phy_.find(reg);
    return found == phy_.end() ? 0 : found->second;
}

void MdioBus::write(std::uint8_t address, std::uint16_t reg, std::uint16_t value) {
    if (address != kPhyAddress || readOnly(reg)) return;
    if (reg == kControl && (value & kResetBit) != 0) {
        resetPhy();
        return;
    }
    phy_[reg] = value;
}

}  // namespace tarvex::emulated::demo
