#include "emulated/demo/clock_chips.h"

namespace tarvex::emulated::demo {

void ClockChip::write(std::uint8_t reg, std::uint8_t value) {
    // The chips ignore writes to their identification and status registers.
    if (readOnly_[reg]) return;
    registers_[reg] = value;
    written(reg);
}

namespace {
constexpr std::uint8_t kSi5326ResetRegister = 136;
constexpr std::uint8_t kSi5326ResetBit = 0x80;
}  // namespace

Si5326::Si5326() {
    defaults_[0] = 0x14;  // CKOUT_ALWAYS_ON, bypass off
    defaults_[2] = 0xA2;  // BWSEL
    defaults_[3] = 0x15;  // CKIN1 selected, squelch on calibration
    defaults_[4] = 0x92;  // automatic clock selection
    defaults_[134] = 0x1A;  // PARTNUM_RO[11:4]
    defaults_[135] = 0x22;  // PARTNUM_RO[3:0], REVID
    for (int reg : {128, 129, 130, 131, 132, 134, 135}) readOnly_.set(reg);
    powerOn();
}

void Si5326::written(std::uint8_t reg) {
    if (reg == kSi5326ResetRegister && (registers_[reg] & kSi5326ResetBit) != 0) powerOn();
}

Si5338::Si5338() {
    defaults_[0] = 0x01;  // REVID: B
    defaults_[2] = 0x26;  // DEV_CONFIG2: part 38
    defaults_[3] = 0x01;
    defaults_[230] = 0x10;  // outputs disabled until configured
    for (int reg : {0, 2, 3, 4, 5, 218}) readOnly_.set(reg);
    powerOn();
}

}  // namespace tarvex::emulated::demo
