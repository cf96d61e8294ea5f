// The VScope eye the board builds on command, read in pages, and the VSC device's temperature.
#include "commands/vscope.h"

#include <algorithm>

#include "commands/packet.h"
#include "platform/export_lock.h"
#include "platform/platform.h"

using namespace tarvex::commands;

namespace {

void sleepMs(std::uint32_t ms) { tarvex::platform::backend().sleep(ms); }

// The settle time: one sleep, or steps of kVScopeSettleStepMs with the callback told of each.
bool settle(const VScopeProgress& progress) {
    if (!progress) {
        sleepMs(VSCOPE_SETTLE_MS);
        return true;
    }
    for (std::uint32_t waited = 0; waited < VSCOPE_SETTLE_MS;) {
        const std::uint32_t step = std::min(kVScopeSettleStepMs, VSCOPE_SETTLE_MS - waited);
        sleepMs(step);
        waited += step;
        if (!progress({VScopeStep::Kind::kSettle, waited, VSCOPE_SETTLE_MS, 0})) return false;
    }
    return true;
}

// pageLength x (page - 1) in signed 32-bit arithmetic, kept to 16 bits: page 0 wraps to the
// top of the range (65472 for 64-byte pages), pages 1 to 255 never wrap.
std::uint16_t pageOffset(std::uint8_t pageLength, std::uint8_t page) {
    return static_cast<std::uint16_t>(std::int32_t{pageLength} * (std::int32_t{page} - 1));
}

}  // namespace

extern "C" int TARVEX_CALL u_GenerateVScopeEye(std::uint16_t index) {
    const tarvex::platform::ExportLock lock;
    packet(CMD_VSCOPE, DIR_SET);  // bytes 2 to 63 go out as the last command left them
    return sendSet(index);
}

extern "C" int TARVEX_CALL u_GetVScopePacket(std::uint16_t index, std::uint8_t* reply,
                                             std::uint8_t pageLength, std::uint8_t page) {
    const tarvex::platform::ExportLock lock;
    if (reply == nullptr && pageLength != 0) return XFER_FAIL;  // refused without I/O
    const std::uint16_t offset = pageOffset(pageLength, page);
    CommandPacket& p = packet(CMD_VSCOPE, DIR_GET);
    p.length = pageLength;
    // The offset straddles the selector and the first payload byte, low byte first.
    p.selector = static_cast<std::uint8_t>(offset & 0xFF);
    p.payload[0] = static_cast<std::uint8_t>(offset >> 8);
    return sendGet(index, reply, pageLength);
}

namespace tarvex::commands {

int readVScopeEye(std::uint16_t index, std::uint8_t* eyeBuffer, const VScopeProgress& progress) {
    const platform::ExportLock lock;
    if (eyeBuffer == nullptr) return 0;  // refused without I/O
    const auto told = [&](VScopeStep::Kind kind, std::uint32_t done, std::uint32_t total,
                          int result) { return !progress || progress({kind, done, total, result}); };
    const int generated = u_GenerateVScopeEye(index);
    std::uint8_t result = static_cast<std::uint8_t>(generated);
    if (!told(VScopeStep::Kind::kGenerate, 1, 1, generated) || !settle(progress)) return 0;
    // Every page is requested whatever came before; a short page (2) ANDs the result to 0.
    for (std::uint32_t page = 1; page <= VSCOPE_PAGE_COUNT; ++page) {
        const int read =
            u_GetVScopePacket(index, eyeBuffer + VSCOPE_PAGE_SIZE * (page - 1), VSCOPE_PAGE_SIZE,
                              static_cast<std::uint8_t>(page));
        result &= static_cast<std::uint8_t>(read);
        sleepMs(VSCOPE_PAGE_GAP_MS);
        if (!told(VScopeStep::Kind::kPage, page, VSCOPE_PAGE_COUNT, read)) return 0;
    }
    return result;
}

}  // namespace tarvex::commands

extern "C" int TARVEX_CALL u_GetVScopeSamples(std::uint16_t index, std::uint8_t* eyeBuffer) {
    const tarvex::platform::ExportLock lock;
    return readVScopeEye(index, eyeBuffer);
}

extern "C" int TARVEX_CALL u_GetVSCTemp(std::uint16_t index, std::uint8_t* temperature) {
    const tarvex::platform::ExportLock lock;
    if (temperature == nullptr) return XFER_FAIL;  // refused without I/O
    // Zeroed, so a reply of fewer than two bytes reports 0 rather than stack garbage.
    std::uint8_t receive_buffer[kTemperatureReplyBytes + 1] = {};
    CommandPacket& p = packet(CMD_VSC_TEMP, DIR_GET);
    p.selector = 0;
    const int result = sendGet(index, receive_buffer, kTemperatureReplyBytes);
    *temperature = receive_buffer[1];
    return result;
}
