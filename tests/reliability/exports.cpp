#include "reliability/exports.h"

#include <gtest/gtest.h>

namespace tarvex::reliability {
namespace {

const std::uint8_t kAddr[4] = {192, 168, 1, 10};
const std::uint8_t kMac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
const std::uint8_t kI2cData[4] = {0x11, 0x22, 0x33, 0x44};
const float kCalib[7] = {1.5f, 1.2346f, 100.0001f, 2.7182817f, 0.5f, 3.25f, 65535.99609375f};

// A ping request and a device id request as a host builds them itself.
Bytes pingPacket() {
    Bytes p(64, 0);
    p[0] = CMD_SYSTEM;
    p[1] = DIR_GET;
    p[3] = SYS_PING;
    return p;
}
Bytes deviceIdPacket() {
    Bytes p(64, 0);
    p[0] = CMD_SYSTEM;
    p[1] = DIR_SET;
    p[3] = SYS_DEVICE_ID;
    p[4] = 0x2A;
    return p;
}

// A 20-byte read after a ping written by the host on its own handles, with MPUSBRead's outcome
// told the way the port family tells it: 1 for all 20 bytes, 2 for fewer, 0 for a failure.
int hostPing(Rig& r) {
    const Bytes ping = pingPacket();
    std::uint32_t written = 0;
    if (!MPUSBWrite(r.hostOut, ping.data(), 64, &written, 250)) return 0;
    if (!MPUSBRead(r.hostIn, r.bytes, 20, &r.count, 250)) return 0;
    return r.count == 20 ? 1 : 2;
}

ExportCase setCase(std::string name, std::function<int(Rig&)> call,
               std::function<wire::Steps(Rig&)> steps, std::uint32_t timeoutMs = 250) {
    ExportCase e{.name = std::move(name), .shape = Shape::kSet};
    e.timeoutMs = timeoutMs;
    e.waits = 1;
    e.call = std::move(call);
    e.steps = std::move(steps);
    return e;
}

ExportCase getCase(std::string name, std::function<int(Rig&)> call,
               std::function<wire::Steps(Rig&)> steps, std::uint32_t timeoutMs = 250) {
    ExportCase e{.name = std::move(name), .shape = Shape::kGet};
    e.timeoutMs = timeoutMs;
    e.waits = 2;
    e.call = std::move(call);
    e.steps = std::move(steps);
    return e;
}

ExportCase setBlockCase(std::string name, std::function<int(Rig&)> call,
                    std::function<wire::Steps(Rig&)> steps) {
    ExportCase e{.name = std::move(name), .shape = Shape::kSetBlock};
    e.waits = 2;
    e.call = std::move(call);
    e.steps = std::move(steps);
    return e;
}

ExportCase captureCase(std::string name, std::function<int(Rig&)> call, bool fast) {
    ExportCase e{.name = std::move(name), .shape = Shape::kCapture};
    e.sleepMs = 150;
    e.waits = 10 + 2 * kRigPackets;
    e.faultAt = 7;  // the first packet request, after the capture start's seven writes
    e.ok = e.fail = 1;
    e.call = std::move(call);
    e.steps = [fast](Rig&) { return wire::scopeSamples(fast, kRigPackets); };
    return e;
}

ExportCase onHost(ExportCase e) {
    e.usesPortTable = false;
    return e;
}

ExportCase controlCase(std::string name, std::function<int(Rig&)> call) {
    ExportCase e{.name = std::move(name), .shape = Shape::kControl};
    e.usesPortTable = false;
    e.call = std::move(call);
    return e;
}

ExportCase discoveryCase(std::string name, int present, int gone, std::function<int(Rig&)> call) {
    ExportCase e{.name = std::move(name), .shape = Shape::kDiscovery};
    e.usesPortTable = false;
    e.ok = present;
    e.fail = gone;
    e.call = std::move(call);
    return e;
}

std::vector<ExportCase> makeExports() {
    std::vector<ExportCase> all;
    auto add = [&](ExportCase e) { all.push_back(std::move(e)); };

    // ---- MPUSB family ----
    add(discoveryCase("MPUSBGetDeviceCount", 1, 0,
                  [](Rig&) { return static_cast<int>(MPUSBGetDeviceCount(TARVEX_BOARD_VID_PID)); }));
    add(discoveryCase("MPUSBGetDeviceCount(null)", 1, 0,
                  [](Rig&) { return static_cast<int>(MPUSBGetDeviceCount(nullptr)); }));
    add(discoveryCase("MPUSBOpen", 1, 0, [](Rig&) {
        TARVEX_HANDLE h = MPUSBOpen(0, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_READ, 0);
        const int opened = h != TARVEX_INVALID_HANDLE;
        MPUSBClose(h);
        return opened;
    }));
    add(discoveryCase("MPUSBClose", 1, 1, [](Rig& r) {
        const int closed = MPUSBClose(r.hostIn);
        r.hostIn = TARVEX_INVALID_HANDLE;
        return closed;
    }));
    add(onHost(getCase("MPUSBWrite+MPUSBRead", hostPing, [](Rig&) {
        const Bytes ping = pingPacket();
        return wire::raw(ping.data(), 64);
    })));
    add(onHost(setCase(
        "MPUSBWrite",
        [](Rig& r) {
            const Bytes p = deviceIdPacket();
            return static_cast<int>(MPUSBWrite(r.hostOut, p.data(), 64, &r.count, 250));
        },
        [](Rig&) {
            const Bytes p = deviceIdPacket();
            return wire::raw(p.data(), 64);
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
    add(controlCase("MPUSBGetDeviceDescriptor", [](Rig& r) {
        return static_cast<int>(MPUSBGetDeviceDescriptor(r.hostIn, r.bytes, 18, &r.count));
    }));
    add(controlCase("MPUSBGetConfigurationDescriptor", [](Rig& r) {
        return static_cast<int>(MPUSBGetConfigurationDescriptor(r.hostIn, 1, r.bytes, 64, &r.count));
    }));
    add(controlCase("MPUSBGetStringDescriptor", [](Rig& r) {
        return static_cast<int>(MPUSBGetStringDescriptor(r.hostIn, 1, 0x0409, r.bytes, 64, &r.count));
    }));
    add(controlCase("MPUSBSetConfiguration",
                [](Rig& r) { return static_cast<int>(MPUSBSetConfiguration(r.hostIn, 1)); }));
    add(discoveryCase("MPUSBGetDLLVersion", 0x01010000, 0x01010000,
                  [](Rig&) { return static_cast<int>(MPUSBGetDLLVersion()); }));

    // ---- port family ----
    add(discoveryCase("OpenUSBPort", 1, 0, [](Rig&) { return OpenUSBPort(0); }));
    add(discoveryCase("CloseUSBPort", 1, 1, [](Rig&) { return CloseUSBPort(0); }));
    add(setCase(
        "SendUSBPacket",
        [](Rig&) {
            const Bytes p = deviceIdPacket();
            return SendUSBPacket(0, p.data(), 64, 250);
        },
        [](Rig&) {
            const Bytes p = deviceIdPacket();
            return wire::raw(p.data(), 64);
        }));
    add(getCase(
        "SendReceiveUSBPacket",
        [](Rig& r) {
            const Bytes p = pingPacket();
            r.count = 20;
            return SendReceiveUSBPacket(0, p.data(), 64, r.bytes, &r.count, 250, 250);
        },
        [](Rig&) {
            const Bytes p = pingPacket();
            return wire::raw(p.data(), 64);
        }));

    // ---- system commands ----
    add(discoveryCase("u_About", 1, 1, [](Rig&) { return u_About(); }));
    add(discoveryCase("u_GetAPIRev", 4096, 4096, [](Rig&) { return u_GetAPIRev(); }));
    add(discoveryCase("u_GetDeviceCount", 1, 0, [](Rig&) { return u_GetDeviceCount(); }));
    add(getCase("u_Ping", [](Rig& r) { return u_Ping(0, r.bytes); }, [](Rig&) { return wire::ping(); }));
    add(setCase("u_Reset_MCU", [](Rig&) { return u_Reset_MCU(0); }, [](Rig&) { return wire::resetMcu(); }));
    add(setCase("u_Reset_MCU_Boot", [](Rig&) { return u_Reset_MCU_Boot(0); },
            [](Rig&) { return wire::resetMcuBoot(); }));
    add(setCase("u_SetDeviceID", [](Rig&) { return u_SetDeviceID(0, 7); },
            [](Rig&) { return wire::setDeviceId(7); }));

    // ---- network settings ----
    add(setCase("u_SetEthIPAddr", [](Rig&) { return u_SetEthIPAddr(0, kAddr); },
            [](Rig&) { return wire::setEth(0, kAddr); }));
    add(getCase("u_GetEthIPAddr", [](Rig& r) { return u_GetEthIPAddr(0, r.bytes); },
            [](Rig&) { return wire::getEth(0); }));
    add(setCase("u_SetEthIPMask", [](Rig&) { return u_SetEthIPMask(0, kAddr); },
            [](Rig&) { return wire::setEth(1, kAddr); }));
    add(getCase("u_GetEthIPMask", [](Rig& r) { return u_GetEthIPMask(0, r.bytes); },
            [](Rig&) { return wire::getEth(1); }));
    add(setCase("u_SetEthIPGateway", [](Rig&) { return u_SetEthIPGateway(0, kAddr); },
            [](Rig&) { return wire::setEth(2, kAddr); }));
    add(getCase("u_GetEthIPGateway", [](Rig& r) { return u_GetEthIPGateway(0, r.bytes); },
            [](Rig&) { return wire::getEth(2); }));
    add(setCase("u_SetEthMACAddress", [](Rig&) { return u_SetEthMACAddress(0, kMac); },
            [](Rig&) { return wire::setEth(3, kMac); }));
    add(getCase("u_GetEthMACAddress", [](Rig& r) { return u_GetEthMACAddress(0, r.bytes); },
            [](Rig&) { return wire::getEth(3); }));

    // ---- I2C, clock chips, MDIO ----
    add(setBlockCase("u_I2C_Write", [](Rig&) { return u_I2C_Write(0, 0x50, kI2cData, 4, 0x10, 0); },
                 [](Rig&) { return wire::i2cWrite(0x50, kI2cData, 4, 0x10, 0); }));
    add(getCase("u_I2C_Read", [](Rig& r) { return u_I2C_Read(0, 0x50, 4, r.bytes, 0x10, 0); },
            [](Rig&) { return wire::i2cRead(0x50, 4, 0x10, 0); }));
    add(setCase("u_SetSi5326", [](Rig&) { return u_SetSi5326(0, 0x68, 3, 0x15); },
            [](Rig&) { return wire::setClockChip(0, 0x68, 3, 0x15); }, 100));
    add(getCase("u_GetSi5326", [](Rig& r) { return u_GetSi5326(0, 0x68, 3, &r.value8); },
            [](Rig&) { return wire::getClockChip(0, 0x68, 3); }, 100));
    add(setCase("u_SetSi5338", [](Rig&) { return u_SetSi5338(0, 0x70, 6, 0x08); },
            [](Rig&) { return wire::setClockChip(1, 0x70, 6, 0x08); }, 100));
    add(getCase("u_GetSi5338", [](Rig& r) { return u_GetSi5338(0, 0x70, 6, &r.value8); },
            [](Rig&) { return wire::getClockChip(1, 0x70, 6); }, 100));
    add(setCase("u_SetMDIO", [](Rig&) { return u_SetMDIO(0, 0, 0x0004, 0x01E1); },
            [](Rig&) { return wire::setMdio(0, 0x0004, 0x01E1); }));
    add(getCase("u_GetMDIO", [](Rig& r) { return u_GetMDIO(0, 0, 0x0002, &r.value16); },
            [](Rig&) { return wire::getMdio(0, 0x0002); }));

    // ---- port registers ----
    add(setCase("u_SetPort", [](Rig&) { return u_SetPort(0, 5, 0x1234); },
            [](Rig&) { return wire::setPort(5, 0x1234); }));
    add(getCase("u_GetPort", [](Rig& r) { return u_GetPort(0, 3, &r.value16); },
            [](Rig&) { return wire::getPort(3); }));
    {
        ExportCase e{.name = "u_GetStatus", .shape = Shape::kStatus};
        e.waits = 6;
        e.call = [](Rig& r) { return u_GetStatus(0, r.bytes); };
        e.steps = [](Rig&) { return wire::getStatus(); };
        add(e);
    }
    {
        ExportCase e{.name = "u_ResetFIFO", .shape = Shape::kResetFifo};
        e.waits = 4;
        e.sleepMs = 100;
        e.call = [](Rig&) { return u_ResetFIFO(0); };
        e.steps = [](Rig&) { return wire::resetFifo(); };
        add(e);
    }

    // ---- scope capture and eye ----
    add(getCase("u_GetScopePacket", [](Rig& r) { return u_GetScopePacket(0, r.bytes); },
            [](Rig&) { return wire::scopePacket(false); }));
    add(getCase("u_GetScopePacketFast", [](Rig& r) { return u_GetScopePacketFast(0, r.bytes); },
            [](Rig&) { return wire::scopePacket(true); }));
    add(captureCase(
        "u_GetScopeSamples",
        [](Rig& r) { return u_GetScopeSamples(0, kRigPackets, r.samples.data(), &r.stats); },
        false));
    add(captureCase(
        "u_GetScopeSamplesFast",
        [](Rig& r) { return u_GetScopeSamplesFast(0, kRigPackets, r.fast.data(), &r.stats); },
        true));
    add(captureCase(
        "u_GetEyeXY",
        [](Rig& r) {
            return u_GetEyeXY(0, kRigPackets, 10.3125e9, 100e6, r.eyeX.data(), 0, r.samples.data(),
                              &r.stats);
        },
        false));

    // ---- VScope and temperature ----
    add(setCase("u_GenerateVScopeEye", [](Rig&) { return u_GenerateVScopeEye(0); },
            [](Rig&) { return wire::generateVScopeEye(); }));
    {
        // A page of an eye the board has finished building.
        ExportCase e = getCase(
            "u_GetVScopePacket", [](Rig& r) { return u_GetVScopePacket(0, r.bytes, 64, 3); },
            [](Rig&) { return wire::vScopePacket(64, 3); });
        e.prepare = [](Rig& r) {
            EXPECT_EQ(u_GenerateVScopeEye(0), 1);
            r.world.advance(1500);
            r.model.advance(wire::generateVScopeEye(), r.takeReceived());
        };
        add(e);
    }
    {
        ExportCase e{.name = "u_GetVScopeSamples", .shape = Shape::kVScope};
        e.waits = 1 + 2 * 16;
        e.sleepMs = 1500 + 16 * 25;
        e.faultAt = 1;  // the first page request
        e.call = [](Rig& r) { return u_GetVScopeSamples(0, r.bytes); };
        e.steps = [](Rig&) { return wire::vScopeSamples(); };
        add(e);
    }
    add(getCase("u_GetVSCTemp", [](Rig& r) { return u_GetVSCTemp(0, &r.value8); },
            [](Rig&) { return wire::vscTemp(); }));

    // ---- calibration ----
    add(setBlockCase("u_StoreScopeCalibValues", [](Rig&) { return u_StoreScopeCalibValues(0, kCalib); },
                 [](Rig&) { return wire::storeCalibration(kCalib); }));
    add(getCase("u_GetScopeCalibValues", [](Rig& r) { return u_GetScopeCalibValues(0, r.floats); },
            [](Rig&) { return wire::getCalibration(); }));
    return all;
}

}  // namespace

const std::vector<ExportCase>& allExports() {
    static const std::vector<ExportCase> all = makeExports();
    return all;
}

double boundMs(const ExportCase& e, double cancelLatencyMs) {
    return e.sleepMs + e.waits * (e.timeoutMs + cancelLatencyMs);
}

}  // namespace tarvex::reliability
