// Port registers, the status flags and the read-modify-write operations built on them.
#include "commands/ports.h"

#include "commands/packet.h"
#include "platform/export_lock.h"
#include "platform/platform.h"

using namespace tarvex::commands;

namespace {

constexpr std::uint8_t kStatusPortA = 3;  // flag 0
constexpr std::uint8_t kStatusPortB = 2;  // flags 1 and 2
constexpr std::uint8_t kStatusPortC = 4;  // flag 3

void sleepMs(std::uint32_t ms) { tarvex::platform::backend().sleep(ms); }

// One read-modify-write of port 3.  A read that did not return XFER_OK leaves no valid copy of
// the register, and writing a guess back would clobber its other bits on the board: the write
// is skipped and the operation reports 0.
int rewriteControlPort(std::uint16_t index, std::uint16_t setBits, std::uint16_t clearBits) {
    std::uint16_t port3 = 0;
    std::uint8_t result = static_cast<std::uint8_t>(u_GetPort(index, kControlPort, &port3));
    if (result != XFER_OK) return 0;
    const auto value = static_cast<std::uint16_t>((port3 & ~clearBits) | setBits);
    result &= static_cast<std::uint8_t>(u_SetPort(index, kControlPort, value));
    return result;
}

}  // namespace

extern "C" int TARVEX_CALL u_SetPort(std::uint16_t index, std::uint8_t portNumber,
                                     std::uint16_t value) {
    const tarvex::platform::ExportLock lock;
    CommandPacket& p = packet(CMD_PORT, DIR_SET);
    p.selector = portNumber;
    putWord(p.payload, value);
    return sendSet(index);
}

extern "C" int TARVEX_CALL u_GetPort(std::uint16_t index, std::uint8_t portNumber,
                                     std::uint16_t* value) {
    const tarvex::platform::ExportLock lock;
    if (value == nullptr) return XFER_FAIL;  // nowhere to put the register: refused, no I/O
    // Zeroed, so a short or failed read yields the bytes received and zeros, never stack garbage.
    std::uint8_t inBuff[8] = {};
    CommandPacket& p = packet(CMD_PORT, DIR_GET);
    p.selector = portNumber;
    const int result = sendGet(index, inBuff, kRegisterReplyBytes);
    *value = replyWord(inBuff);
    return result;
}

extern "C" int TARVEX_CALL u_GetStatus(std::uint16_t index, std::uint8_t* statusFlags) {
    const tarvex::platform::ExportLock lock;
    if (statusFlags == nullptr) return 0;  // refused without I/O
    // Results 0, 1 and 2 ANDed together: 1 only for three full reads, 2 for three short ones.
    std::uint16_t value = 0;
    std::uint8_t result = static_cast<std::uint8_t>(u_GetPort(index, kStatusPortA, &value));
    statusFlags[0] = (value & 0x0080) == 0;
    result &= static_cast<std::uint8_t>(u_GetPort(index, kStatusPortB, &value));
    statusFlags[1] = (value & 0x0010) != 0;
    statusFlags[2] = (value & 0x2000) != 0;
    result &= static_cast<std::uint8_t>(u_GetPort(index, kStatusPortC, &value));
    statusFlags[3] = (value & 0x0010) == 0;
    return result;
}

extern "C" int TARVEX_CALL u_ResetFIFO(std::uint16_t index) {
    const tarvex::platform::ExportLock lock;
    // Port 3 is read once; both writes carry its other bits as read.
    std::uint16_t port3 = 0;
    std::uint8_t result = static_cast<std::uint8_t>(u_GetPort(index, kControlPort, &port3));
    // Without a full read there is no valid copy of the register to write back (it would
    // clobber the other bits); the writes are skipped but the board still gets its 100 ms.
    const bool haveRegister = result == XFER_OK;
    if (haveRegister)
        result &= static_cast<std::uint8_t>(u_SetPort(
            index, kControlPort, static_cast<std::uint16_t>(port3 & ~FIFO_RESET_MASK)));
    sleepMs(FIFO_RESET_HOLD_MS);
    if (haveRegister)
        result &= static_cast<std::uint8_t>(u_SetPort(
            index, kControlPort, static_cast<std::uint16_t>(port3 | FIFO_RESET_MASK)));
    sleepMs(FIFO_RESET_SETTLE_MS);
    return haveRegister ? result : 0;
}

namespace tarvex::commands {

int EnableCapture(std::uint16_t index) { return rewriteControlPort(index, CAPTURE_ENABLE_MASK, 0); }

int DisableCapture(std::uint16_t index) { return rewriteControlPort(index, 0, CAPTURE_ENABLE_MASK); }

}  // namespace tarvex::commands
