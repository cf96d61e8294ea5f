// Descriptor and configuration requests: the parameter bytes sent, results, lengths, diagnostics.
#include <gtest/gtest.h>

#include <string>

#include "support/board_fixture.h"
#include "support/stdout_capture.h"
#include "tarvex.h"

namespace tarvex::testing {
namespace {

using platform::Handle;

constexpr std::uint32_t kGetDescriptor = 0x00226004;
constexpr std::uint32_t kSetConfiguration = 0x0022A00C;

class Descriptors : public EmulatedBoardTest {
protected:
    Handle handle = nullptr;

    void SetUp() override {
        handle = openPipe(0, PIPE_READ);
        ASSERT_NE(handle, platform::invalidHandle());
        spy.clear();
    }
    // The one control request the call made, as the driver got it.
    emulated::ControlRequest onlyRequest() {
        EXPECT_EQ(world.controlRequests().size(), 1u);
        return world.controlRequests().empty() ? emulated::ControlRequest{}
                                               : world.controlRequests().back();
    }
};

TEST_F(Descriptors, TheDeviceDescriptorIsAskedForWith1000) {
    Bytes buffer(64, 0xEE);
    std::uint32_t length = 99;
    StdoutCapture output;
    EXPECT_EQ(MPUSBGetDeviceDescriptor(handle, buffer.data(), 64, &length), 1u);
    EXPECT_EQ(output.take(), "");
    const auto request = onlyRequest();
    EXPECT_EQ(request.code, kGetDescriptor);
    EXPECT_EQ(request.input, (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(request.outputSize, 64u);
    const Bytes& expected = board->identity().deviceDescriptor;
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), expected);

    const auto controls = spy.of("deviceIoControl");
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_EQ(controls[0].out, buffer.data());
    EXPECT_FALSE(controls[0].overlapped) << "synchronous, without a time-out";
}

struct DescriptorCase {
    const char* what;
    std::uint8_t configIndex;  // for the configuration descriptor
    std::uint8_t stringIndex;  // for the string descriptor
    std::uint16_t language;
    Bytes param;               // the four bytes that must travel
};

TEST_F(Descriptors, TheConfigurationIndexCountsFrom1OnTheCallersSide) {
    // The board has one configuration; the request for the second is sent all the same.
    const DescriptorCase cases[] = {
        {"first configuration", 1, 0, 0, {2, 0, 0, 0}},
        {"second configuration", 2, 0, 0, {2, 1, 0, 0}},
        {"last index", 255, 0, 0, {2, 254, 0, 0}},
    };
    for (const auto& c : cases) {
        Bytes buffer(64, 0);
        StdoutCapture output;
        MPUSBGetConfigurationDescriptor(handle, c.configIndex, buffer.data(), 64, nullptr);
        output.take();
        ASSERT_FALSE(world.controlRequests().empty()) << c.what;
        EXPECT_EQ(world.controlRequests().back().input, c.param) << c.what;
        EXPECT_EQ(world.controlRequests().back().code, kGetDescriptor) << c.what;
    }

    Bytes buffer(64, 0);
    std::uint32_t length = 99;
    EXPECT_EQ(MPUSBGetConfigurationDescriptor(handle, 1, buffer.data(), 64, &length), 1u);
    const Bytes& expected = board->identity().configurationDescriptors.at(0);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + length), expected);
}

TEST_F(Descriptors, ConfigurationIndex0IsRefusedWithoutARequest) {
    Bytes buffer(64, 0xEE);
    std::uint32_t length = 99;
    StdoutCapture output;
    EXPECT_EQ(MPUSBGetConfigurationDescriptor(handle, 0, buffer.data(), 64, &length), 0u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(output.take(), "") << "refused silently";
    EXPECT_TRUE(spy.calls.empty());
    EXPECT_EQ(buffer, Bytes(64, 0xEE));
}

TEST_F(Descriptors, TheStringIndexAndLanguageTravelUnchanged) {
    const DescriptorCase cases[] = {
        {"the language list", 0, 0, 0x0409, {3, 0, 0x09, 0x04}},
        {"manufacturer in English (US)", 0, 1, 0x0409, {3, 1, 0x09, 0x04}},
        {"product in German", 0, 2, 0x0407, {3, 2, 0x07, 0x04}},
        {"index 255, language 0xABCD", 0, 255, 0xABCD, {3, 255, 0xCD, 0xAB}},
    };
    for (const auto& c : cases) {
        Bytes buffer(255, 0);
        StdoutCapture output;
        MPUSBGetStringDescriptor(handle, c.stringIndex, c.language, buffer.data(), 255, nullptr);
        output.take();
        ASSERT_FALSE(world.controlRequests().empty()) << c.what;
        EXPECT_EQ(world.controlRequests().back().input, c.param) << c.what;
        EXPECT_EQ(world.controlRequests().back().outputSize, 255u) << c.what;
    }

    Bytes buffer(255, 0);
    std::uint32_t length = 0;
    EXPECT_EQ(MPUSBGetStringDescriptor(handle, 0, 0x0409, buffer.data(), 255, &length), 1u);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{4, 3, 0x09, 0x04}));
}

TEST_F(Descriptors, EveryRequestWorksWithoutALengthPointer) {
    Bytes buffer(255, 0);
    EXPECT_EQ(MPUSBGetDeviceDescriptor(handle, buffer.data(), 255, nullptr), 1u);
    EXPECT_EQ(buffer[0], 18);
    EXPECT_EQ(MPUSBGetConfigurationDescriptor(handle, 1, buffer.data(), 255, nullptr), 1u);
    EXPECT_EQ(buffer[1], 2);
    EXPECT_EQ(MPUSBGetStringDescriptor(handle, 1, 0x0409, buffer.data(), 255, nullptr), 1u);
    EXPECT_EQ(buffer[1], 3);
    EXPECT_EQ(world.controlRequests().size(), 3u);
}

TEST_F(Descriptors, NoBufferIsRefusedSilentlyWithoutARequest) {
    StdoutCapture output;
    std::uint32_t length = 99;
    EXPECT_EQ(MPUSBGetDeviceDescriptor(handle, nullptr, 64, &length), 0u);
    EXPECT_EQ(length, 0u);
    length = 99;
    EXPECT_EQ(MPUSBGetConfigurationDescriptor(handle, 1, nullptr, 64, &length), 0u);
    EXPECT_EQ(length, 0u);
    length = 99;
    EXPECT_EQ(MPUSBGetStringDescriptor(handle, 1, 0x0409, nullptr, 64, &length), 0u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(output.take(), "");
    EXPECT_TRUE(spy.calls.empty());
}

TEST_F(Descriptors, AFailedRequestPrintsItsCodeWithoutALineEnd) {
    const Handle closed = MPUSBOpen(0, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_WRITE, 0);
    ASSERT_EQ(MPUSBClose(closed), 1);
    for (Handle h : {closed, Handle{nullptr}, platform::invalidHandle()}) {
        spy.clear();
        Bytes buffer(64, 0xEE);
        std::uint32_t length = 99;
        StdoutCapture output;
        EXPECT_EQ(MPUSBGetDeviceDescriptor(h, buffer.data(), 64, &length), 0u);
        EXPECT_EQ(output.take(), "Get dsc error: 6");
        EXPECT_EQ(world.getLastError(), platform::kErrorInvalidHandle)
            << "printing leaves the request's code";
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(buffer, Bytes(64, 0xEE));
        EXPECT_FALSE(spy.sawInvalidHandle());
    }
}

TEST_F(Descriptors, ADescriptorTheDeviceDoesNotHavePrintsTheDriversCode) {
    Bytes buffer(64, 0);
    StdoutCapture output;
    EXPECT_EQ(MPUSBGetConfigurationDescriptor(handle, 9, buffer.data(), 64, nullptr), 0u);
    const std::uint32_t code = world.getLastError();
    EXPECT_NE(code, 0u);
    EXPECT_EQ(output.take(), "Get dsc error: " + std::to_string(code));
}

TEST_F(Descriptors, SetConfigurationSendsTheLow8BitsOfTheValue) {
    StdoutCapture output;
    EXPECT_EQ(MPUSBSetConfiguration(handle, 0x101), 1u);
    EXPECT_EQ(output.take(), "");
    const auto request = onlyRequest();
    EXPECT_EQ(request.code, kSetConfiguration);
    EXPECT_EQ(request.input, (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(request.outputSize, 4u);
    const auto controls = spy.of("deviceIoControl");
    ASSERT_EQ(controls.size(), 1u);
    EXPECT_FALSE(controls[0].overlapped);
}

TEST_F(Descriptors, AFailedSetConfigurationPrintsItsCode) {
    for (Handle h : {Handle{nullptr}, platform::invalidHandle()}) {
        spy.clear();
        StdoutCapture output;
        EXPECT_EQ(MPUSBSetConfiguration(h, 1), 0u);
        EXPECT_EQ(output.take(), "Set configuration error: 6");
        EXPECT_EQ(world.getLastError(), platform::kErrorInvalidHandle);
        EXPECT_FALSE(spy.sawInvalidHandle());
    }
}

TEST_F(Descriptors, TheInterfaceVersionIsAConstant) {
    EXPECT_EQ(MPUSBGetDLLVersion(), 0x01010000u);
    EXPECT_TRUE(spy.calls.empty());
}

}  // namespace
}  // namespace tarvex::testing
