// Descriptor and configuration requests through the libusb backend: the control requests the
// device receives, what comes back, and the failures the exports report.
#include "libusb/libusb_fixture.h"

namespace tarvex::libusbtest {
namespace {

class LibusbControl : public LibusbTest {
protected:
    void SetUp() override {
        LibusbTest::SetUp();
        board = &plugBoard(alwaysAnswering({0xAC}));
    }
    TARVEX_HANDLE open(std::uint32_t direction, const char* pipe = TARVEX_BOARD_PIPE) {
        TARVEX_HANDLE handle = openPipe(0, direction, pipe);
        EXPECT_NE(handle, TARVEX_INVALID_HANDLE);
        return handle;
    }

    EmulatedUsbDevice* board = nullptr;
    std::uint8_t buffer[255] = {};
    std::uint32_t length = 99;
};

Bytes utf16(const std::string& text) {
    Bytes descriptor{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) descriptor.insert(descriptor.end(), {static_cast<std::uint8_t>(c), 0});
    return descriptor;
}

struct DescriptorCase {
    const char* name;
    std::function<std::uint32_t(TARVEX_HANDLE, std::uint8_t*, std::uint32_t, std::uint32_t*)>
        request;
    std::uint16_t value;     // of the GET_DESCRIPTOR request the device receives
    std::uint16_t language;  // its index field
    std::function<Bytes(const EmulatedUsbDevice&)> expected;
};

const DescriptorCase kDescriptorCases[] = {
    {"device",
     [](auto h, auto* b, auto n, auto* l) { return MPUSBGetDeviceDescriptor(h, b, n, l); }, 0x0100,
     0, [](const EmulatedUsbDevice& d) { return d.deviceDescriptor(); }},
    {"configuration 1",
     [](auto h, auto* b, auto n, auto* l) {
         return MPUSBGetConfigurationDescriptor(h, 1, b, n, l);
     },
     0x0200, 0, [](const EmulatedUsbDevice& d) { return d.configurationDescriptor(); }},
    {"string 2",
     [](auto h, auto* b, auto n, auto* l) {
         return MPUSBGetStringDescriptor(h, 2, 0x0409, b, n, l);
     },
     0x0302, 0x0409, [](const EmulatedUsbDevice&) { return utf16("Emulated board"); }},
    {"string 0",
     [](auto h, auto* b, auto n, auto* l) { return MPUSBGetStringDescriptor(h, 0, 0, b, n, l); },
     0x0300, 0,
     [](const EmulatedUsbDevice&) {
         return Bytes{4, 3, 0x09, 0x04};
     }},
};

TEST_F(LibusbControl, EachDescriptorRequestIsOneGetDescriptorToTheDevice) {
    TARVEX_HANDLE in = open(PIPE_READ);
    for (const DescriptorCase& c : kDescriptorCases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = board->controlRequests().size();
        length = 99;
        EXPECT_EQ(c.request(in, buffer, sizeof buffer, &length), 1u);
        const Bytes expected = c.expected(*board);
        EXPECT_EQ(Bytes(buffer, buffer + length), expected);
        const std::vector<SetupPacket> requests = board->controlRequests();
        ASSERT_EQ(requests.size(), before + 1);
        const SetupPacket& setup = requests.back();
        EXPECT_EQ(setup.requestType, 0x80);
        EXPECT_EQ(setup.request, 6);
        EXPECT_EQ(setup.value, c.value);
        EXPECT_EQ(setup.index, c.language);
        EXPECT_EQ(setup.length, sizeof buffer);
    }
}

TEST_F(LibusbControl, TheBufferSizeBoundsTheDescriptorRead) {
    TARVEX_HANDLE in = open(PIPE_READ);
    EXPECT_EQ(MPUSBGetConfigurationDescriptor(in, 1, buffer, 9, &length), 1u);
    EXPECT_EQ(length, 9u);
    EXPECT_EQ(board->controlRequests().back().length, 9);
    const Bytes whole = board->configurationDescriptor();
    EXPECT_EQ(Bytes(buffer, buffer + 9), Bytes(whole.begin(), whole.begin() + 9));
}

TEST_F(LibusbControl, ADescriptorTheDeviceDoesNotHaveFailsAsTheStallDoes) {
    TARVEX_HANDLE in = open(PIPE_READ);
    StdoutCapture output;
    EXPECT_EQ(MPUSBGetConfigurationDescriptor(in, 2, buffer, sizeof buffer, &length), 0u);
    EXPECT_EQ(output.take(), "Get dsc error: 31");
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(lastError(), platform::kErrorGenFailure);
    EXPECT_EQ(board->controlRequests().back().value, 0x0201);
}

TEST_F(LibusbControl, SettingTheConfigurationWithThePipesOpenReleasesAndClaimsAgain) {
    TARVEX_HANDLE out = open(PIPE_WRITE);
    TARVEX_HANDLE in = open(PIPE_READ);
    EXPECT_EQ(MPUSBSetConfiguration(out, 0x101), 1u);
    EXPECT_EQ(board->configurationsSet(), std::vector<unsigned>{1});
    EXPECT_TRUE(board->interfaceClaimed());
    EXPECT_EQ(board->releases(), 1);
    EXPECT_EQ(board->claims(), 2);

    const Bytes packet = commandPacket(0xF0, 1, 3);
    std::uint32_t count = 0;
    EXPECT_EQ(MPUSBWrite(out, packet.data(), 64, &count, 250), 1u);
    EXPECT_EQ(MPUSBRead(in, buffer, 1, &count, 250), 1u);
    EXPECT_EQ(buffer[0], 0xAC);
}

// usbfs takes at most 4096 bytes of data in a control request; a host program may well pass a
// larger buffer, which Windows takes.  No descriptor is that long.
TEST_F(LibusbControl, ADescriptorReadIntoABufferLargerThanUsbfsTakesAsksFor4096Bytes) {
    TARVEX_HANDLE in = open(PIPE_READ);
    std::vector<std::uint8_t> large(8000);
    StdoutCapture output;
    EXPECT_EQ(MPUSBGetConfigurationDescriptor(in, 1, large.data(), 8000, &length), 1u);
    EXPECT_EQ(output.take(), "");
    const Bytes whole = board->configurationDescriptor();
    EXPECT_EQ(length, whole.size());
    EXPECT_EQ(Bytes(large.begin(), large.begin() + length), whole);
    const std::vector<SetupPacket> requests = board->controlRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back().length, 4096);
}

// Releasing the interface would let a kernel driver bound to it attach again, and the kernel then
// refuses the change.  So the driver stays detached, also from the interface of the new
// configuration, to which the kernel binds it.
TEST_F(LibusbTest, SettingTheConfigurationKeepsTheKernelDriverOffTheDataInterface) {
    DeviceSpec spec;
    spec.kernelDriver = "usbtest";
    spec.firmware = alwaysAnswering({0xAC});
    EmulatedUsbDevice& board = testbed().plug(std::move(spec));
    TARVEX_HANDLE out = openPipe(0, PIPE_WRITE);
    TARVEX_HANDLE in = openPipe(0, PIPE_READ);
    ASSERT_NE(out, TARVEX_INVALID_HANDLE);
    ASSERT_NE(in, TARVEX_INVALID_HANDLE);

    EXPECT_EQ(MPUSBSetConfiguration(out, 1), 1u);
    EXPECT_EQ(board.configurationsSet(), std::vector<unsigned>{1});
    EXPECT_TRUE(board.interfaceClaimed());
    EXPECT_EQ(board.boundDriver(), "");
    EXPECT_EQ(board.driverAttaches(), 0);

    const Bytes packet = commandPacket(0xF0, 1, 3);
    std::uint8_t reply[1] = {};
    std::uint32_t count = 0;
    EXPECT_EQ(MPUSBWrite(out, packet.data(), 64, &count, 250), 1u);
    EXPECT_EQ(MPUSBRead(in, reply, 1, &count, 250), 1u);
    EXPECT_EQ(reply[0], 0xAC);
    EXPECT_EQ(MPUSBClose(out), 1);
    EXPECT_EQ(MPUSBClose(in), 1);
    EXPECT_EQ(board.boundDriver(), "usbtest");  // given back when the board is let go
}

TEST_F(LibusbControl, AClaimThatFailsAfterTheConfigurationChangeIsReported) {
    TARVEX_HANDLE out = open(PIPE_WRITE);
    // Another program takes the interface while it is released for the change.
    board->setHeldElsewhere(true);
    StdoutCapture output;
    EXPECT_EQ(MPUSBSetConfiguration(out, 1), 0u);
    EXPECT_EQ(output.take(), "Set configuration error: 32");
    EXPECT_EQ(lastError(), platform::kErrorSharingViolation);
    EXPECT_EQ(board->configurationsSet(), std::vector<unsigned>{1});
    EXPECT_FALSE(board->interfaceClaimed());
}

TEST_F(LibusbControl, TheBareInterfaceSetsTheConfigurationWithoutAClaim) {
    TARVEX_HANDLE bare = open(PIPE_WRITE, nullptr);
    EXPECT_EQ(MPUSBSetConfiguration(bare, 1), 1u);
    EXPECT_EQ(board->configurationsSet(), std::vector<unsigned>{1});
    EXPECT_EQ(board->claims(), 0);
}

// As on Windows, a control code needs the access its code names: reading a descriptor needs a
// handle opened for reading, setting the configuration one opened for writing.
TEST_F(LibusbControl, ARequestNeedsTheAccessItsControlCodeNames) {
    TARVEX_HANDLE out = open(PIPE_WRITE);
    TARVEX_HANDLE in = open(PIPE_READ);
    {
        StdoutCapture output;
        EXPECT_EQ(MPUSBGetDeviceDescriptor(out, buffer, sizeof buffer, &length), 0u);
        EXPECT_EQ(output.take(), "Get dsc error: 5");
        EXPECT_EQ(lastError(), platform::kErrorAccessDenied);
    }
    {
        StdoutCapture output;
        EXPECT_EQ(MPUSBSetConfiguration(in, 1), 0u);
        EXPECT_EQ(output.take(), "Set configuration error: 5");
    }
    EXPECT_TRUE(board->controlRequests().empty());
    EXPECT_TRUE(board->configurationsSet().empty());
}

TEST_F(LibusbControl, ARequestOnAClosedHandleFailsWithInvalidHandle) {
    TARVEX_HANDLE in = MPUSBOpen(0, kBoardVidPid.c_str(), TARVEX_BOARD_PIPE, PIPE_READ, 0);
    ASSERT_EQ(MPUSBClose(in), 1);
    StdoutCapture output;
    EXPECT_EQ(MPUSBGetDeviceDescriptor(in, buffer, sizeof buffer, &length), 0u);
    EXPECT_EQ(output.take(), "Get dsc error: 6");
}

TEST_F(LibusbControl, ACodeTheDriverDoesNotKnowIsAnInvalidFunction) {
    TARVEX_HANDLE in = open(PIPE_READ);
    std::uint32_t returned = 0;
    EXPECT_FALSE(os().deviceIoControl(in, 0x00226010, nullptr, 0, buffer, sizeof buffer, &returned,
                                      nullptr));
    EXPECT_EQ(lastError(), 1u);  // ERROR_INVALID_FUNCTION
    std::uint8_t shortParam[2] = {1, 0};
    EXPECT_FALSE(os().deviceIoControl(in, 0x00226004, shortParam, sizeof shortParam, buffer,
                                      sizeof buffer, &returned, nullptr));
    EXPECT_EQ(lastError(), platform::kErrorInvalidParameter);
}

// A control request given a transfer record completes at once and signals the record's event.
TEST_F(LibusbControl, ADescriptorReadWithATransferRecordCompletesAtOnce) {
    TARVEX_HANDLE in = open(PIPE_READ);
    platform::Overlapped record{};
    record.event = os().createEvent(false, false);
    std::uint8_t param[4] = {1, 0, 0, 0};
    std::uint32_t returned = 0;
    EXPECT_TRUE(
        os().deviceIoControl(in, 0x00226004, param, 4, buffer, sizeof buffer, &returned, &record));
    EXPECT_EQ(returned, 18u);
    EXPECT_EQ(os().waitForSingleObject(record.event, 0), platform::kWaitObject0);
    std::uint32_t count = 0;
    EXPECT_TRUE(os().getOverlappedResult(in, &record, &count, false));
    EXPECT_EQ(count, 18u);
    os().closeHandle(record.event);
}

}  // namespace
}  // namespace tarvex::libusbtest
