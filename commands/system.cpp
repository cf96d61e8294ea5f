// System commands: the About box, the API revision, the device count, ping, the two resets and
// the device id.
#include "commands/system.h"

#include "commands/packet.h"
#include "platform/export_lock.h"
#include "platform/platform.h"
#include "tarvex.h"

using namespace tarvex::commands;

extern "C" TARVEX_API int TARVEX_CALL u_About(void) {
    namespace platform = tarvex::platform;
    // Modal, no owner window, OK button with the information icon.
    return platform::backend().messageBox(kAboutText, kAboutCaption,
                                          platform::kMbOk | platform::kMbIconInformation);
}

extern "C" TARVEX_API int TARVEX_CALL u_GetAPIRev(void) { return TARVEX_API_REVISION; }

extern "C" TARVEX_API int TARVEX_CALL u_GetDeviceCount(void) {
    const tarvex::platform::ExportLock lock;
    return static_cast<int>(MPUSBGetDeviceCount(TARVEX_BOARD_VID_PID));
}

extern "C" TARVEX_API int TARVEX_CALL u_Ping(uint16_t index, uint8_t* reply) {
    const tarvex::platform::ExportLock lock;
    // With nowhere to put the reply the ping is refused before it touches the shared packet.
    if (reply == nullptr) return XFER_FAIL;
    auto& p = packet(CMD_SYSTEM, DIR_GET);
    p.selector = SYS_PING;
    return sendGet(index, reply, kPingReplyBytes);
}

extern "C" TARVEX_API int TARVEX_CALL u_Reset_MCU(uint16_t index) {
    const tarvex::platform::ExportLock lock;
    auto& p = packet(CMD_SYSTEM, DIR_SET);
    p.selector = SYS_RESET;
    return sendSet(index);
}

extern "C" TARVEX_API int TARVEX_CALL u_Reset_MCU_Boot(uint16_t index) {
    const tarvex::platform::ExportLock lock;
    auto& p = packet(CMD_SYSTEM, DIR_SET);
    p.selector = SYS_RESET_BOOT;
    return sendSet(index);
}

extern "C" TARVEX_API int TARVEX_CALL u_SetDeviceID(uint16_t index, uint8_t deviceId) {
    const tarvex::platform::ExportLock lock;
    auto& p = packet(CMD_SYSTEM, DIR_SET);
    p.selector = SYS_DEVICE_ID;
    p.payload[0] = deviceId;
    return sendSet(index);
}
