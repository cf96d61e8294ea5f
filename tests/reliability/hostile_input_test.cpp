// Hostile arguments: null pointers wherever an export takes a pointer, board indexes outside the
// port table, handles that are not open.  Each call returns its failure result at once, makes no
// transfer and leaves no request behind.  A call refused for its arguments does not touch the
// shared command buffer; a command refused for its index has written its own bytes (the buffer
// is filled before the port table is asked), exactly those, as the command buffer model says.
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "reliability/command_bytes.h"
#include "reliability/rig.h"

namespace tarvex::reliability {
namespace {

struct HostileCall {
    std::string name;
    std::function<int(Rig&)> call;
    int expected = 0;
    // What the command writes into the shared buffer before it is refused.
    wire::Steps writes{};
};

void PrintTo(const HostileCall& c, std::ostream* os) { *os << c.name; }

std::string caseNameOf(const std::string& text) {
    std::string name;
    for (char c : text)
        if (std::isalnum(static_cast<unsigned char>(c))) name += c;
    return name;
}

// Runs `c` and checks it was refused without I/O, with the shared buffer as the model says.
void expectRefused(Rig& r, const HostileCall& c) {
    r.takeReceived();
    const std::size_t controls = r.world.controlRequests().size();
    const std::size_t handles = r.world.openHandleCount();
    EXPECT_EQ(c.call(r), c.expected);
    EXPECT_TRUE(r.takeReceived().empty()) << "a refused call reached the board";
    EXPECT_EQ(r.world.controlRequests().size(), controls) << "a refused call asked the driver";
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);
    EXPECT_EQ(r.world.openHandleCount(), handles);
    EXPECT_TRUE(r.model.advance(c.writes, {}).empty());
    for (std::size_t i = 0; i < kPacketBytes; ++i)
        EXPECT_EQ((Rig::outBuff()[i] ^ r.model.value(i)) & r.model.knownBits(i), 0)
            << "command buffer byte " << i;
}

// ---- null pointers -------------------------------------------------------------------------

std::vector<HostileCall> nullCalls() {
    const std::uint8_t packet[64] = {CMD_SYSTEM, DIR_GET};
    static std::uint8_t bytes[1024];
    static std::uint16_t words[64];
    static ScopeStats stats;
    std::vector<HostileCall> calls = {
        {"MPUSBOpen without a vendor/product",
         [](Rig&) {
             return MPUSBOpen(0, nullptr, TARVEX_BOARD_PIPE, PIPE_READ, 0) == TARVEX_INVALID_HANDLE;
         },
         1},
        {"MPUSBRead into no buffer",
         [](Rig& r) {
             r.count = 77;
             const int result = static_cast<int>(MPUSBRead(r.hostIn, nullptr, 64, &r.count, 250));
             EXPECT_EQ(r.count, 0u);
             EXPECT_EQ(r.lastError(), 998u);
             return result;
         }},
        {"MPUSBWrite from no buffer",
         [](Rig& r) {
             r.count = 77;
             const int result = static_cast<int>(MPUSBWrite(r.hostOut, nullptr, 64, &r.count, 250));
             EXPECT_EQ(r.count, 0u);
             EXPECT_EQ(r.lastError(), 998u);
             return result;
         }},
        {"MPUSBReadInt into no buffer",
         [](Rig& r) {
             r.count = 77;
             const int result = static_cast<int>(MPUSBReadInt(r.hostIn, nullptr, 64, &r.count, 250));
             EXPECT_EQ(r.count, 0u);
             EXPECT_EQ(r.lastError(), 998u);
             return result;
         }},
        {"MPUSBGetDeviceDescriptor into no buffer",
         [](Rig& r) {
             r.count = 77;
             const int result =
                 static_cast<int>(MPUSBGetDeviceDescriptor(r.hostIn, nullptr, 18, &r.count));
             EXPECT_EQ(r.count, 0u);
             return result;
         }},
        {"MPUSBGetConfigurationDescriptor into no buffer",
         [](Rig& r) {
             return static_cast<int>(MPUSBGetConfigurationDescriptor(r.hostIn, 1, nullptr, 64, nullptr));
         }},
        {"MPUSBGetStringDescriptor into no buffer",
         [](Rig& r) {
             return static_cast<int>(MPUSBGetStringDescriptor(r.hostIn, 1, 0x409, nullptr, 64, nullptr));
         }},
        {"SendUSBPacket of no data", [](Rig&) { return SendUSBPacket(0, nullptr, 64, 250); }},
        {"SendReceiveUSBPacket of no data",
         [packet](Rig& r) {
             r.count = 20;
             const int result = SendReceiveUSBPacket(0, nullptr, 64, bytes, &r.count, 250, 250);
             EXPECT_EQ(r.count, 20u) << "a refused exchange leaves the expected length";
             (void)packet;
             return result;
         }},
        {"SendReceiveUSBPacket into no reply buffer",
         [packet](Rig& r) {
             r.count = 20;
             return SendReceiveUSBPacket(0, packet, 64, nullptr, &r.count, 250, 250);
         }},
        {"SendReceiveUSBPacket without a reply length",
         [packet](Rig&) { return SendReceiveUSBPacket(0, packet, 64, bytes, nullptr, 250, 250); }},
        {"u_Ping into no buffer", [](Rig&) { return u_Ping(0, nullptr); }},
        {"u_SetEthIPAddr from no array", [](Rig&) { return u_SetEthIPAddr(0, nullptr); }},
        {"u_GetEthIPAddr into no array", [](Rig&) { return u_GetEthIPAddr(0, nullptr); }},
        {"u_SetEthIPMask from no array", [](Rig&) { return u_SetEthIPMask(0, nullptr); }},
        {"u_GetEthIPMask into no array", [](Rig&) { return u_GetEthIPMask(0, nullptr); }},
        {"u_SetEthIPGateway from no array", [](Rig&) { return u_SetEthIPGateway(0, nullptr); }},
        {"u_GetEthIPGateway into no array", [](Rig&) { return u_GetEthIPGateway(0, nullptr); }},
        {"u_SetEthMACAddress from no array", [](Rig&) { return u_SetEthMACAddress(0, nullptr); }},
        {"u_GetEthMACAddress into no array", [](Rig&) { return u_GetEthMACAddress(0, nullptr); }},
        {"u_I2C_Write from no buffer", [](Rig&) { return u_I2C_Write(0, 0x50, nullptr, 4, 0, 0); }},
        {"u_I2C_Read into no buffer", [](Rig&) { return u_I2C_Read(0, 0x50, 4, nullptr, 0, 0); }},
        {"u_GetSi5326 into no value", [](Rig&) { return u_GetSi5326(0, 0x68, 0, nullptr); }},
        {"u_GetSi5338 into no value", [](Rig&) { return u_GetSi5338(0, 0x70, 0, nullptr); }},
        {"u_GetMDIO into no value", [](Rig&) { return u_GetMDIO(0, 0, 2, nullptr); }},
        {"u_GetPort into no value", [](Rig&) { return u_GetPort(0, 3, nullptr); }},
        {"u_GetStatus into no flags", [](Rig&) { return u_GetStatus(0, nullptr); }},
        {"u_GetScopePacket into no buffer", [](Rig&) { return u_GetScopePacket(0, nullptr); }},
        {"u_GetScopePacketFast into no buffer", [](Rig&) { return u_GetScopePacketFast(0, nullptr); }},
        {"u_GetScopeSamples into no samples",
         [](Rig&) { return u_GetScopeSamples(0, 2, nullptr, &stats); }},
        {"u_GetScopeSamples without stats",
         [](Rig&) { return u_GetScopeSamples(0, 2, words, nullptr); }},
        {"u_GetScopeSamplesFast into no buffer",
         [](Rig&) { return u_GetScopeSamplesFast(0, 1, nullptr, &stats); }},
        {"u_GetScopeSamplesFast without stats",
         [](Rig&) { return u_GetScopeSamplesFast(0, 1, bytes, nullptr); }},
        {"u_GetEyeXY into no X",
         [](Rig&) { return u_GetEyeXY(0, 2, 1.25, 1.0, nullptr, 0, words, &stats); }},
        {"u_GetEyeXY into no Y",
         [](Rig&) { return u_GetEyeXY(0, 2, 1.25, 1.0, words, 0, nullptr, &stats); }},
        {"u_GetEyeXY without stats",
         [](Rig&) { return u_GetEyeXY(0, 2, 1.25, 1.0, words, 0, words, nullptr); }},
        {"u_GetVScopePacket into no buffer", [](Rig&) { return u_GetVScopePacket(0, nullptr, 64, 1); }},
        {"u_GetVScopeSamples into no buffer", [](Rig&) { return u_GetVScopeSamples(0, nullptr); }},
        {"u_GetVSCTemp into no value", [](Rig&) { return u_GetVSCTemp(0, nullptr); }},
        {"u_StoreScopeCalibValues from no values",
         [](Rig&) { return u_StoreScopeCalibValues(0, nullptr); }},
        {"u_GetScopeCalibValues into no values",
         [](Rig&) { return u_GetScopeCalibValues(0, nullptr); }},
    };
    return calls;
}

class NullArgument : public ::testing::TestWithParam<HostileCall> {};

TEST_P(NullArgument, IsRefusedWithoutIoAndLeavesTheCommandBufferAlone) {
    Rig r;
    expectRefused(r, GetParam());
}

INSTANTIATE_TEST_SUITE_P(EveryPointer, NullArgument, ::testing::ValuesIn(nullCalls()),
                         [](const auto& info) { return caseNameOf(info.param.name); });

// Null pointers the exports accept: they work as with a real pointer and report nothing there.
TEST(NullArgumentAllowed, CountPointersMayBeNull) {
    Rig r;
    std::uint8_t packet[64] = {CMD_SYSTEM, DIR_GET, 0, SYS_PING};
    std::uint8_t reply[20];
    EXPECT_EQ(MPUSBWrite(r.hostOut, packet, 64, nullptr, 250), 1u);
    EXPECT_EQ(MPUSBRead(r.hostIn, reply, 20, nullptr, 250), 1u);
    EXPECT_EQ(MPUSBReadInt(r.hostIn, reply, 20, nullptr, 0), 0u);
    EXPECT_EQ(MPUSBGetDeviceDescriptor(r.hostIn, reply, 18, nullptr), 1u);
    EXPECT_EQ(r.world.pendingRequestCount(), 0u);
}

TEST(NullArgumentAllowed, NullVendorProductCountsEveryInterfaceAndNullPipeOpensTheInterface) {
    Rig r;
    r.world.plugDevice(0x1234, 0x5678);
    EXPECT_EQ(MPUSBGetDeviceCount(nullptr), 2u);
    TARVEX_HANDLE bare = MPUSBOpen(0, TARVEX_BOARD_VID_PID, nullptr, PIPE_READ, 0);
    EXPECT_NE(bare, TARVEX_INVALID_HANDLE);
    EXPECT_EQ(MPUSBClose(bare), 1);
    EXPECT_TRUE(r.takeReceived().empty());
}

// ---- indexes outside the port table ----------------------------------------------------------

// u_ commands: index 32 and above has no row; captures still sleep and count every packet failed.
struct IndexedCommand {
    std::string name;
    std::function<int(Rig&, std::uint16_t)> call;
    std::function<wire::Steps()> writes;
    int expected = 0;
};

std::vector<IndexedCommand> indexedCommands() {
    static const std::uint8_t addr[6] = {10, 0, 0, 1, 2, 3};
    static const float calib[7] = {1, 2, 3, 4, 5, 6, 7};
    static const std::uint8_t data[3] = {7, 8, 9};
    return {
        {"u_Ping", [](Rig& r, std::uint16_t i) { return u_Ping(i, r.bytes); }, wire::ping},
        {"u_Reset_MCU", [](Rig&, std::uint16_t i) { return u_Reset_MCU(i); }, wire::resetMcu},
        {"u_Reset_MCU_Boot", [](Rig&, std::uint16_t i) { return u_Reset_MCU_Boot(i); },
         wire::resetMcuBoot},
        {"u_SetDeviceID", [](Rig&, std::uint16_t i) { return u_SetDeviceID(i, 9); },
         [] { return wire::setDeviceId(9); }},
        {"u_SetEthIPAddr", [](Rig&, std::uint16_t i) { return u_SetEthIPAddr(i, addr); },
         [] { return wire::setEth(0, addr); }},
        {"u_GetEthIPAddr", [](Rig& r, std::uint16_t i) { return u_GetEthIPAddr(i, r.bytes); },
         [] { return wire::getEth(0); }},
        {"u_SetEthIPMask", [](Rig&, std::uint16_t i) { return u_SetEthIPMask(i, addr); },
         [] { return wire::setEth(1, addr); }},
        {"u_GetEthIPMask", [](Rig& r, std::uint16_t i) { return u_GetEthIPMask(i, r.bytes); },
         [] { return wire::getEth(1); }},
        {"u_SetEthIPGateway", [](Rig&, std::uint16_t i) { return u_SetEthIPGateway(i, addr); },
         [] { return wire::setEth(2, addr); }},
        {"u_GetEthIPGateway", [](Rig& r, std::uint16_t i) { return u_GetEthIPGateway(i, r.bytes); },
         [] { return wire::getEth(2); }},
        {"u_SetEthMACAddress", [](Rig&, std::uint16_t i) { return u_SetEthMACAddress(i, addr); },
         [] { return wire::setEth(3, addr); }},
        {"u_GetEthMACAddress", [](Rig& r, std::uint16_t i) { return u_GetEthMACAddress(i, r.bytes); },
         [] { return wire::getEth(3); }},
        {"u_I2C_Write", [](Rig&, std::uint16_t i) { return u_I2C_Write(i, 0x50, data, 3, 1, 2); },
         [] { return wire::i2cWrite(0x50, data, 3, 1, 2); }},
        {"u_I2C_Read", [](Rig& r, std::uint16_t i) { return u_I2C_Read(i, 0x50, 3, r.bytes, 1, 2); },
         [] { return wire::i2cRead(0x50, 3, 1, 2); }},
        {"u_SetSi5326", [](Rig&, std::uint16_t i) { return u_SetSi5326(i, 0x68, 1, 2); },
         [] { return wire::setClockChip(0, 0x68, 1, 2); }},
        {"u_GetSi5326", [](Rig& r, std::uint16_t i) { return u_GetSi5326(i, 0x68, 1, &r.value8); },
         [] { return wire::getClockChip(0, 0x68, 1); }},
        {"u_SetSi5338", [](Rig&, std::uint16_t i) { return u_SetSi5338(i, 0x70, 1, 2); },
         [] { return wire::setClockChip(1, 0x70, 1, 2); }},
        {"u_GetSi5338", [](Rig& r, std::uint16_t i) { return u_GetSi5338(i, 0x70, 1, &r.value8); },
         [] { return wire::getClockChip(1, 0x70, 1); }},
        {"u_SetMDIO", [](Rig&, std::uint16_t i) { return u_SetMDIO(i, 1, 0x1234, 0xABCD); },
         [] { return wire::setMdio(1, 0x1234, 0xABCD); }},
        {"u_GetMDIO", [](Rig& r, std::uint16_t i) { return u_GetMDIO(i, 1, 0x1234, &r.value16); },
         [] { return wire::getMdio(1, 0x1234); }},
        {"u_SetPort", [](Rig&, std::uint16_t i) { return u_SetPort(i, 3, 0x00A2); },
         [] { return wire::setPort(3, 0x00A2); }},
        {"u_GetPort", [](Rig& r, std::uint16_t i) { return u_GetPort(i, 3, &r.value16); },
         [] { return wire::getPort(3); }},
        {"u_GetStatus", [](Rig& r, std::uint16_t i) { return u_GetStatus(i, r.bytes); },
         wire::getStatus},
        {"u_ResetFIFO", [](Rig&, std::uint16_t i) { return u_ResetFIFO(i); }, wire::resetFifo},
        {"u_GetScopePacket", [](Rig& r, std::uint16_t i) { return u_GetScopePacket(i, r.bytes); },
         [] { return wire::scopePacket(false); }},
        {"u_GetScopePacketFast",
         [](Rig& r, std::uint16_t i) { return u_GetScopePacketFast(i, r.bytes); },
         [] { return wire::scopePacket(true); }},
        {"u_GetScopeSamples",
         [](Rig& r, std::uint16_t i) {
             const int result = u_GetScopeSamples(i, kRigPackets, r.samples.data(), &r.stats);
             EXPECT_EQ(r.stats.failCount, kRigPackets);
             EXPECT_EQ(r.stats.okCount + r.stats.shortCount, 0);
             return result;
         },
         [] { return wire::scopeSamples(false, kRigPackets); }, 1},
        {"u_GetScopeSamplesFast",
         [](Rig& r, std::uint16_t i) {
             const int result = u_GetScopeSamplesFast(i, kRigPackets, r.fast.data(), &r.stats);
             EXPECT_EQ(r.stats.failCount, kRigPackets);
             return result;
         },
         [] { return wire::scopeSamples(true, kRigPackets); }, 1},
        {"u_GetEyeXY",
         [](Rig& r, std::uint16_t i) {
             const int result = u_GetEyeXY(i, kRigPackets, 1.25, 1.0, r.eyeX.data(), 0,
                                           r.samples.data(), &r.stats);
             EXPECT_EQ(r.stats.failCount, kRigPackets);
             return result;
         },
         [] { return wire::scopeSamples(false, kRigPackets); }, 1},
        {"u_GenerateVScopeEye", [](Rig&, std::uint16_t i) { return u_GenerateVScopeEye(i); },
         wire::generateVScopeEye},
        {"u_GetVScopePacket",
         [](Rig& r, std::uint16_t i) { return u_GetVScopePacket(i, r.bytes, 64, 2); },
         [] { return wire::vScopePacket(64, 2); }},
        {"u_GetVScopeSamples", [](Rig& r, std::uint16_t i) { return u_GetVScopeSamples(i, r.bytes); },
         wire::vScopeSamples},
        {"u_GetVSCTemp", [](Rig& r, std::uint16_t i) { return u_GetVSCTemp(i, &r.value8); },
         wire::vscTemp},
        {"u_StoreScopeCalibValues",
         [](Rig&, std::uint16_t i) { return u_StoreScopeCalibValues(i, calib); },
         [] { return wire::storeCalibration(calib); }},
        {"u_GetScopeCalibValues",
         [](Rig& r, std::uint16_t i) { return u_GetScopeCalibValues(i, r.floats); },
         wire::getCalibration},
    };
}

void PrintTo(const IndexedCommand& c, std::ostream* os) { *os << c.name; }

class IndexOutsideTheTable : public ::testing::TestWithParam<IndexedCommand> {};

TEST_P(IndexOutsideTheTable, IsRefusedWithoutIo) {
    const IndexedCommand& c = GetParam();
    for (std::uint16_t index : {std::uint16_t{32}, std::uint16_t{33}, std::uint16_t{1000},
                                std::uint16_t{0x7FFF}, std::uint16_t{0xFFFF}}) {
        SCOPED_TRACE("index " + std::to_string(index));
        Rig r;
        expectRefused(r, {c.name, [&](Rig& rig) { return c.call(rig, index); }, c.expected,
                          c.writes()});
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, IndexOutsideTheTable, ::testing::ValuesIn(indexedCommands()),
                         [](const auto& info) { return caseNameOf(info.param.name); });

// The port family takes 32-bit indexes and uses only their low 16 bits.
TEST(IndexOutsideTheTable, PortFamilyRefusesRowsBeyond31WhateverTheHighBits) {
    Rig r;
    const std::uint8_t packet[64] = {CMD_SYSTEM, DIR_GET, 0, SYS_PING};
    for (std::uint32_t index : {32u, 33u, 0xFFFFu, 0x10020u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        SCOPED_TRACE("index " + std::to_string(index));
        const auto call = [&](std::function<int()> f, int expected) {
            expectRefused(r, {"", [&](Rig&) { return f(); }, expected, {}});
        };
        call([&] { return OpenUSBPort(index); }, 0);
        call([&] { return CloseUSBPort(index); }, 0);
        call([&] { return SendUSBPacket(index, packet, 64, 250); }, 0);
        call(
            [&] {
                r.count = 20;
                const int result =
                    SendReceiveUSBPacket(index, packet, 64, r.bytes, &r.count, 250, 250);
                EXPECT_EQ(r.count, 20u);
                return result;
            },
            0);
    }
    // Row 0 is still open and working after all that.
    std::uint8_t reply[20];
    EXPECT_EQ(u_Ping(0, reply), XFER_OK);
}

TEST(IndexOutsideTheTable, PortFamilyIndex65536AddressesRow0) {
    Rig r;
    const std::uint8_t packet[64] = {CMD_SYSTEM, DIR_GET, 0, SYS_PING};
    EXPECT_EQ(OpenUSBPort(0x10000), 1);
    r.count = 20;
    EXPECT_EQ(SendReceiveUSBPacket(0x10000, packet, 64, r.bytes, &r.count, 250, 250), XFER_OK);
    EXPECT_EQ(r.count, 20u);
    EXPECT_EQ(SendUSBPacket(0x10000, packet, 64, 250), 1);
    EXPECT_EQ(r.takeReceived().size(), 2u);
    EXPECT_EQ(CloseUSBPort(0x10000), 1);
    EXPECT_TRUE(r.rowDropped());
}

TEST(IndexOutsideTheTable, MPUSBOpenOfAMemberIndexWithNoInterfaceFails) {
    Rig r;
    for (std::uint32_t index : {1u, 126u, 127u, 0x10000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE("member index " + std::to_string(index));
        expectRefused(r, {"", [index](Rig&) {
                              return MPUSBOpen(index, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE,
                                               PIPE_READ, 0) == TARVEX_INVALID_HANDLE;
                          },
                          1, {}});
    }
    expectRefused(r, {"", [](Rig&) {
                          return MPUSBOpen(0, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, 2, 0) ==
                                 TARVEX_INVALID_HANDLE;
                      },
                      1, {}});
}

// ---- handles that are not open ---------------------------------------------------------------

TEST(HandlesNotOpen, TransfersFailWithInvalidHandleAndNoIo) {
    Rig r;
    TARVEX_HANDLE closed = MPUSBOpen(0, TARVEX_BOARD_VID_PID, TARVEX_BOARD_PIPE, PIPE_WRITE, 0);
    ASSERT_EQ(MPUSBClose(closed), 1);
    std::uint8_t buffer[64] = {CMD_SYSTEM, DIR_GET};
    for (TARVEX_HANDLE h : {TARVEX_INVALID_HANDLE, static_cast<TARVEX_HANDLE>(nullptr), closed}) {
        const auto transfer = [&](std::function<std::uint32_t()> f) {
            expectRefused(r, {"", [&](Rig& rig) {
                                  rig.count = 55;
                                  const int result = static_cast<int>(f());
                                  EXPECT_EQ(rig.lastError(), 6u);
                                  EXPECT_EQ(rig.count, 0u);
                                  return result;
                              },
                              0, {}});
        };
        transfer([&] { return MPUSBRead(h, buffer, 64, &r.count, 250); });
        transfer([&] { return MPUSBWrite(h, buffer, 64, &r.count, 250); });
        transfer([&] { return MPUSBReadInt(h, buffer, 64, &r.count, 250); });
    }
    for (TARVEX_HANDLE h : {TARVEX_INVALID_HANDLE, closed}) {
        expectRefused(r, {"", [h](Rig& rig) {
                              std::uint8_t descriptor[18];
                              return static_cast<int>(
                                  MPUSBGetDeviceDescriptor(h, descriptor, 18, &rig.count) +
                                  MPUSBSetConfiguration(h, 1));
                          },
                          0, {}});
    }
    EXPECT_EQ(MPUSBClose(TARVEX_INVALID_HANDLE), 1);
    EXPECT_EQ(MPUSBClose(nullptr), 0);
    EXPECT_EQ(MPUSBClose(closed), 0);
}

}  // namespace
}  // namespace tarvex::reliability
