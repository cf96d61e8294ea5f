// The export table of tarvex.dll as Windows (here Wine) loads it: each of the 53 functions under
// its name and at its ordinal, nothing else, the import library pointing at the same functions,
// and no MinGW runtime DLL needed beside it.
#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "tarvex.h"  // through the import library: this program links tarvex.lib

namespace tarvex::wine {
namespace {

struct Export {
    WORD ordinal;
    const char* name;
};

// The ordinals host programs import by: the port family, then the u_ commands, then the MPUSB
// family, each in byte-wise order of the names.
const Export kExports[] = {
    {1, "CloseUSBPort"},
    {2, "OpenUSBPort"},
    {3, "SendReceiveUSBPacket"},
    {4, "SendUSBPacket"},
    {5, "u_About"},
    {6, "u_GenerateVScopeEye"},
    {7, "u_GetAPIRev"},
    {8, "u_GetDeviceCount"},
    {9, "u_GetEthIPAddr"},
    {10, "u_GetEthIPGateway"},
    {11, "u_GetEthIPMask"},
    {12, "u_GetEthMACAddress"},
    {13, "u_GetEyeXY"},
    {14, "u_GetMDIO"},
    {15, "u_GetPort"},
    {16, "u_GetScopeCalibValues"},
    {17, "u_GetScopePacket"},
    {18, "u_GetScopePacketFast"},
    {19, "u_GetScopeSamples"},
    {20, "u_GetScopeSamplesFast"},
    {21, "u_GetSi5326"},
    {22, "u_GetSi5338"},
    {23, "u_GetStatus"},
    {24, "u_GetVSCTemp"},
    {25, "u_GetVScopePacket"},
    {26, "u_GetVScopeSamples"},
    {27, "u_I2C_Read"},
    {28, "u_I2C_Write"},
    {29, "u_Ping"},
    {30, "u_ResetFIFO"},
    {31, "u_Reset_MCU"},
    {32, "u_Reset_MCU_Boot"},
    {33, "u_SetDeviceID"},
    {34, "u_SetEthIPAddr"},
    {35, "u_SetEthIPGateway"},
    {36, "u_SetEthIPMask"},
    {37, "u_SetEthMACAddress"},
    {38, "u_SetMDIO"},
    {39, "u_SetPort"},
    {40, "u_SetSi5326"},
    {41, "u_SetSi5338"},
    {42, "u_StoreScopeCalibValues"},
    {43, "MPUSBClose"},
    {44, "MPUSBGetConfigurationDescriptor"},
    {45, "MPUSBGetDLLVersion"},
    {46, "MPUSBGetDeviceCount"},
    {47, "MPUSBGetDeviceDescriptor"},
    {48, "MPUSBGetStringDescriptor"},
    {49, "MPUSBOpen"},
    {50, "MPUSBRead"},
    {51, "MPUSBReadInt"},
    {52, "MPUSBSetConfiguration"},
    {53, "MPUSBWrite"},
};
constexpr std::size_t kExportCount = sizeof kExports / sizeof kExports[0];

// The DLLs every Windows installation has; tarvex.dll may import from these only.
const std::set<std::string> kSystemDlls = {"kernel32.dll", "advapi32.dll", "setupapi.dll",
                                           "user32.dll", "msvcrt.dll", "ntdll.dll"};

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The loaded image's own headers, read in place.
class Image {
public:
    explicit Image(HMODULE module) : base_(reinterpret_cast<const BYTE*>(module)) {}

    template <typename T>
    const T* at(DWORD rva) const { return reinterpret_cast<const T*>(base_ + rva); }

    const IMAGE_DATA_DIRECTORY& directory(int entry) const {
        const auto* dos = at<IMAGE_DOS_HEADER>(0);
        const auto* nt = at<IMAGE_NT_HEADERS>(static_cast<DWORD>(dos->e_lfanew));
        return nt->OptionalHeader.DataDirectory[entry];
    }

    // Export name -> ordinal, as the export directory lists them.
    std::map<std::string, WORD> exports(const IMAGE_EXPORT_DIRECTORY** directoryOut) const {
        const DWORD rva = this->directory(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress;
        const auto* directory = at<IMAGE_EXPORT_DIRECTORY>(rva);
        *directoryOut = directory;
        const auto* names = at<DWORD>(directory->AddressOfNames);
        const auto* ordinals = at<WORD>(directory->AddressOfNameOrdinals);
        std::map<std::string, WORD> result;
        for (DWORD i = 0; i < directory->NumberOfNames; ++i)
            result[at<char>(names[i])] = static_cast<WORD>(ordinals[i] + directory->Base);
        return result;
    }

    std::set<std::string> importedDlls() const {
        std::set<std::string> result;
        const IMAGE_DATA_DIRECTORY& imports = directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
        if (imports.VirtualAddress == 0) return result;
        for (const auto* entry = at<IMAGE_IMPORT_DESCRIPTOR>(imports.VirtualAddress); entry->Name;
             ++entry)
            result.insert(lower(at<char>(entry->Name)));
        return result;
    }

private:
    const BYTE* base_;
};

class DllExports : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA("tarvex.dll");
        ASSERT_NE(module_, nullptr) << "tarvex.dll did not load (" << GetLastError() << ")";
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

TEST_F(DllExports, TheOrdinalTableIsInByteWiseOrderWithinEachFamily) {
    // A check of the table above: names within a family ascend as strcmp orders them.
    const auto family = [](const char* name) {
        if (std::strncmp(name, "u_", 2) == 0) return 1;
        if (std::strncmp(name, "MPUSB", 5) == 0) return 2;
        return 0;
    };
    for (std::size_t i = 0; i < kExportCount; ++i) {
        EXPECT_EQ(kExports[i].ordinal, i + 1);
        if (i == 0) continue;
        const Export& before = kExports[i - 1];
        const Export& after = kExports[i];
        EXPECT_LE(family(before.name), family(after.name)) << after.name;
        if (family(before.name) == family(after.name)) {
            EXPECT_LT(std::strcmp(before.name, after.name), 0) << before.name << " " << after.name;
        }
    }
}

TEST_F(DllExports, EveryFunctionIsFoundByItsNameAndByItsOrdinal) {
    for (const Export& e : kExports) {
        SCOPED_TRACE(e.name);
        FARPROC byName = GetProcAddress(module_, e.name);
        FARPROC byOrdinal = GetProcAddress(module_, MAKEINTRESOURCEA(e.ordinal));
        ASSERT_NE(byName, nullptr);
        EXPECT_EQ(byOrdinal, byName) << "ordinal " << e.ordinal << " is another function";
    }
}

TEST_F(DllExports, NothingElseIsExported) {
    const IMAGE_EXPORT_DIRECTORY* directory = nullptr;
    const std::map<std::string, WORD> exports = Image(module_).exports(&directory);
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(directory->Base, 1u);
    EXPECT_EQ(directory->NumberOfFunctions, kExportCount) << "ordinals beyond the 53";
    EXPECT_EQ(directory->NumberOfNames, kExportCount);

    std::map<std::string, WORD> expected;
    for (const Export& e : kExports) expected[e.name] = e.ordinal;
    EXPECT_EQ(exports, expected);
    EXPECT_EQ(lower(Image(module_).at<char>(directory->Name)), "tarvex.dll");

    EXPECT_EQ(GetProcAddress(module_, MAKEINTRESOURCEA(kExportCount + 1)), nullptr);
    EXPECT_EQ(GetProcAddress(module_, "DllMain"), nullptr);
}

TEST_F(DllExports, OnlySystemDllsAreImported) {
    for (const std::string& dll : Image(module_).importedDlls()) {
        const bool system = kSystemDlls.count(dll) != 0 || dll.rfind("api-ms-win-", 0) == 0;
        EXPECT_TRUE(system) << "tarvex.dll needs " << dll;
    }
    EXPECT_EQ(Image(module_).importedDlls().count("setupapi.dll"), 1u);
}

TEST_F(DllExports, TheImportLibraryLinksToTheSameFunctions) {
    // Called through the import library this program was linked with.
    EXPECT_EQ(MPUSBGetDLLVersion(), MPUSB_DLL_VERSION);
    EXPECT_EQ(u_GetAPIRev(), static_cast<int>(TARVEX_API_REVISION));
    EXPECT_EQ(reinterpret_cast<void*>(&MPUSBGetDLLVersion),
              reinterpret_cast<void*>(GetProcAddress(module_, "MPUSBGetDLLVersion")));
    EXPECT_EQ(reinterpret_cast<void*>(&u_GetAPIRev),
              reinterpret_cast<void*>(GetProcAddress(module_, "u_GetAPIRev")));
}

}  // namespace
}  // namespace tarvex::wine
