// Test support for the pipe layer, the port table and the system commands: a firmware that
// answers every DIR_GET packet with a fixed reply, a backend that records every platform call
// on its way to the emulated world, and a capture of standard output.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulated/board.h"
#include "emulated/firmware.h"
#include "emulated/world.h"
#include "stdout_capture.h"
#include "platform/platform.h"

namespace tarvex::testing {

using emulated::Bytes;
using emulated::Micros;
using platform::Handle;

constexpr Micros kMs = 1000;  // virtual clock ticks per millisecond

// Bytes first, first+1, ... (wrapping), `count` of them.
inline Bytes Pattern(std::size_t count, std::uint8_t first = 0x40) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

// Answers every 64-byte DIR_GET packet with `reply` (after `delay`), DIR_SET packets and data
// blocks with nothing; an interrupt read gets `interrupt` when set.
class AnsweringFirmware final : public emulated::Firmware {
public:
    explicit AnsweringFirmware(Bytes reply = Pattern(20)) : reply(std::move(reply)) {}

    void receive(const std::uint8_t* data, std::size_t length, Micros /*now*/,
                 std::vector<emulated::Reply>& replies) override {
        if (length == 64 && data[1] == 1 /* DIR_GET */) replies.push_back({reply, delay});
    }
    std::optional<Bytes> interruptData(Micros /*now*/) override { return interrupt; }

    Bytes reply;
    Micros delay = 0;
    std::optional<Bytes> interrupt;
};

// One platform call as it went by.
struct Call {
    explicit Call(std::string name_of_op) : op(std::move(name_of_op)) {}
    std::string op;
    Handle handle = nullptr;          // file / event / object the call acted on
    std::string name;                 // createFile: the name opened; regOpenKey: the key name
    std::uint32_t access = 0;         // createFile
    std::uint32_t share = 0;          // createFile
    std::uint32_t disposition = 0;    // createFile
    std::uint32_t flags = 0;          // createFile, getClassDevs
    std::uint32_t code = 0;           // deviceIoControl: control code
    Bytes in;                         // deviceIoControl: input bytes
    const void* out = nullptr;        // read / write / deviceIoControl: the data buffer
    std::uint32_t length = 0;         // read / write length, deviceIoControl output size
    std::uint32_t cbSize = 0;         // enum / detail: the record's size field
    bool overlapped = false;          // a transfer record was given
    bool wait = false;                // getOverlappedResult
    std::uint32_t timeout = 0;        // waitForSingleObject
};

// Forwards every call to `inner` (the emulated world) and records it.
class SpyBackend final : public platform::Backend {
public:
    explicit SpyBackend(platform::Backend& inner) : inner_(inner) {}

    std::vector<Call> calls;

    std::size_t count(const std::string& op) const {
        std::size_t n = 0;
        for (const auto& c : calls) n += c.op == op;
        return n;
    }
    std::vector<Call> of(const std::string& op) const {
        std::vector<Call> found;
        for (const auto& c : calls)
            if (c.op == op) found.push_back(c);
        return found;
    }
    // Whether any call was handed "no handle" (all bits set) as the object to act on.
    bool sawInvalidHandle() const {
        for (const auto& c : calls)
            if (c.handle == platform::invalidHandle() && c.op != "getClassDevs") return true;
        return false;
    }
    // Calls that reach a file: opens, requests, cancels, outcomes.
    std::size_t fileCalls() const {
        return count("createFile") + count("readFile") + count("writeFile") +
               count("deviceIoControl") + count("cancelIo") + count("getOverlappedResult");
    }
    void clear() { calls.clear(); }

    std::uint32_t deviceInterfaceDataSize() const override {
        return inner_.deviceInterfaceDataSize();
    }
    std::uint32_t deviceInterfaceDetailSize() const override {
        return inner_.deviceInterfaceDetailSize();
    }
    platform::DevInfo getClassDevs(const platform::Guid& g, std::uint32_t flags) override {
        Call c{"getClassDevs"};
        c.flags = flags;
        calls.push_back(c);
        return inner_.getClassDevs(g, flags);
    }
    bool enumDeviceInterfaces(platform::DevInfo set, const platform::Guid& g,
                              std::uint32_t memberIndex,
                              platform::DeviceInterfaceData* data) override {
        Call c{"enumDeviceInterfaces"};
        c.cbSize = data ? data->cbSize : 0;
        c.length = memberIndex;
        calls.push_back(c);
        return inner_.enumDeviceInterfaces(set, g, memberIndex, data);
    }
    bool getDeviceInterfaceDetail(platform::DevInfo set, platform::DeviceInterfaceData* data,
                                  void* detail, std::uint32_t detailSize,
                                  std::uint32_t* requiredSize) override {
        Call c{"getDeviceInterfaceDetail"};
        if (detail) std::memcpy(&c.cbSize, detail, sizeof c.cbSize);
        c.out = detail;
        c.length = detailSize;
        calls.push_back(c);
        return inner_.getDeviceInterfaceDetail(set, data, detail, detailSize, requiredSize);
    }
    bool destroyDeviceInfoList(platform::DevInfo set) override {
        calls.push_back(Call{"destroyDeviceInfoList"});
        return inner_.destroyDeviceInfoList(set);
    }
    long regOpenKey(const char* subKey, std::uint32_t options, std::uint32_t access,
                    platform::RegKey* key) override {
        Call c{"regOpenKey"};
        c.name = subKey;
        c.access = access;
        c.flags = options;
        calls.push_back(c);
        return inner_.regOpenKey(subKey, options, access, key);
    }
    long regQueryValue(platform::RegKey key, const char* valueName, std::uint32_t* type,
                       std::uint8_t* data, std::uint32_t* size) override {
        Call c{"regQueryValue"};
        c.name = valueName;
        c.length = size ? *size : 0;
        calls.push_back(c);
        return inner_.regQueryValue(key, valueName, type, data, size);
    }
    long regCloseKey(platform::RegKey key) override {
        calls.push_back(Call{"regCloseKey"});
        return inner_.regCloseKey(key);
    }
    Handle createFile(const char* name, std::uint32_t access, std::uint32_t share,
                      std::uint32_t disposition, std::uint32_t flags) override {
        Call c{"createFile"};
        c.name = name;
        c.access = access;
        c.share = share;
        c.disposition = disposition;
        c.flags = flags;
        calls.push_back(c);
        return inner_.createFile(name, access, share, disposition, flags);
    }
    bool readFile(Handle file, void* buffer, std::uint32_t length, std::uint32_t* count,
                  platform::Overlapped* overlapped) override {
        calls.push_back(Transfer("readFile", file, buffer, length, overlapped));
        return inner_.readFile(file, buffer, length, count, overlapped);
    }
    bool writeFile(Handle file, const void* buffer, std::uint32_t length, std::uint32_t* count,
                   platform::Overlapped* overlapped) override {
        calls.push_back(Transfer("writeFile", file, buffer, length, overlapped));
        return inner_.writeFile(file, buffer, length, count, overlapped);
    }
    bool deviceIoControl(Handle file, std::uint32_t code, void* in, std::uint32_t inSize,
                         void* out, std::uint32_t outSize, std::uint32_t* returned,
                         platform::Overlapped* overlapped) override {
        Call c = Transfer("deviceIoControl", file, out, outSize, overlapped);
        c.code = code;
        if (in) c.in.assign(static_cast<std::uint8_t*>(in), static_cast<std::uint8_t*>(in) + inSize);
        calls.push_back(c);
        return inner_.deviceIoControl(file, code, in, inSize, out, outSize, returned, overlapped);
    }
    bool getOverlappedResult(Handle file, platform::Overlapped* overlapped, std::uint32_t* count,
                             bool wait) override {
        Call c{"getOverlappedResult"};
        c.handle = file;
        c.wait = wait;
        calls.push_back(c);
        return inner_.getOverlappedResult(file, overlapped, count, wait);
    }
    bool cancelIo(Handle file) override {
        Call c{"cancelIo"};
        c.handle = file;
        calls.push_back(c);
        return inner_.cancelIo(file);
    }
    bool closeHandle(Handle object) override {
        Call c{"closeHandle"};
        c.handle = object;
        calls.push_back(c);
        return inner_.closeHandle(object);
    }
    Handle createEvent(bool manualReset, bool initialState) override {
        Call c{"createEvent"};
        c.flags = (manualReset ? 1u : 0u) | (initialState ? 2u : 0u);
        calls.push_back(c);
        return inner_.createEvent(manualReset, initialState);
    }
    bool resetEvent(Handle event) override {
        Call c{"resetEvent"};
        c.handle = event;
        calls.push_back(c);
        return inner_.resetEvent(event);
    }
    std::uint32_t waitForSingleObject(Handle object, std::uint32_t timeoutMs) override {
        Call c{"waitForSingleObject"};
        c.handle = object;
        c.timeout = timeoutMs;
        calls.push_back(c);
        return inner_.waitForSingleObject(object, timeoutMs);
    }
    std::uint32_t getLastError() override { return inner_.getLastError(); }
    void setLastError(std::uint32_t code) override { inner_.setLastError(code); }
    void sleep(std::uint32_t ms) override {
        Call c{"sleep"};
        c.timeout = ms;
        calls.push_back(c);
        inner_.sleep(ms);
    }
    int messageBox(const char* text, const char* caption, std::uint32_t style) override {
        Call c{"messageBox"};
        c.name = text;
        c.flags = style;
        calls.push_back(c);
        return inner_.messageBox(text, caption, style);
    }

private:
    static Call Transfer(const char* op, Handle file, const void* buffer, std::uint32_t length,
                         const platform::Overlapped* overlapped) {
        Call c{op};
        c.handle = file;
        c.out = buffer;
        c.length = length;
        c.overlapped = overlapped != nullptr;
        return c;
    }

    platform::Backend& inner_;
};


}  // namespace tarvex::testing
