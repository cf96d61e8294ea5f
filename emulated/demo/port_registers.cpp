#include "emulated/demo/port_registers.h"

#include "emulated/demo/protocol.h"

namespace tarvex::emulated::demo {

void PortRegisters::reset() {
    values_.fill(0);
    values_[1] = 0x0800;
    values_[kAcquisitionPort] = kFifoResetBits;  // FIFO out of reset, capture off
    values_[5] = 0x0100;
}

std::uint16_t PortRegisters::statusMask(std::uint8_t port) {
    switch (port) {
        case kStatusPort: return kDataReadyBit | kPllLockedBit;
        case kAcquisitionPort: return kUnderflowBit;
        case kHealthPort: return kFaultBit;
        default: return 0;
    }
}

void PortRegisters::write(std::uint8_t port, std::uint16_t value) {
    values_[port] = static_cast<std::uint16_t>(value & ~statusMask(port));
}

}  // namespace tarvex::emulated::demo
