// What the libusb backend's tests share: the testbed, boards on the scripted firmware, and the
// seam and exports they are driven through.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "libusb/usb_testbed.h"
#include "platform/platform.h"
#include "support/board_fixture.h"
#include "support/scripted_firmware.h"
#include "support/stdout_capture.h"
#include "tarvex.h"

namespace tarvex::libusbtest {

using tarvex::testing::StdoutCapture;

// The class written out here on purpose, not taken from platform/driver.h: these tests check the
// backend against the driver's published values, so a slip in the shared header fails them.
inline const std::string kBoardVidPid = TARVEX_BOARD_VID_PID;
inline const std::string kClassSuffix = "#{5354fa28-6d14-4e35-a1f5-75bb54e6030f}";

// {5354FA28-6D14-4E35-A1F5-75BB54E6030F}
inline constexpr platform::Guid kInterfaceClass = {
    0x5354FA28, 0x6D14, 0x4E35, {0xA1, 0xF5, 0x75, 0xBB, 0x54, 0xE6, 0x03, 0x0F}};

using tarvex::testing::always;
using tarvex::testing::commandPacket;
using tarvex::testing::ScriptedFirmware;

inline std::unique_ptr<emulated::Firmware> answering(ScriptedFirmware::Answer answer) {
    return std::make_unique<ScriptedFirmware>(std::move(answer));
}

// Answers every transfer with `reply`.
inline std::unique_ptr<emulated::Firmware> alwaysAnswering(Bytes reply) {
    return answering(always(std::move(reply)));
}

class Stopwatch {
public:
    double elapsedMs() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class LibusbTest : public ::testing::Test, public tarvex::testing::BoardFixture {
protected:
    void SetUp() override {
        UsbTestbed::instance();      // before libusb first looks at /sys
        platform::install(nullptr);  // the native backend: libusb
    }
    void TearDown() override {
        closeOpened();
        UsbTestbed::instance().unplugAll();
    }

    UsbTestbed& testbed() { return UsbTestbed::instance(); }
    platform::Backend& os() { return platform::backend(); }

    EmulatedUsbDevice& plugBoard(std::unique_ptr<emulated::Firmware> firmware = nullptr,
                                 std::string location = "1-2") {
        DeviceSpec spec;
        spec.location = std::move(location);
        spec.firmware = std::move(firmware);
        return testbed().plug(std::move(spec));
    }

    // Another vendor's device (1234:ABCD) on the same kind of data pipes.
    EmulatedUsbDevice& plugOther(std::string location) {
        return testbed().plug({.vendorId = 0x1234, .productId = 0xABCD, .location = location});
    }

    // The interface paths the backend lists now, in member-index order.
    std::vector<std::string> interfacePaths() {
        std::vector<std::string> paths;
        platform::DevInfo set = os().getClassDevs(
            kInterfaceClass, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
        EXPECT_NE(set, platform::invalidHandle());
        for (std::uint32_t index = 0;; ++index) {
            platform::DeviceInterfaceData data{};
            data.cbSize = os().deviceInterfaceDataSize();
            if (!os().enumDeviceInterfaces(set, kInterfaceClass, index, &data)) break;
            std::vector<std::uint8_t> detail(512);
            std::uint32_t recordSize = os().deviceInterfaceDetailSize();
            std::memcpy(detail.data(), &recordSize, sizeof recordSize);
            EXPECT_TRUE(os().getDeviceInterfaceDetail(
                set, &data, detail.data(), static_cast<std::uint32_t>(detail.size()), nullptr));
            paths.emplace_back(reinterpret_cast<const char*>(detail.data()) +
                               platform::kDetailPathOffset);
        }
        os().destroyDeviceInfoList(set);
        return paths;
    }
};

}  // namespace tarvex::libusbtest
