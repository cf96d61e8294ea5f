// The demo library's backend: where the shipped library reaches the operating system, this one
// reaches an emulated driver with demo boards, set up once from the TARVEX_DEMO environment
// variable in the grammar the tool's --demo options use.
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

#include "emulated/demo_config.h"
#include "emulated/demo_world.h"
#include "platform/platform.h"

namespace tarvex::platform {
namespace {

// What TARVEX_DEMO asks for.  A value that cannot be read is said once, on standard error, and
// gives a driver with no boards: a typing error in the environment must not stop the host
// program, and no board is better than a board other than the one asked for.
emulated::DemoConfig configFromEnvironment() {
    const char* text = std::getenv("TARVEX_DEMO");
    emulated::DemoConfigResult result = emulated::parseDemoConfig(text ? text : "");
    if (!result.error) return result.config;
    std::fprintf(stderr,
                 "tarvex-demo: TARVEX_DEMO: %s is not accepted; give %s. "
                 "The demo driver lists no boards.\n",
                 result.error->given.c_str(), result.error->accepted.c_str());
    emulated::DemoConfig none;
    none.boards = 0;
    return none;
}

// The demo world behind the platform's calls.  On Windows a host program reads the last-error
// code with GetLastError, so after every call the world's code is also made the thread's own, as
// the real calls would leave it.  Elsewhere the library is the code's only reader.
class DemoBackend final : public Backend {
public:
    explicit DemoBackend(const emulated::DemoConfig& config) : demo_(config) {}

    std::uint32_t deviceInterfaceDataSize() const override {
        return world().deviceInterfaceDataSize();
    }
    std::uint32_t deviceInterfaceDetailSize() const override {
        return world().deviceInterfaceDetailSize();
    }
    DevInfo getClassDevs(const Guid& interfaceClass, std::uint32_t flags) override {
        return published(world().getClassDevs(interfaceClass, flags));
    }
    bool enumDeviceInterfaces(DevInfo set, const Guid& interfaceClass, std::uint32_t memberIndex,
                              DeviceInterfaceData* data) override {
        return published(world().enumDeviceInterfaces(set, interfaceClass, memberIndex, data));
    }
    bool getDeviceInterfaceDetail(DevInfo set, DeviceInterfaceData* data, void* detail,
                                  std::uint32_t detailSize, std::uint32_t* requiredSize) override {
        return published(
            world().getDeviceInterfaceDetail(set, data, detail, detailSize, requiredSize));
    }
    bool destroyDeviceInfoList(DevInfo set) override {
        return published(world().destroyDeviceInfoList(set));
    }
    long regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                    RegKey* key) override {
        return world().regOpenKey(subKey, options, access, key);
    }
    long regQueryValue(RegKey key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                       std::uint32_t* size) override {
        return world().regQueryValue(key, valueName, type, data, size);
    }
    long regCloseKey(RegKey key) override { return world().regCloseKey(key); }
    Handle createFile(const char* name, std::uint32_t access, std::uint32_t shareMode,
                      std::uint32_t disposition, std::uint32_t flags) override {
        return published(world().createFile(name, access, shareMode, disposition, flags));
    }
    bool readFile(Handle file, void* buffer, std::uint32_t length, std::uint32_t* count,
                  Overlapped* overlapped) override {
        return published(world().readFile(file, buffer, length, count, overlapped));
    }
    bool writeFile(Handle file, const void* buffer, std::uint32_t length, std::uint32_t* count,
                   Overlapped* overlapped) override {
        return published(world().writeFile(file, buffer, length, count, overlapped));
    }
    bool deviceIoControl(Handle file, std::uint32_t code, void* in, std::uint32_t inSize, void* out,
                         std::uint32_t outSize, std::uint32_t* returned,
                         Overlapped* overlapped) override {
        return published(
            world().deviceIoControl(file, code, in, inSize, out, outSize, returned, overlapped));
    }
    bool getOverlappedResult(Handle file, Overlapped* overlapped, std::uint32_t* count,
                             bool wait) override {
        return published(world().getOverlappedResult(file, overlapped, count, wait));
    }
    bool cancelIo(Handle file) override { return published(world().cancelIo(file)); }
    bool closeHandle(Handle object) override { return published(world().closeHandle(object)); }
    Handle createEvent(bool manualReset, bool initialState) override {
        return published(world().createEvent(manualReset, initialState));
    }
    bool resetEvent(Handle event) override { return published(world().resetEvent(event)); }
    std::uint32_t waitForSingleObject(Handle object, std::uint32_t timeoutMs) override {
        return published(world().waitForSingleObject(object, timeoutMs));
    }
    std::uint32_t getLastError() override { return world().getLastError(); }
    void setLastError(std::uint32_t code) override {
        world().setLastError(code);
        publish();
    }
    void sleep(std::uint32_t ms) override { world().sleep(ms); }
    int messageBox(const char* text, const char* caption, std::uint32_t style) override {
        return world().messageBox(text, caption, style);
    }

private:
    emulated::World& world() const { return demo_.world(); }

    void publish() const {
#ifdef _WIN32
        SetLastError(world().getLastError());
#endif
    }
    template <typename T>
    T published(T result) const {
        publish();
        return result;
    }

    mutable emulated::DemoWorld demo_;
};

}  // namespace

Backend& nativeBackend() {
    // Made by the first call from any thread (the others wait for it), and released when the
    // library is unloaded or the process ends.  The world has no thread of its own, so releasing
    // it waits for nothing, under the Windows loader lock too.
    static DemoBackend demo(configFromEnvironment());
    return demo;
}

}  // namespace tarvex::platform
