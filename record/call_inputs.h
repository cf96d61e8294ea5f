// What the recorder and the replayer share: the recording's format name and version, how handles
// and bytes are written, and what each call of the seam takes, written as the recording holds it
// (the replayer builds the same from the call it gets and compares).  docs/record-format.md
// describes the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/platform.h"

namespace tarvex::record {

using Json = nlohmann::json;

inline constexpr std::string_view kFormatName = "tarvex-platform-recording";
inline constexpr int kFormatVersion = 1;

// Once a replayed program has departed from its recording, every call fails with this code
// (ERROR_NOT_SUPPORTED).
inline constexpr std::uint32_t kErrorReplayDeparted = platform::kErrorNotSupported;

// Lower-case hexadecimal, two digits a byte, nothing between.
std::string hex(const void* data, std::size_t size);
std::optional<std::vector<std::uint8_t>> bytesOf(std::string_view text);

std::string guidText(const platform::Guid& guid);

// A handle as the recording names it: "h1", "h2", ... in the order calls returned them, so that
// a replay, whose handles have other values, names its own alike.  "null" and "invalid" are
// those values; a value no call returned is "raw:0x...".
class HandleNames {
public:
    std::string name(const void* handle) const;
    // A handle a call has just returned: the next name.
    std::string add(const void* handle);

private:
    std::unordered_map<std::uintptr_t, std::uint32_t> ids_;
    std::uint32_t next_ = 1;
};

// The inputs of each call.  A pointer argument the call writes through is written as whether it
// is there; bytes the call reads are written whole.
namespace inputs {
Json getClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags);
Json enumDeviceInterfaces(const HandleNames& names, platform::DevInfo set,
                          const platform::Guid& interfaceClass, std::uint32_t memberIndex,
                          const platform::DeviceInterfaceData* data);
Json getDeviceInterfaceDetail(const HandleNames& names, platform::DevInfo set,
                              const platform::DeviceInterfaceData* data, const void* detail,
                              std::uint32_t detailSize, const std::uint32_t* requiredSize);
Json regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                const platform::RegKey* key);
Json regQueryValue(const HandleNames& names, platform::RegKey key, const char* valueName,
                   const std::uint32_t* type, const std::uint8_t* data, const std::uint32_t* size);
Json createFile(const char* name, std::uint32_t access, std::uint32_t shareMode,
                std::uint32_t disposition, std::uint32_t flags);
// readFile and writeFile: `written` is the buffer's bytes for a write, null for a read.
Json transfer(const HandleNames& names, platform::Handle file, const void* buffer,
              std::uint32_t length, const void* written, const std::uint32_t* count,
              const platform::Overlapped* overlapped);
Json deviceIoControl(const HandleNames& names, platform::Handle file, std::uint32_t code,
                     const void* in, std::uint32_t inSize, const void* out, std::uint32_t outSize,
                     const std::uint32_t* returned, const platform::Overlapped* overlapped);
Json getOverlappedResult(const HandleNames& names, platform::Handle file,
                         const platform::Overlapped* overlapped, const std::uint32_t* count,
                         bool wait);
// cancelIo, closeHandle, resetEvent, destroyDeviceInfoList, regCloseKey.
Json handle(const HandleNames& names, const void* object);
Json createEvent(bool manualReset, bool initialState);
Json waitForSingleObject(const HandleNames& names, platform::Handle object,
                         std::uint32_t timeoutMs);
Json sleep(std::uint32_t ms);
Json messageBox(const char* text, const char* caption, std::uint32_t style);
}  // namespace inputs

}  // namespace tarvex::record
