#include "wine_device.h"

#include <setupapi.h>
#include <winternl.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace tarvex::wine {
namespace {

// The driver's class and names written out here on purpose, not taken from platform/driver.h: the
// stand-in device registers itself as the real driver would, an independent check of the DLL.
const GUID kInterfaceClass = {
    0x5354FA28, 0x6D14, 0x4E35, {0xA1, 0xF5, 0x75, 0xBB, 0x54, 0xE6, 0x03, 0x0F}};
const char* const kInterfaceClassText = "{5354fa28-6d14-4e35-a1f5-75bb54e6030f}";
// The setup class of USB devices, which the device key names as its own.
const char* const kUsbDeviceClass = "{36fc9e60-c465-11cf-8056-444553540000}";

const char* const kEnumKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\";
const char* const kDeviceClassesKey = "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\";

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

void setValue(const std::string& key, const char* name, DWORD type, const void* data,
              DWORD size) {
    HKEY handle = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &handle, nullptr);
    if (result == ERROR_SUCCESS) {
        result = RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(handle);
    }
    if (result != ERROR_SUCCESS)
        std::fprintf(stderr, "registry: cannot set %s\\%s (%ld)\n", key.c_str(), name, result);
}

void setText(const std::string& key, const char* name, const std::string& text) {
    setValue(key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

void setDword(const std::string& key, const char* name, DWORD value) {
    setValue(key, name, REG_DWORD, &value, sizeof value);
}

// ntdll's object-directory and symbolic-link calls; Wine's kernel32 has no road to them.
using NtCreateDirectoryObjectFn = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*);
using NtCreateSymbolicLinkObjectFn = NTSTATUS(NTAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*,
                                                      UNICODE_STRING*);
constexpr ACCESS_MASK kDirectoryAllAccess = 0x000F000F;
constexpr ACCESS_MASK kSymbolicLinkAllAccess = 0x000F0001;

template <typename Function>
Function ntdll(const char* name) {
    FARPROC address = GetProcAddress(GetModuleHandleA("ntdll.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

UNICODE_STRING unicode(std::wstring& text) {
    UNICODE_STRING result;
    result.Buffer = text.data();
    result.Length = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    result.MaximumLength = result.Length;
    return result;
}

}  // namespace

WineDeviceInterface::WineDeviceInterface(std::string vidPid, std::string serial)
    : vidPid_(std::move(vidPid)), serial_(std::move(serial)) {
    const std::string instance = "USB\\" + vidPid_ + "\\" + serial_;
    path_ = lower("\\\\?\\USB#" + vidPid_ + "#" + serial_ + "#" + kInterfaceClassText);

    setText(kEnumKey + vidPid_ + "\\" + serial_, "ClassGUID", kUsbDeviceClass);
    setText(interfaceKey(), "DeviceInstance", instance);
    setDword(interfaceKey() + "\\#\\Control", "Linked", 1);
}

WineDeviceInterface::~WineDeviceInterface() {
    removeRoute();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, interfaceKey().c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kEnumKey + vidPid_ + "\\" + serial_).c_str());
    // The vendor/product key goes too once no other device of the test holds it.
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kEnumKey + vidPid_).c_str());
}

std::string WineDeviceInterface::interfaceKey() const {
    return std::string(kDeviceClassesKey) + kInterfaceClassText + "\\##?#USB#" + vidPid_ + "#" +
           serial_ + "#" + kInterfaceClassText;
}

bool WineDeviceInterface::routeDataPipe(const std::string& pipeName) {
    removeRoute();
    // "\\?\x" opens the NT name "\??\x"; the directory takes the interface's own name.
    std::wstring directoryName = L"\\??\\" + widen(path_.substr(4));
    std::wstring linkName = L"MCHP_EP1";
    std::wstring target = L"\\Device\\NamedPipe\\" + widen(pipeName);
    UNICODE_STRING directoryText = unicode(directoryName);
    UNICODE_STRING linkText = unicode(linkName);
    UNICODE_STRING targetText = unicode(target);

    OBJECT_ATTRIBUTES directoryAttributes;
    InitializeObjectAttributes(&directoryAttributes, &directoryText, OBJ_CASE_INSENSITIVE,
                               nullptr, nullptr);
    NTSTATUS status = ntdll<NtCreateDirectoryObjectFn>("NtCreateDirectoryObject")(
        &routeDirectory_, kDirectoryAllAccess, &directoryAttributes);
    if (status != 0) {
        std::fprintf(stderr, "route: NtCreateDirectoryObject failed (0x%08lx)\n",
                     static_cast<unsigned long>(status));
        routeDirectory_ = nullptr;
        return false;
    }
    OBJECT_ATTRIBUTES linkAttributes;
    InitializeObjectAttributes(&linkAttributes, &linkText, OBJ_CASE_INSENSITIVE, routeDirectory_,
                               nullptr);
    status = ntdll<NtCreateSymbolicLinkObjectFn>("NtCreateSymbolicLinkObject")(
        &routeLink_, kSymbolicLinkAllAccess, &linkAttributes, &targetText);
    if (status != 0) {
        std::fprintf(stderr, "route: NtCreateSymbolicLinkObject failed (0x%08lx)\n",
                     static_cast<unsigned long>(status));
        routeLink_ = nullptr;
        removeRoute();
        return false;
    }
    return true;
}

void WineDeviceInterface::unplug() {
    setDword(interfaceKey() + "\\#\\Control", "Linked", 0);
    removeRoute();
}

// The directory and the link live as long as a handle to them is open.
void WineDeviceInterface::removeRoute() {
    if (routeLink_) CloseHandle(routeLink_);
    if (routeDirectory_) CloseHandle(routeDirectory_);
    routeLink_ = nullptr;
    routeDirectory_ = nullptr;
}

namespace {

std::vector<std::string> subkeys(const std::string& key) {
    std::vector<std::string> names;
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return names;
    char name[512];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(handle, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, size);
    }
    RegCloseKey(handle);
    return names;
}

}  // namespace

void removeInterfacesWithSerialPrefix(const std::string& serialPrefix) {
    const std::string marker = "#" + lower(serialPrefix);
    const std::string classKey = std::string(kDeviceClassesKey) + kInterfaceClassText;
    for (const std::string& name : subkeys(classKey))
        if (lower(name).find(marker) != std::string::npos)
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, (classKey + "\\" + name).c_str());
    for (const std::string& device : subkeys(kEnumKey)) {
        for (const std::string& serial : subkeys(kEnumKey + device))
            if (lower(serial).rfind(lower(serialPrefix), 0) == 0)
                RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kEnumKey + device + "\\" + serial).c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kEnumKey + device).c_str());  // only if now empty
    }
}

std::vector<std::string> listedInterfacePaths() {
    std::vector<std::string> paths;
    HDEVINFO set = SetupDiGetClassDevsA(&kInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kInterfaceClass, index, &data)) break;
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr);
        std::vector<char> record(needed + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.data());
        detail->cbSize = sizeof *detail;
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr))
            paths.emplace_back(detail->DevicePath);
        else
            paths.emplace_back();
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

}  // namespace tarvex::wine
