// I2C transactions, the two clock chips' registers and MDIO registers, passed through unchanged.
#include "commands/packet.h"
#include "platform/export_lock.h"

using namespace tarvex::commands;

namespace {

int setClockChip(std::uint16_t index, std::uint8_t chip, std::uint8_t device, std::uint8_t reg,
                 std::uint8_t value) {
    CommandPacket& p = packet(CMD_I2C, DIR_SET);
    p.selector = chip;
    p.payload[0] = device;
    p.payload[1] = reg;
    p.payload[2] = value;
    return sendSet(index, kClockChipTimeoutMs);
}

// Byte 6 is not written: it goes out as the previous command left it.
int getClockChip(std::uint16_t index, std::uint8_t chip, std::uint8_t device, std::uint8_t reg,
                 std::uint8_t* value) {
    if (value == nullptr) return XFER_FAIL;  // refused without I/O
    std::uint8_t inBuff[kClockChipReplyBytes] = {};  // zeroed: a short or failed reply yields 0, not stack bytes
    CommandPacket& p = packet(CMD_I2C, DIR_GET);
    p.selector = chip;
    p.payload[0] = device;
    p.payload[1] = reg;
    const int result = sendGet(index, inBuff, kClockChipReplyBytes, kClockChipTimeoutMs);
    *value = inBuff[1];
    return result;
}

}  // namespace

extern "C" int TARVEX_CALL u_I2C_Write(std::uint16_t index, std::uint8_t device,
                                       const std::uint8_t* buffer, std::uint8_t count,
                                       std::uint8_t reg, std::uint8_t aux) {
    const tarvex::platform::ExportLock lock;
    // A null buffer is harmless only for a zero-byte write, which still goes out as before.
    if (buffer == nullptr && count != 0) return 0;
    CommandPacket& p = packet(CMD_I2C, DIR_SET);
    p.length = count;
    p.selector = I2C_RAW;
    p.payload[0] = device;
    p.payload[1] = reg;
    p.payload[2] = aux;
    if (sendSet(index) != 1) return 0;  // the board would take the data for a new packet
    return sendBlock(index, buffer, count);
}

extern "C" int TARVEX_CALL u_I2C_Read(std::uint16_t index, std::uint8_t device,
                                      std::uint8_t count, std::uint8_t* buffer, std::uint8_t reg,
                                      std::uint8_t aux) {
    const tarvex::platform::ExportLock lock;
    if (buffer == nullptr && count != 0) return XFER_FAIL;  // refused without I/O
    CommandPacket& p = packet(CMD_I2C, DIR_GET);
    p.length = count;
    p.selector = I2C_RAW;
    p.payload[0] = device;
    p.payload[1] = reg;
    p.payload[2] = aux;
    return sendGet(index, buffer, count);
}

extern "C" int TARVEX_CALL u_SetSi5326(std::uint16_t index, std::uint8_t device, std::uint8_t reg,
                                       std::uint8_t value) {
    const tarvex::platform::ExportLock lock;
    return setClockChip(index, I2C_SI5326, device, reg, value);
}

extern "C" int TARVEX_CALL u_GetSi5326(std::uint16_t index, std::uint8_t device, std::uint8_t reg,
                                       std::uint8_t* value) {
    const tarvex::platform::ExportLock lock;
    return getClockChip(index, I2C_SI5326, device, reg, value);
}

extern "C" int TARVEX_CALL u_SetSi5338(std::uint16_t index, std::uint8_t device, std::uint8_t reg,
                                       std::uint8_t value) {
    const tarvex::platform::ExportLock lock;
    return setClockChip(index, I2C_SI5338, device, reg, value);
}

extern "C" int TARVEX_CALL u_GetSi5338(std::uint16_t index, std::uint8_t device, std::uint8_t reg,
                                       std::uint8_t* value) {
    const tarvex::platform::ExportLock lock;
    return getClockChip(index, I2C_SI5338, device, reg, value);
}

extern "C" int TARVEX_CALL u_SetMDIO(std::uint16_t index, std::uint8_t mdioAddr,
                                     std::uint16_t reg, std::uint16_t value) {
    const tarvex::platform::ExportLock lock;
    CommandPacket& p = packet(CMD_MDIO, DIR_SET);
    p.selector = mdioAddr;
    putWord(&p.payload[0], reg);
    putWord(&p.payload[2], value);
    return sendSet(index);
}

extern "C" int TARVEX_CALL u_GetMDIO(std::uint16_t index, std::uint8_t mdioAddr,
                                     std::uint16_t reg, std::uint16_t* value) {
    const tarvex::platform::ExportLock lock;
    if (value == nullptr) return XFER_FAIL;  // refused without I/O
    std::uint8_t RxBuff[8] = {};  // zeroed, so a short reply yields 0s, not stack bytes
    CommandPacket& p = packet(CMD_MDIO, DIR_GET);
    p.selector = mdioAddr;
    putWord(&p.payload[0], reg);
    const int result = sendGet(index, RxBuff, kRegisterReplyBytes);
    *value = replyWord(RxBuff);
    return result;
}
