// A platform backend that records every call on its way to another (the emulated world), so a
// test can tell which requests the library made, with which arguments and in which order.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "emulated/firmware.h"
#include "platform/platform.h"

namespace tarvex::testing {

using emulated::Bytes;

// One platform call as it went by.
struct Call {
    std::string op;
    platform::Handle handle = nullptr;  // the object acted on; createEvent: the event made
    std::string name;                   // createFile: the name opened; regOpenKey: the key name
    std::uint32_t access = 0;           // createFile, regOpenKey
    std::uint32_t share = 0;            // createFile
    std::uint32_t disposition = 0;      // createFile
    std::uint32_t flags = 0;            // createFile, getClassDevs, regOpenKey; createEvent: 1
                                        // manual reset, 2 initially set
    std::uint32_t code = 0;             // deviceIoControl: control code
    Bytes in;                           // deviceIoControl: input bytes
    const void* out = nullptr;          // read / write / deviceIoControl / detail: the buffer
    std::uint32_t length = 0;           // transfer length, deviceIoControl output size, detail
                                        // size, regQueryValue size; enum: the member index
    std::uint32_t cbSize = 0;           // enum / detail: the record's size field
    bool overlapped = false;            // a transfer record was given
    bool wait = false;                  // getOverlappedResult
    std::uint32_t timeout = 0;          // waitForSingleObject, sleep
};

class SpyBackend final : public platform::Backend {
public:
    explicit SpyBackend(platform::Backend& inner) : inner_(inner) {}

    std::vector<Call> calls;

    std::size_t count(const std::string& op) const;
    std::vector<Call> of(const std::string& op) const;
    // Whether any call was handed "no handle" (all bits set) as the object to act on.
    bool sawInvalidHandle() const;
    // Calls that reach a file: opens, requests, cancels, outcomes.
    std::size_t fileCalls() const;
    void clear() { calls.clear(); }

    std::uint32_t deviceInterfaceDataSize() const override {
        return inner_.deviceInterfaceDataSize();
    }
    std::uint32_t deviceInterfaceDetailSize() const override {
        return inner_.deviceInterfaceDetailSize();
    }
    platform::DevInfo getClassDevs(const platform::Guid& g, std::uint32_t flags) override {
        note("getClassDevs").flags = flags;
        return inner_.getClassDevs(g, flags);
    }
    bool enumDeviceInterfaces(platform::DevInfo set, const platform::Guid& g,
                              std::uint32_t memberIndex,
                              platform::DeviceInterfaceData* data) override {
        Call& c = note("enumDeviceInterfaces");
        c.cbSize = data ? data->cbSize : 0;
        c.length = memberIndex;
        return inner_.enumDeviceInterfaces(set, g, memberIndex, data);
    }
    bool getDeviceInterfaceDetail(platform::DevInfo set, platform::DeviceInterfaceData* data,
                                  void* detail, std::uint32_t detailSize,
                                  std::uint32_t* requiredSize) override {
        Call& c = note("getDeviceInterfaceDetail");
        if (detail) std::memcpy(&c.cbSize, detail, sizeof c.cbSize);
        c.out = detail;
        c.length = detailSize;
        return inner_.getDeviceInterfaceDetail(set, data, detail, detailSize, requiredSize);
    }
    bool destroyDeviceInfoList(platform::DevInfo set) override {
        note("destroyDeviceInfoList", set);
        return inner_.destroyDeviceInfoList(set);
    }
    long regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                    platform::RegKey* key) override {
        Call& c = note("regOpenKey");
        c.name = subKey;
        c.access = access;
        c.flags = options;
        return inner_.regOpenKey(subKey, options, access, key);
    }
    long regQueryValue(platform::RegKey key, const char* valueName, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override {
        Call& c = note("regQueryValue", key);
        c.name = valueName;
        c.length = size ? *size : 0;
        return inner_.regQueryValue(key, valueName, type, data, size);
    }
    long regCloseKey(platform::RegKey key) override {
        note("regCloseKey", key);
        return inner_.regCloseKey(key);
    }
    platform::Handle createFile(const char* name, std::uint32_t access, std::uint32_t share,
                                std::uint32_t disposition, std::uint32_t flags) override {
        Call& c = note("createFile");
        c.name = name;
        c.access = access;
        c.share = share;
        c.disposition = disposition;
        c.flags = flags;
        return inner_.createFile(name, access, share, disposition, flags);
    }
    bool readFile(platform::Handle file, void* buffer, std::uint32_t length, std::uint32_t* count,
                  platform::Overlapped* overlapped) override {
        noteTransfer("readFile", file, buffer, length, overlapped);
        return inner_.readFile(file, buffer, length, count, overlapped);
    }
    bool writeFile(platform::Handle file, const void* buffer, std::uint32_t length,
                   std::uint32_t* count, platform::Overlapped* overlapped) override {
        noteTransfer("writeFile", file, buffer, length, overlapped);
        return inner_.writeFile(file, buffer, length, count, overlapped);
    }
    bool deviceIoControl(platform::Handle file, std::uint32_t code, void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t* returned,
                         platform::Overlapped* overlapped) override {
        Call& c = noteTransfer("deviceIoControl", file, out, outSize, overlapped);
        c.code = code;
        if (in)
            c.in.assign(static_cast<std::uint8_t*>(in), static_cast<std::uint8_t*>(in) + inSize);
        return inner_.deviceIoControl(file, code, in, inSize, out, outSize, returned, overlapped);
    }
    bool getOverlappedResult(platform::Handle file, platform::Overlapped* overlapped,
                             std::uint32_t* count, bool wait) override {
        note("getOverlappedResult", file).wait = wait;
        return inner_.getOverlappedResult(file, overlapped, count, wait);
    }
    bool cancelIo(platform::Handle file) override {
        note("cancelIo", file);
        return inner_.cancelIo(file);
    }
    bool closeHandle(platform::Handle object) override {
        note("closeHandle", object);
        return inner_.closeHandle(object);
    }
    platform::Handle createEvent(bool manualReset, bool initialState) override {
        const platform::Handle event = inner_.createEvent(manualReset, initialState);
        note("createEvent", event).flags = (manualReset ? 1u : 0u) | (initialState ? 2u : 0u);
        return event;
    }
    bool resetEvent(platform::Handle event) override {
        note("resetEvent", event);
        return inner_.resetEvent(event);
    }
    std::uint32_t waitForSingleObject(platform::Handle object, std::uint32_t timeoutMs) override {
        note("waitForSingleObject", object).timeout = timeoutMs;
        return inner_.waitForSingleObject(object, timeoutMs);
    }
    void sleep(std::uint32_t ms) override {
        note("sleep").timeout = ms;
        inner_.sleep(ms);
    }
    int messageBox(const char* text, const char* caption, std::uint32_t style) override {
        Call& c = note("messageBox");
        c.name = text;
        c.flags = style;
        return inner_.messageBox(text, caption, style);
    }
    std::uint32_t getLastError() override { return inner_.getLastError(); }
    void setLastError(std::uint32_t code) override { inner_.setLastError(code); }

private:
    // Records a call of `op` on `handle`; the caller fills in the rest.
    Call& note(const char* op, platform::Handle handle = nullptr);
    // Records a read, write or control request of `length` bytes at `buffer`.
    Call& noteTransfer(const char* op, platform::Handle file, const void* buffer,
                       std::uint32_t length, const platform::Overlapped* overlapped);

    platform::Backend& inner_;
};

}  // namespace tarvex::testing
