// The names the libusb backend gives devices: interface paths, registry keys, device instances.
#include <gtest/gtest.h>

#include "platform/libusb/interface_path.h"

namespace tarvex::platform::libusb {
namespace {

const std::string kClass = "{5354fa28-6d14-4e35-a1f5-75bb54e6030f}";

TEST(LibusbInterfacePath, NamesVendorProductAndPlace) {
    InterfaceId id{0x04D8, 0x0030, Location{1, {2, 3}}};
    EXPECT_EQ(interfacePath(id), "\\\\?\\usb#vid_04d8&pid_0030#1-2.3#" + kClass);
    EXPECT_EQ(deviceInstance(id), "USB\\VID_04D8&PID_0030\\1-2.3");
    EXPECT_EQ(parseInterfacePath(interfacePath(id)), id);
    InterfaceId rootHub{0x1D6B, 0x0002, Location{3, {}}};
    EXPECT_EQ(interfacePath(rootHub), "\\\\?\\usb#vid_1d6b&pid_0002#3-0#" + kClass);
    EXPECT_EQ(parseInterfacePath(interfacePath(rootHub)), rootHub);
}

TEST(LibusbInterfacePath, ReadsAnyCaseButNothingElse) {
    const InterfaceId id{0x04D8, 0x0030, Location{1, {12}}};
    EXPECT_EQ(parseInterfacePath("\\\\?\\USB#VID_04D8&PID_0030#1-12#{5354FA28-6D14-4E35-A1F5-"
                                 "75BB54E6030F}"),
              id);
    for (const std::string& bad :
         {"\\\\?\\usb#vid_04d8&pid_0030#1-12#" + kClass + "x",  // trailing text
          "\\\\?\\usb#vid_04d8&pid_030#1-12#" + kClass,         // three hex digits
          "\\\\?\\usb#vid_04g8&pid_0030#1-12#" + kClass,        // not hex
          "\\\\?\\usb#vid_04d8&pid_0030#1-012#" + kClass,       // leading zero
          "\\\\?\\usb#vid_04d8&pid_0030#1-2.0#" + kClass,       // port 0 below a hub
          "\\\\?\\usb#vid_04d8&pid_0030#1-256#" + kClass,       // no such port
          "\\\\?\\usb#vid_04d8&pid_0030#1#" + kClass,           // no port
          "##?#usb#vid_04d8&pid_0030#1-2#" + kClass,            // the registry's form
          std::string{}}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseInterfacePath(bad).has_value());
    }
}

TEST(LibusbInterfacePath, TheRegistryKeyHoldsThePathWithHashesForBackslashes) {
    const std::string prefix =
        "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\DEVICECLASSES\\" + kClass + "\\";
    const InterfaceId id{0x04D8, 0x0030, Location{2, {1, 4}}};
    EXPECT_EQ(parseRegistryKey(prefix + "##?#usb#vid_04d8&pid_0030#2-1.4#" + kClass), id);
    EXPECT_EQ(parseRegistryKey("system\\currentcontrolset\\control\\deviceclasses\\" + kClass +
                               "\\##?#usb#vid_04d8&pid_0030#2-1.4#" + kClass),
              id);
    EXPECT_FALSE(parseRegistryKey(prefix + "\\\\?\\usb#vid_04d8&pid_0030#2-1.4#" + kClass));
    EXPECT_FALSE(parseRegistryKey(prefix + "##?#"));
    EXPECT_FALSE(parseRegistryKey(prefix));
}

}  // namespace
}  // namespace tarvex::platform::libusb
