// The board's network settings: address bytes travel in the caller's array order, unchanged.
#include <cstring>

#include "commands/packet.h"
#include "platform/export_lock.h"

using namespace tarvex::commands;

namespace {

int setAddress(std::uint16_t index, std::uint8_t selector, const std::uint8_t* bytes,
               std::uint32_t count) {
    if (bytes == nullptr) return 0;  // nothing to send: refused without I/O
    CommandPacket& p = packet(CMD_ETH, DIR_SET);
    p.selector = selector;
    std::memcpy(p.payload, bytes, count);
    return sendSet(index);
}

// The reply lands straight in the caller's array; a short one writes only the bytes received.
int getAddress(std::uint16_t index, std::uint8_t selector, std::uint8_t* bytes,
               std::uint32_t count) {
    if (bytes == nullptr) return XFER_FAIL;  // nowhere to put the reply: refused without I/O
    CommandPacket& p = packet(CMD_ETH, DIR_GET);
    p.selector = selector;
    return sendGet(index, bytes, count);
}

}  // namespace

extern "C" int TARVEX_CALL u_SetEthIPAddr(std::uint16_t index, const std::uint8_t* addr) {
    const tarvex::platform::ExportLock lock;
    return setAddress(index, ETH_IP_ADDR, addr, kIpAddressBytes);
}

extern "C" int TARVEX_CALL u_GetEthIPAddr(std::uint16_t index, std::uint8_t* addr) {
    const tarvex::platform::ExportLock lock;
    return getAddress(index, ETH_IP_ADDR, addr, kIpAddressBytes);
}

extern "C" int TARVEX_CALL u_SetEthIPMask(std::uint16_t index, const std::uint8_t* addr) {
    const tarvex::platform::ExportLock lock;
    return setAddress(index, ETH_IP_MASK, addr, kIpAddressBytes);
}

extern "C" int TARVEX_CALL u_GetEthIPMask(std::uint16_t index, std::uint8_t* addr) {
    const tarvex::platform::ExportLock lock;
    return getAddress(index, ETH_IP_MASK, addr, kIpAddressBytes);
}

extern "C" int TARVEX_CALL u_SetEthIPGateway(std::uint16_t index, const std::uint8_t* addr) {
    const tarvex::platform::ExportLock lock;
    return setAddress(index, ETH_IP_GATEWAY, addr, kIpAddressBytes);
}

extern "C" int TARVEX_CALL u_GetEthIPGateway(std::uint16_t index, std::uint8_t* addr) {
    const tarvex::platform::ExportLock lock;
    return getAddress(index, ETH_IP_GATEWAY, addr, kIpAddressBytes);
}

extern "C" int TARVEX_CALL u_SetEthMACAddress(std::uint16_t index, const std::uint8_t* mac) {
    const tarvex::platform::ExportLock lock;
    return setAddress(index, ETH_MAC_ADDR, mac, kMacAddressBytes);
}

extern "C" int TARVEX_CALL u_GetEthMACAddress(std::uint16_t index, std::uint8_t* mac) {
    const tarvex::platform::ExportLock lock;
    if (mac == nullptr) return XFER_FAIL;
    // The only network command that writes the length byte; it stays 6 for later commands.
    outBuff.length = kMacAddressBytes;
    return getAddress(index, ETH_MAC_ADDR, mac, kMacAddressBytes);
}
