// Device discovery: which driver interface sits at a member index, whose device it is, and how
// many of them belong to a vendor/product.  Every call takes a fresh snapshot, so the answers
// always reflect the devices plugged in at the moment of the call.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "tarvex.h"
#include "usb/usb.h"

namespace tarvex::usb {
namespace {

using platform::backend;

// The interface's registry key, under HKEY_LOCAL_MACHINE; the key name buffer is 512 bytes.
constexpr std::size_t kKeyNameSize = 512;
constexpr const char* kKeyFormat =
    "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES\\"
    "{%4.2x-%2.2x-%2.2x-%.2x%.2x-%.2x%.2x%.2x%.2x%.2x%.2x}\\%s";

// The "DeviceInstance" value is read into 255 bytes.
constexpr std::uint32_t kValueSize = 255;

// Positions of the three backslashes of the path's "\\?\" prefix, which the key name spells '#'.
constexpr std::size_t kPrefixSlashes[] = {0, 1, 3};

void LowerAscii(char* text) {
    for (; *text; ++text)
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
}

// Releases the snapshot and the detail record on every way out of GetInterfacePath.
struct Snapshot {
    platform::DevInfo set;
    void* detail = nullptr;
    ~Snapshot() {
        std::free(detail);
        backend().destroyDeviceInfoList(set);
    }
};

}  // namespace

int MatchVidPid(char* path, const char* vidPid) {
    auto& os = backend();
    int match = 0;

    // The registry spells the prefix "##?#".  The characters are put back as they were rather
    // than as backslashes, so even a path not starting with the usual prefix comes back whole;
    // a path shorter than the prefix is only altered within its own text.
    const std::size_t pathLength = std::strlen(path);
    char saved[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
        if (kPrefixSlashes[i] >= pathLength) continue;
        saved[i] = path[kPrefixSlashes[i]];
        path[kPrefixSlashes[i]] = '#';
    }

    const platform::Guid guid = DEVICE_INTERFACE_GUID;
    char lpSubKey[kKeyNameSize];
    const int keyLength = std::snprintf(
        lpSubKey, sizeof lpSubKey, kKeyFormat, static_cast<unsigned>(guid.data1),
        static_cast<unsigned>(guid.data2), static_cast<unsigned>(guid.data3),
        static_cast<unsigned>(guid.data4[0]), static_cast<unsigned>(guid.data4[1]),
        static_cast<unsigned>(guid.data4[2]), static_cast<unsigned>(guid.data4[3]),
        static_cast<unsigned>(guid.data4[4]), static_cast<unsigned>(guid.data4[5]),
        static_cast<unsigned>(guid.data4[6]), static_cast<unsigned>(guid.data4[7]), path);

    // A key name that does not fit 511 characters (a path over 425 characters) names no key of
    // ours: the truncated name could name another device's key, so it is no match.
    if (keyLength > 0 && static_cast<std::size_t>(keyLength) < sizeof lpSubKey) {
        platform::RegKey key = nullptr;
        if (os.regOpenKey(lpSubKey, 0, platform::kKeyQueryValue, &key) == 0) {
            // One byte beyond the 255 the read may fill, so a value that fills them all without
            // a terminator still ends inside the buffer and is searched only within its bytes.
            char lszValue[kValueSize + 1] = {};
            std::uint32_t dwType = 0;
            std::uint32_t dwSize = kValueSize;
            if (os.regQueryValue(key, "DeviceInstance", &dwType,
                                 reinterpret_cast<std::uint8_t*>(lszValue), &dwSize) == 0) {
                lszValue[dwSize < kValueSize ? dwSize : kValueSize] = '\0';
                LowerAscii(lszValue);
                if (std::strstr(lszValue, vidPid) != nullptr) match = 1;
            }
            // A value longer than the buffer fails the read and is no match.
            os.regCloseKey(key);
        }
    }

    for (std::size_t i = 0; i < 3; ++i)
        if (kPrefixSlashes[i] < pathLength) path[kPrefixSlashes[i]] = saved[i];
    return match;
}

PathResult GetInterfacePath(std::uint32_t memberIndex, const char* vidPid, char* path,
                            std::uint32_t pathSize, std::uint32_t* pathLength) {
    auto& os = backend();
    if (pathLength) *pathLength = 0;

    const platform::DevInfo set = os.getClassDevs(
        DEVICE_INTERFACE_GUID, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
    if (set == platform::invalidHandle()) return PATH_SYSTEM_FAIL;
    Snapshot snapshot{set};

    // The record sizes come from the platform: they differ between 32-bit and 64-bit Windows.
    platform::DeviceInterfaceData intf_data{};
    intf_data.cbSize = os.deviceInterfaceDataSize();
    if (!os.enumDeviceInterfaces(set, DEVICE_INTERFACE_GUID, memberIndex, &intf_data))
        return PATH_NO_INTERFACE;

    // Expected to fail with "buffer too small" while reporting the size needed.
    std::uint32_t ReqLen = 0;
    os.getDeviceInterfaceDetail(set, &intf_data, nullptr, 0, &ReqLen);

    // A usable size holds the size field and at least the path's terminator.  One zero byte more
    // than reported keeps the path terminated even if the platform fills the record to its end.
    if (ReqLen <= platform::kDetailPathOffset) return PATH_SYSTEM_FAIL;
    snapshot.detail = std::calloc(static_cast<std::size_t>(ReqLen) + 1, 1);
    if (snapshot.detail == nullptr) return PATH_SYSTEM_FAIL;

    const std::uint32_t detailSize = os.deviceInterfaceDetailSize();
    std::memcpy(snapshot.detail, &detailSize, sizeof detailSize);
    if (!os.getDeviceInterfaceDetail(set, &intf_data, snapshot.detail, ReqLen, nullptr))
        return PATH_SYSTEM_FAIL;
    char* const interfacePath = static_cast<char*>(snapshot.detail) + platform::kDetailPathOffset;

    if (vidPid != nullptr && MatchVidPid(interfacePath, vidPid) == 0) return PATH_OTHER_DEVICE;

    // The length is told before the size test, so a caller whose buffer is too small learns
    // what it needs.  The path ends within ReqLen bytes, so its length fits 32 bits.
    const auto length = static_cast<std::uint32_t>(std::strlen(interfacePath));
    if (pathLength) *pathLength = length;
    if (path != nullptr) {
        if (pathSize <= length) return PATH_TOO_LONG;
        std::memcpy(path, interfacePath, static_cast<std::size_t>(length) + 1);
    }
    return PATH_OK;
}

}  // namespace tarvex::usb

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBGetDeviceCount(const char* vidPid) {
    using namespace tarvex::usb;
    std::uint32_t count = 0;
    // Every index is tried: a gap in the list does not end the scan.
    for (std::uint32_t index = 0; index < DEVICE_SCAN_COUNT; ++index)
        if (GetInterfacePath(index, vidPid, nullptr, 0, nullptr) == PATH_OK) ++count;
    return count;
}
