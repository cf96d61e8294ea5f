// Storing and reading the board's seven scope calibration values.
#include "commands/calibration.h"

#include <cmath>

#include "commands/packet.h"
#include "platform/export_lock.h"

using namespace tarvex::commands;

namespace {

// The low 16 bits of x truncated toward zero, as a 32-bit truncation would give them, for every
// double: fmod is exact, so values beyond 32 bits keep the same modulo-65536 rule.  NaN and the
// infinities have no remainder and give 0.
std::uint16_t low16OfTrunc(double x) {
    if (!std::isfinite(x)) return 0;
    const double remainder = std::fmod(std::trunc(x), 65536.0);  // in (-65536, 65536)
    return static_cast<std::uint16_t>(static_cast<std::int32_t>(remainder));
}

void putEntry(std::uint8_t* at, CalibEntry entry) {
    putWord(at, entry.intPart);
    putWord(at + 2, entry.fracPart);
}

CalibEntry entryAt(const std::uint8_t* at) {
    return {static_cast<std::uint16_t>(at[0] | (at[1] << 8)),
            static_cast<std::uint16_t>(at[2] | (at[3] << 8))};
}

void calibrationPacket(std::uint8_t direction) {
    CommandPacket& p = packet(CMD_SYSTEM, direction);
    p.length = kCalibBlockBytes;
    p.selector = SYS_CALIBRATION;
}

}  // namespace

namespace tarvex::commands {

CalibEntry encodeCalib(float v) {
    const double value = v;  // exact
    const std::uint16_t intPart = low16OfTrunc(value);
    const std::uint16_t fracPart = low16OfTrunc((value - intPart) * CALIB_SCALE);
    return {intPart, fracPart};
}

float decodeCalib(CalibEntry entry) {
    const float fraction = static_cast<float>(entry.fracPart / CALIB_SCALE);
    return static_cast<float>(entry.intPart) + fraction;
}

}  // namespace tarvex::commands

extern "C" int TARVEX_CALL u_StoreScopeCalibValues(std::uint16_t index, const float* values) {
    const tarvex::platform::ExportLock lock;
    if (values == nullptr) return 0;  // refused without I/O
    calibrationPacket(DIR_SET);
    std::uint8_t FData[kCalibBlockBytes];
    for (std::uint32_t i = 0; i < CALIB_VALUE_COUNT; ++i)
        putEntry(FData + kCalibEntryBytes * i, encodeCalib(values[i]));
    // Two writes with no check between them: the block goes out even after a failed header.
    const std::uint8_t r1 = static_cast<std::uint8_t>(sendSet(index));
    const std::uint8_t r2 = static_cast<std::uint8_t>(sendBlock(index, FData, kCalibBlockBytes));
    return r1 & r2;
}

extern "C" int TARVEX_CALL u_GetScopeCalibValues(std::uint16_t index, float* values) {
    const tarvex::platform::ExportLock lock;
    if (values == nullptr) return XFER_FAIL;  // refused without I/O
    // Reply byte 0, then the 28-byte block.  Zeroed, so the values of a short or failed read
    // decode as 0 rather than from stack garbage.
    std::uint8_t inBuff[kCalibReplyBytes] = {};
    calibrationPacket(DIR_GET);
    const int result = sendGet(index, inBuff, sizeof inBuff);
    for (std::uint32_t i = 0; i < CALIB_VALUE_COUNT; ++i)
        values[i] = decodeCalib(entryAt(inBuff + 1 + kCalibEntryBytes * i));
    return result;
}
