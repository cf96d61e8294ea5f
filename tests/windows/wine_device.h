// Device interfaces of the board's driver, made up inside Wine so that the real SetupAPI lists them
// and the real CreateFileA opens their data pipes.
//
// Wine's SetupAPI lists an interface of a class as present when the registry under
// HKLM\SYSTEM\CurrentControlSet holds its device (Enum\USB\VID_xxxx&PID_xxxx\<serial>) and its
// interface key (Control\DeviceClasses\{class}\##?#USB#VID_xxxx&PID_xxxx#<serial>#{class}, with
// "DeviceInstance" and #\Control "Linked" = 1).  It lists them in the order of those key names
// and reports each path in lower case.  The data pipe "<path>\MCHP_EP1" is routed to a named pipe
// by an object directory named after the interface, holding a symbolic link "MCHP_EP1".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tarvex::wine {

class WineDeviceInterface {
public:
    // `vidPid` as in a device instance identifier ("VID_04D8&PID_0030"); `serial` unique within
    // the Wine prefix.
    WineDeviceInterface(std::string vidPid, std::string serial);
    // Removes the registry keys and the pipe route.
    ~WineDeviceInterface();
    WineDeviceInterface(const WineDeviceInterface&) = delete;
    WineDeviceInterface& operator=(const WineDeviceInterface&) = delete;

    // The interface path as SetupAPI reports it: "\\?\usb#vid_04d8&pid_0030#<serial>#{guid}".
    const std::string& path() const { return path_; }
    // The registry key the library reads "DeviceInstance" from (under HKEY_LOCAL_MACHINE).
    std::string interfaceKey() const;

    // Routes the data pipe "<path>\MCHP_EP1" to the named pipe \\.\pipe\<pipeName>.  false (with
    // the reason in the test log) when Wine refused.
    bool routeDataPipe(const std::string& pipeName);
    // Unplugged: no longer linked, so no longer listed, and the pipe route is gone.
    void unplug();

private:
    void removeRoute();

    std::string vidPid_;
    std::string serial_;
    std::string path_;
    HANDLE routeDirectory_ = nullptr;
    HANDLE routeLink_ = nullptr;
};

// The interface paths of the driver's class that SetupAPI lists now, in member-index order.
std::vector<std::string> listedInterfacePaths();

// Removes the registry keys of every interface whose serial begins with `serialPrefix`: what a
// test program that was stopped before its clean-up left in the prefix.
void removeInterfacesWithSerialPrefix(const std::string& serialPrefix);

}  // namespace tarvex::wine
