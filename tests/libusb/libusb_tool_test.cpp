// The tarvex tool on the libusb backend, as a person runs it on Linux: the built tool in a child
// process, which inherits this process's umockdev redirection and so lists the emulated kernel
// devices this test plugs (it cannot open them: the testbed answers their requests in this
// process's memory).  What it says when there is no USB at all, and when there is but no board.
#include <gmock/gmock.h>

#include "cli/tool_runner.h"
#include "libusb/libusb_fixture.h"

namespace tarvex::libusbtest {
namespace {

using cli::test::runTool;
using ::testing::HasSubstr;

using LibusbTool = LibusbTest;

TEST_F(LibusbTool, WithNoUsbDeviceAtAllTheToolSaysNoUsbAccessAndWhatToDo) {
    for (const char* command : {"list", "ping"}) {
        SCOPED_TRACE(command);
        const auto run = runTool({command});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err,
                  "tarvex: no USB access: no USB device is visible, not even a USB controller; "
                  "run the tool where the board's USB bus is visible (a container needs the "
                  "host's /dev/bus/usb, as docker run --device /dev/bus/usb gives it), or try "
                  "the tool on the emulated demo board with --demo\n");
    }
}

TEST_F(LibusbTool, ANonBoardDeviceAloneIsNoBoardNotNoAccess) {
    DeviceSpec keyboard;
    keyboard.vendorId = 0x046D;
    keyboard.dataPipes = false;
    testbed().plug(std::move(keyboard));
    const auto run = runTool({"ping"});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("tarvex: no board at index 0: no board found; check that it "
                                   "is plugged in"));
}

}  // namespace
}  // namespace tarvex::libusbtest
