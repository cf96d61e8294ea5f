#include "reliability/exports.h"

#include <gtest/gtest.h>

namespace tarvex::reliability {
namespace {

const std::uint8_t kAddr[4] = {192, 168, 1, 10};
const std::uint8_t kMac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const std::uint8_t kI2cData[4] = {0x11, 0x22, 0x33, 0x44};
const float kCalib[7] = {1.5f, 1.2346f, 100.0001f, 2.7182817f, 0.5f, 3.25f, 65535.99609375f};

// A ping request and a device id request as a host builds them itself.
Bytes PingPacket() {
    Bytes p(64, 0);
    p[0] = CMD_SYSTEM;
    p[1] = DIR_GET;
    p[3] = SYS_PING;
    return p;
}
Bytes DeviceIdPacket() {
    Bytes p(64, 0);
    p[0] = CMD_SYSTEM;
    p[1] = DIR_SET;
    p[3] = SYS_DEVICE_ID;
    p[4] = 0x2A;
    return p;
}

// A 20-byte read after a ping written by the host on its own handles, with MPUSBRead's outcome
// told the way the port family tells it: 1 for all 20 bytes, 2 for fewer, 0 for a failure.
int HostPing(Rig& r) {
    const Bytes ping = PingPacket();
    std::uint32_t written = 0;
    if (!MPUSBWrite(r.hostOut, ping.data(), 64, &written, 250)) return 0;
    if (!MPUSBRead(r.hostIn, r.bytes, 20, &r.count, 250)) return 0;
    return r.count == 20 ? 1 : 2;
}

ExportCase Set(std::string name, std::function<int(Rig&)> call,
               std::function<wire::Steps(Rig&)> steps, std::uint32_t timeoutMs = 250) {
    ExportCase e{.name = std::move(name), .shape = Shape::kSet};
    e.timeoutMs = timeoutMs;
    e.waits = 1;
    e.call = std::move(call);
    e.steps = std::move(steps);
    return e;
}

ExportCase Get(std::string name, std::function<int(Rig&)> call,
               std::function<wire::Steps(Rig&)> steps, std::uint32_t timeoutMs = 250) {
    ExportCase e{.name = std::move(name), .shape = Shape::kGet};
    e.timeoutMs = timeoutMs;
    e.waits = 2;
    e.call = std::move(call);
    e.steps = std::move(steps);
    return e;
}

ExportCase SetBlock(std::string name, std::function<int(Rig&)> call,
                    std::function<wire::Steps(Rig&)> steps) {
    ExportCase e{.name = std::move(name), .shape = Shape::kSetBlock};
    e.waits = 2;
    e.call = std::move(call);
    e.steps = std::move(steps);
    return e;
}

ExportCase Capture(std::string name, std::function<int(Rig&)> call, bool fast) {
    ExportCase e{.name = std::move(name), .shape = Shape::kCapture};
    e.sleepMs = 150;
    e.waits = 10 + 2 * kRigPackets;
    e.faultAt = 7;  // the first packet request, after the capture start's seven writes
    e.ok = e.fail = 1;
    e.call = std::move(call);
    e.steps = [fast](Rig&) { return wire::ScopeSamples(fast, kRigPackets); };
    return e;
}

ExportCase OnHost(ExportCase e) {
    e.usesPortTable = false;
    return e;
}

ExportCase Control(std::string name, std::function<int(Rig&)> call) {
    ExportCase e{.name = std::move(name), .shape = Shape::kControl};
    e.usesPortTable = false;
    e.call = std::move(call);
    return e;
}

ExportCase Discovery(std::string name, int present, int gone, std::function<int(Rig&)> call) {
    ExportCase e{.name = std::move(name), .shape = Shape::kDiscovery};
    e.usesPortTable = false;
    e.ok = present;
    e.fail = gone;
    e.call = std::move(call);
    return e;
}

std::vector<ExportCase> MakeExports() {
    std::vector<ExportCase> all;
    auto add = [&](ExportCase e) { all.push_back(std::move(e)); };

    // ---- MPUSB family ----
    add(Discovery("MPUSBGetDeviceCount", 1, 0,
                  [](Rig&) { return static_cast<int>(MPUSBGetDeviceCount(TARVEX_BOARD_VID_PID)); }));
    add(Discovery("MPUSBGetDeviceCount(null)", 1, 0,
                  [](Rig&) { return static_cast<int>(MPUSBGetDeviceCount(nullptr)); }));
    add(Discovery("MPUSBOpen", 1, 0, [](Rig&) {
        TARVEX_HANDLE h = MPUSBOpen(0, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_READ, 0);
        const int opened = h != TARVEX_INVALID_HANDLE;
        MPUSBClose(h);
        return opened;
    }));
    add(Discovery("MPUSBClose", 1, 1, [](Rig& r) {
        const int closed = MPUSBClose(r.hostIn);
        r.hostIn = TARVEX_INVALID_HANDLE;
        return closed;
    }));
    add(OnHost(Get("MPUSBWrite+MPUSBRead", HostPing, [](Rig&) {
        const Bytes ping = PingPacket();
        return wire::Raw(ping.data(), 64);
    })));
    add(OnHost(Set(
        "MPUSBWrite",
        [](Rig& r) {
            const Bytes p = DeviceIdPacket();
            return static_cast<int>(MPUSBWrite(r.hostOut, p.data(), 64, &r.count, 250));
        },
        [](Rig&) {
            const Bytes p = DeviceIdPacket();
            return wire::Raw(p.data(), 64);
        })));
    {
        ExportCase e{.name = "MPUSBReadInt", .shape = Shape::kInterrupt};
        e.usesPortTable = false;
        e.waits = 1;
        e.ok = e.fail = 0;  // the demo board sends no interrupt data: the read always times out
        e.call = [](Rig& r) {
            return static_cast<int>(MPUSBReadInt(r.hostIn, r.bytes, 64, &r.count, 250));
        };
        add(e);
    }
    add(Control("MPUSBGetDeviceDescriptor", [](Rig& r) {
        return static_cast<int>(MPUSBGetDeviceDescriptor(r.hostIn, r.bytes, 18, &r.count));
    }));
    add(Control("MPUSBGetConfigurationDescriptor", [](Rig& r) {
        return static_cast<int>(MPUSBGetConfigurationDescriptor(r.hostIn, 1, r.bytes, 64, &r.count));
    }));
    add(Control("MPUSBGetStringDescriptor", [](Rig& r) {
        return static_cast<int>(MPUSBGetStringDescriptor(r.hostIn, 1, 0x0409, r.bytes, 64, &r.count));
    }));
    add(Control("MPUSBSetConfiguration",
                [](Rig& r) { return static_cast<int>(MPUSBSetConfiguration(r.hostIn, 1)); }));
    add(Discovery("MPUSBGetDLLVersion", 0x01010000, 0x01010000,
                  [](Rig&) { return static_cast<int>(MPUSBGetDLLVersion()); }));

    // ---- port family ----
    add(Discovery("OpenUSBPort", 1, 0, [](Rig&) { return OpenUSBPort(0); }));
    add(Discovery("CloseUSBPort", 1, 1, [](Rig&) { return CloseUSBPort(0); }));
    add(Set(
        "SendUSBPacket",
        [](Rig&) {
            const Bytes p = DeviceIdPacket();
            return SendUSBPacket(0, p.data(), 64, 250);
        },
        [](Rig&) {
            const Bytes p = DeviceIdPacket();
            return wire::Raw(p.data(), 64);
        }));
    add(Get(
        "SendReceiveUSBPacket",
        [](Rig& r) {
            const Bytes p = PingPacket();
            r.count = 20;
            return SendReceiveUSBPacket(0, p.data(), 64, r.bytes, &r.count, 250, 250);
        },
        [](Rig&) {
            const Bytes p = PingPacket();
            return wire::Raw(p.data(), 64);
        }));

    // ---- system commands ----
    add(Discovery("u_About", 1, 1, [](Rig&) { return u_About(); }));
    add(Discovery("u_GetAPIRev", 4096, 4096, [](Rig&) { return u_GetAPIRev(); }));
    add(Discovery("u_GetDeviceCount", 1, 0, [](Rig&) { return u_GetDeviceCount(); }));
    add(Get("u_Ping", [](Rig& r) { return u_Ping(0, r.bytes); }, [](Rig&) { return wire::Ping(); }));
    add(Set("u_Reset_MCU", [](Rig&) { return u_Reset_MCU(0); }, [](Rig&) { return wire::ResetMcu(); }));
    add(Set("u_Reset_MCU_Boot", [](Rig&) { return u_Reset_MCU_Boot(0); },
            [](Rig&) { return wire::ResetMcuBoot(); }));
    add(Set("u_SetDeviceID", [](Rig&) { return u_SetDeviceID(0, 7); },
            [](Rig&) { return wire::SetDeviceId(7); }));

    // ---- network settings ----
    add(Set("u_SetEthIPAddr", [](Rig&) { return u_SetEthIPAddr(0, kAddr); },
            [](Rig&) { return wire::SetEth(0, kAddr); }));
    add(Get("u_GetEthIPAddr", [](Rig& r) { return u_GetEthIPAddr(0, r.bytes); },
            [](Rig&) { return wire::GetEth(0); }));
    add(Set("u_SetEthIPMask", [](Rig&) { return u_SetEthIPMask(0, kAddr); },
            [](Rig&) { return wire::SetEth(1, kAddr); }));
    add(Get("u_GetEthIPMask", [](Rig& r) { return u_GetEthIPMask(0, r.bytes); },
            [](Rig&) { return wire::GetEth(1); }));
    add(Set("u_SetEthIPGateway", [](Rig&) { return u_SetEthIPGateway(0, kAddr); },
            [](Rig&) { return wire::SetEth(2, kAddr); }));
    add(Get("u_GetEthIPGateway", [](Rig& r) { return u_GetEthIPGateway(0, r.bytes); },
            [](Rig&) { return wire::GetEth(2); }));
    add(Set("u_SetEthMACAddress", [](Rig&) { return u_SetEthMACAddress(0, kMac); },
            [](Rig&) { return wire::SetEth(3, kMac); }));
    add(Get("u_GetEthMACAddress", [](Rig& r) { return u_GetEthMACAddress(0, r.bytes); },
            [](Rig&) { return wire::GetEth(3); }));

    // ---- I2C, clock chips, MDIO ----
    add(SetBlock("u_I2C_Write", [](Rig&) { return u_I2C_Write(0, 0x50, kI2cData, 4, 0x10, 0); },
                 [](Rig&) { return wire::I2cWrite(0x50, kI2cData, 4, 0x10, 0); }));
    add(Get("u_I2C_Read", [](Rig& r) { return u_I2C_Read(0, 0x50, 4, r.bytes, 0x10, 0); },
            [](Rig&) { return wire::I2cRead(0x50, 4, 0x10, 0); }));
    add(Set("u_SetSi5326", [](Rig&) { return u_SetSi5326(0, 0x68, 3, 0x15); },
            [](Rig&) { return wire::SetClockChip(0, 0x68, 3, 0x15); }, 100));
    add(Get("u_GetSi5326", [](Rig& r) { return u_GetSi5326(0, 0x68, 3, &r.value8); },
            [](Rig&) { return wire::GetClockChip(0, 0x68, 3); }, 100));
    add(Set("u_SetSi5338", [](Rig&) { return u_SetSi5338(0, 0x70, 6, 0x08); },
            [](Rig&) { return wire::SetClockChip(1, 0x70, 6, 0x08); }, 100));
    add(Get("u_GetSi5338", [](Rig& r) { return u_GetSi5338(0, 0x70, 6, &r.value8); },
            [](Rig&) { return wire::GetClockChip(1, 0x70, 6); }, 100));
    add(Set("u_SetMDIO", [](Rig&) { return u_SetMDIO(0, 0, 0x0004, 0x01E1); },
            [](Rig&) { return wire::SetMdio(0, 0x0004, 0x01E1); }));
    add(Get("u_GetMDIO", [](Rig& r) { return u_GetMDIO(0, 0, 0x0002, &r.value16); },
            [](Rig&) { return wire::GetMdio(0, 0x0002); }));

    // ---- port registers ----
    add(Set("u_SetPort", [](Rig&) { return u_SetPort(0, 5, 0x1234); },
            [](Rig&) { return wire::SetPort(5, 0x1234); }));
    add(Get("u_GetPort", [](Rig& r) { return u_GetPort(0, 3, &r.value16); },
            [](Rig&) { return wire::GetPort(3); }));
    {
        ExportCase e{.name = "u_GetStatus", .shape = Shape::kStatus};
        e.waits = 6;
        e.call = [](Rig& r) { return u_GetStatus(0, r.bytes); };
        e.steps = [](Rig&) { return wire::GetStatus(); };
        add(e);
    }
    {
        ExportCase e{.name = "u_ResetFIFO", .shape = Shape::kResetFifo};
        e.waits = 4;
        e.sleepMs = 100;
        e.call = [](Rig&) { return u_ResetFIFO(0); };
        e.steps = [](Rig&) { return wire::ResetFifo(); };
        add(e);
    }

    // ---- scope capture and eye ----
    add(Get("u_GetScopePacket", [](Rig& r) { return u_GetScopePacket(0, r.bytes); },
            [](Rig&) { return wire::ScopePacket(false); }));
    add(Get("u_GetScopePacketFast", [](Rig& r) { return u_GetScopePacketFast(0, r.bytes); },
            [](Rig&) { return wire::ScopePacket(true); }));
    add(Capture(
        "u_GetScopeSamples",
        [](Rig& r) { return u_GetScopeSamples(0, kRigPackets, r.samples.data(), &r.stats); },
        false));
    add(Capture(
        "u_GetScopeSamplesFast",
        [](Rig& r) { return u_GetScopeSamplesFast(0, kRigPackets, r.fast.data(), &r.stats); },
        true));
    add(Capture(
        "u_GetEyeXY",
        [](Rig& r) {
            return u_GetEyeXY(0, kRigPackets, 10.3125e9, 100e6, r.eyeX.data(), 0, r.samples.data(),
                              &r.stats);
        },
        false));

    // ---- VScope and temperature ----
    add(Set("u_GenerateVScopeEye", [](Rig&) { return u_GenerateVScopeEye(0); },
            [](Rig&) { return wire::GenerateVScopeEye(); }));
    {
        // A page of an eye the board has finished building.
        ExportCase e = Get(
            "u_GetVScopePacket", [](Rig& r) { return u_GetVScopePacket(0, r.bytes, 64, 3); },
            [](Rig&) { return wire::VScopePacket(64, 3); });
        e.prepare = [](Rig& r) {
            EXPECT_EQ(u_GenerateVScopeEye(0), 1);
            r.world.advance(1500);
            r.model.advance(wire::GenerateVScopeEye(), r.takeReceived());
        };
        add(e);
    }
    {
        ExportCase e{.name = "u_GetVScopeSamples", .shape = Shape::kVScope};
        e.waits = 1 + 2 * 16;
        e.sleepMs = 1500 + 16 * 25;
        e.faultAt = 1;  // the first page request
        e.call = [](Rig& r) { return u_GetVScopeSamples(0, r.bytes); };
        e.steps = [](Rig&) { return wire::VScopeSamples(); };
        add(e);
    }
    add(Get("u_GetVSCTemp", [](Rig& r) { return u_GetVSCTemp(0, &r.value8); },
            [](Rig&) { return wire::VscTemp(); }));

    // ---- calibration ----
    add(SetBlock("u_StoreScopeCalibValues", [](Rig&) { return u_StoreScopeCalibValues(0, kCalib); },
                 [](Rig&) { return wire::StoreCalibration(kCalib); }));
    add(Get("u_GetScopeCalibValues", [](Rig& r) { return u_GetScopeCalibValues(0, r.floats); },
            [](Rig&) { return wire::GetCalibration(); }));
    return all;
}

}  // namespace

const std::vector<ExportCase>& AllExports() {
    static const std::vector<ExportCase> all = MakeExports();
    return all;
}

double BoundMs(const ExportCase& e, double cancelLatencyMs) {
    return e.sleepMs + e.waits * (e.timeoutMs + cancelLatencyMs);
}

}  // namespace tarvex::reliability
