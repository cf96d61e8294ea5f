// The VScope eye the board builds on command, read in pages, and the VSC device's temperature.
#include "commands/packet.h"
#include "platform/platform.h"

using namespace tarvex::commands;

namespace {

constexpr std::uint32_t VSCOPE_SETTLE_MS = 1500;  // the board has a new eye ready by then
constexpr std::uint32_t VSCOPE_PAGE_GAP_MS = 25;

// pageLength x (page - 1) in signed 32-bit arithmetic, kept to 16 bits: page 0 wraps to the
// top of the range (65472 for 64-byte pages), pages 1 to 255 never wrap.
std::uint16_t pageOffset(std::uint8_t pageLength, std::uint8_t page) {
    return static_cast<std::uint16_t>(std::int32_t{pageLength} * (std::int32_t{page} - 1));
}

}  // namespace

extern "C" int TARVEX_CALL u_GenerateVScopeEye(std::uint16_t index) {
    packet(CMD_VSCOPE, DIR_SET);  // bytes 2 to 63 go out as the last command left them
    return sendSet(index);
}

extern "C" int TARVEX_CALL u_GetVScopePacket(std::uint16_t index, std::uint8_t* reply,
                                             std::uint8_t pageLength, std::uint8_t page) {
    if (reply == nullptr && pageLength != 0) return XFER_FAIL;  // refused without I/O
    const std::uint16_t offset = pageOffset(pageLength, page);
    CommandPacket& p = packet(CMD_VSCOPE, DIR_GET);
    p.length = pageLength;
    // The offset straddles the selector and the first payload byte, low byte first.
    p.selector = static_cast<std::uint8_t>(offset & 0xFF);
    p.payload[0] = static_cast<std::uint8_t>(offset >> 8);
    return sendGet(index, reply, pageLength);
}

extern "C" int TARVEX_CALL u_GetVScopeSamples(std::uint16_t index, std::uint8_t* eyeBuffer) {
    if (eyeBuffer == nullptr) return 0;  // refused without I/O
    std::uint8_t result = static_cast<std::uint8_t>(u_GenerateVScopeEye(index));
    tarvex::platform::backend().sleep(VSCOPE_SETTLE_MS);
    // Every page is requested whatever came before; a short page (2) ANDs the result to 0.
    for (int page = 1; page <= VSCOPE_PAGE_COUNT; ++page) {
        result &= static_cast<std::uint8_t>(
            u_GetVScopePacket(index, eyeBuffer + VSCOPE_PAGE_SIZE * (page - 1), VSCOPE_PAGE_SIZE,
                              static_cast<std::uint8_t>(page)));
        tarvex::platform::backend().sleep(VSCOPE_PAGE_GAP_MS);
    }
    return result;
}

extern "C" int TARVEX_CALL u_GetVSCTemp(std::uint16_t index, std::uint8_t* temperature) {
    if (temperature == nullptr) return XFER_FAIL;  // refused without I/O
    // Zeroed, so a reply of fewer than two bytes reports 0 rather than stack garbage.
    std::uint8_t receive_buffer[3] = {};
    CommandPacket& p = packet(CMD_VSC_TEMP, DIR_GET);
    p.selector = 0;
    const int result = sendGet(index, receive_buffer, 2);
    *temperature = receive_buffer[1];
    return result;
}
