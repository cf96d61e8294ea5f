// Device discovery: which driver interface sits at a member index, whose device it is, and how
// many of them belong to a vendor/product.  Every call takes a fresh snapshot, so the answers
// always reflect the devices plugged in at the moment of the call.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/export_lock.h"
#include "platform/platform.h"
#include "tarvex.h"
#include "usb/usb.h"

namespace tarvex::usb {
namespace {

using platform::backend;

// The interface's registry key, under HKEY_LOCAL_MACHINE: this prefix, naming the class GUID,
// followed by the interface path.  The key name buffer is 512 bytes.
constexpr std::size_t kKeyNameSize = 512;
constexpr const char* kKeyPrefixFormat =
    "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES\\"
    "{%4.2x-%2.2x-%2.2x-%.2x%.2x-%.2x%.2x%.2x%.2x%.2x%.2x}\\";

// The "DeviceInstance" value is read into 255 bytes.
constexpr std::uint32_t kValueSize = 255;

// Positions of the three backslashes of the path's "\\?\" prefix, which the key name spells '#'.
constexpr std::size_t kPrefixSlashes[] = {0, 1, 3};

void lowerAscii(char* text) {
    for (; *text; ++text)
        if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
}

// The key name's prefix is the same for every interface: formatted once, not once per interface
// of every count (formatting it was a fifth of a count's time).
struct KeyPrefix {
    char text[kKeyNameSize] = {};
    std::size_t length = 0;
};

const KeyPrefix& keyNamePrefix() {
    static const KeyPrefix prefix = [] {
        const platform::Guid guid = DEVICE_INTERFACE_GUID;
        KeyPrefix p;
        const int n = std::snprintf(
            p.text, sizeof p.text, kKeyPrefixFormat, static_cast<unsigned>(guid.data1),
            static_cast<unsigned>(guid.data2), static_cast<unsigned>(guid.data3),
            static_cast<unsigned>(guid.data4[0]), static_cast<unsigned>(guid.data4[1]),
            static_cast<unsigned>(guid.data4[2]), static_cast<unsigned>(guid.data4[3]),
            static_cast<unsigned>(guid.data4[4]), static_cast<unsigned>(guid.data4[5]),
            static_cast<unsigned>(guid.data4[6]), static_cast<unsigned>(guid.data4[7]));
        p.length = n > 0 ? static_cast<std::size_t>(n) : 0;
        return p;
    }();
    return prefix;
}

// A snapshot of the interfaces present, walked by member index.  GetInterfacePath takes one for
// its one index; MPUSBGetDeviceCount takes one for all 127, so a count costs one snapshot instead
// of 127 and its indexes all describe the same moment.  The snapshot and the detail record are
// released on every way out.
class InterfaceList {
public:
    InterfaceList()
        : set_(backend().getClassDevs(DEVICE_INTERFACE_GUID, platform::kDigcfPresent |
                                                                 platform::kDigcfDeviceInterface)) {}
    ~InterfaceList() {
        std::free(detail_);
        if (taken()) backend().destroyDeviceInfoList(set_);
    }
    InterfaceList(const InterfaceList&) = delete;
    InterfaceList& operator=(const InterfaceList&) = delete;

    bool taken() const { return set_ != platform::invalidHandle(); }

    // What GetInterfacePath reports for `memberIndex`, from this snapshot.
    PathResult find(std::uint32_t memberIndex, const char* vidPid, char* path,
                    std::uint32_t pathSize, std::uint32_t* pathLength);

private:
    // A zeroed detail record of `size` bytes; the memory is kept for the next index.
    void* Detail(std::size_t size);

    platform::DevInfo set_;
    void* detail_ = nullptr;
    std::size_t detailCapacity_ = 0;
};

void* InterfaceList::Detail(std::size_t size) {
    if (size > detailCapacity_) {
        std::free(detail_);
        detailCapacity_ = 0;
        detail_ = std::malloc(size);
        if (detail_ == nullptr) return nullptr;
        detailCapacity_ = size;
    }
    return std::memset(detail_, 0, size);
}

}  // namespace

int MatchVidPid(char* path, const char* vidPid) {
    const platform::ExportLock lock;
    auto& os = backend();
    int match = 0;

    // The key name is the prefix and the path, with the path's "\\?\" spelled "##?#" as the
    // registry spells it.  It is built beside the path, which is left as it is; a path shorter
    // than those four characters has only its own characters respelled.
    const KeyPrefix& prefix = keyNamePrefix();
    const std::size_t pathLength = std::strlen(path);
    const std::size_t keyLength = prefix.length + pathLength;

    // A key name that does not fit 511 characters (a path over 425 characters) names no key of
    // ours: the truncated name could name another device's key, so it is no match.
    if (prefix.length > 0 && keyLength < kKeyNameSize) {
        char lpSubKey[kKeyNameSize];
        std::memcpy(lpSubKey, prefix.text, prefix.length);
        std::memcpy(lpSubKey + prefix.length, path, pathLength + 1);
        for (std::size_t at : kPrefixSlashes)
            if (at < pathLength) lpSubKey[prefix.length + at] = '#';

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
                lowerAscii(lszValue);
                if (std::strstr(lszValue, vidPid) != nullptr) match = 1;
            }
            // A value longer than the buffer fails the read and is no match.
            os.regCloseKey(key);
        }
    }

    return match;
}

PathResult InterfaceList::find(std::uint32_t memberIndex, const char* vidPid, char* path,
                               std::uint32_t pathSize, std::uint32_t* pathLength) {
    auto& os = backend();
    if (pathLength) *pathLength = 0;

    // The record sizes come from the platform: they differ between 32-bit and 64-bit Windows.
    platform::DeviceInterfaceData intf_data{};
    intf_data.cbSize = os.deviceInterfaceDataSize();
    if (!os.enumDeviceInterfaces(set_, DEVICE_INTERFACE_GUID, memberIndex, &intf_data))
        return PATH_NO_INTERFACE;

    // Expected to fail with "buffer too small" while reporting the size needed.
    std::uint32_t ReqLen = 0;
    os.getDeviceInterfaceDetail(set_, &intf_data, nullptr, 0, &ReqLen);

    // A usable size holds the size field and at least the path's terminator.  One zero byte more
    // than reported keeps the path terminated even if the platform fills the record to its end.
    if (ReqLen <= platform::kDetailPathOffset) return PATH_SYSTEM_FAIL;
    void* const detail = Detail(static_cast<std::size_t>(ReqLen) + 1);
    if (detail == nullptr) return PATH_SYSTEM_FAIL;

    const std::uint32_t detailSize = os.deviceInterfaceDetailSize();
    std::memcpy(detail, &detailSize, sizeof detailSize);
    if (!os.getDeviceInterfaceDetail(set_, &intf_data, detail, ReqLen, nullptr))
        return PATH_SYSTEM_FAIL;
    char* const interfacePath = static_cast<char*>(detail) + platform::kDetailPathOffset;

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

PathResult GetInterfacePath(std::uint32_t memberIndex, const char* vidPid, char* path,
                            std::uint32_t pathSize, std::uint32_t* pathLength) {
    const platform::ExportLock lock;
    if (pathLength) *pathLength = 0;
    InterfaceList interfaces;
    if (!interfaces.taken()) return PATH_SYSTEM_FAIL;
    return interfaces.find(memberIndex, vidPid, path, pathSize, pathLength);
}

}  // namespace tarvex::usb

extern "C" TARVEX_API uint32_t TARVEX_CALL MPUSBGetDeviceCount(const char* vidPid) {
    const tarvex::platform::ExportLock lock;
    using namespace tarvex::usb;
    std::uint32_t count = 0;
    // Index by index as GetInterfacePath would answer each, from one snapshot for all of them.
    // A snapshot that cannot be taken fails only the index it was wanted for, as that index's
    // own snapshot would, and the next index asks for one again.  Every index is tried: a gap in
    // the list does not end the scan.
    std::optional<InterfaceList> interfaces;
    for (std::uint32_t index = 0; index < DEVICE_SCAN_COUNT; ++index) {
        if (!interfaces) {
            interfaces.emplace();
            if (!interfaces->taken()) {
                interfaces.reset();
                continue;
            }
        }
        if (interfaces->find(index, vidPid, nullptr, 0, nullptr) == PATH_OK) ++count;
    }
    return count;
}
