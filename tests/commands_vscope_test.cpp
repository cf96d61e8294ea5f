// The VScope eye in pages, the whole generate-wait-read sequence and its timing, and the VSC
// temperature.
#include <gtest/gtest.h>

#include <vector>

#include "commands_fixture.h"

namespace tarvex::testing {
namespace {

using VScopeCommands = CommandTest;

TEST_F(VScopeCommands, GenerateWritesOnlyCommandAndDirection) {
    const Bytes before = commandBuffer();
    EXPECT_EQ(u_GenerateVScopeEye(0), 1);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(sent(0), with(before, {{0, 0xF8}, {1, 0x00}}));
}

TEST_F(VScopeCommands, APageRequestCarriesItsLengthAndOffset) {
    struct Case {
        std::uint8_t pageLength, page;
        std::uint8_t offsetLow, offsetHigh;
    } const cases[] = {
        {64, 1, 0x00, 0x00},
        {200, 1, 0x00, 0x00},
        {64, 2, 0x40, 0x00},
        {64, 16, 0xC0, 0x03},   // 960
        {64, 0, 0xC0, 0xFF},    // 65472: -64 kept to 16 bits
        {255, 255, 0x02, 0xFD}, // 64770: no page from 1 to 255 wraps
    };
    for (const auto& c : cases) {
        firmware->script[CMD_VSCOPE].push_back(Bytes(c.pageLength, 0x33));
        board->clearReceived();
        const Bytes before = commandBuffer();
        std::vector<std::uint8_t> reply(256, 0);
        EXPECT_EQ(u_GetVScopePacket(0, reply.data(), c.pageLength, c.page), XFER_OK);
        ASSERT_EQ(received().size(), 1u);
        EXPECT_EQ(sent(0), with(before, {{0, 0xF8}, {1, 0x01}, {2, c.pageLength},
                                         {3, c.offsetLow}, {4, c.offsetHigh}}))
            << int(c.pageLength) << " x page " << int(c.page);
    }
}

TEST_F(VScopeCommands, APageLandsAtTheStartOfTheReplyAndAShortOneReturnsTwo) {
    Bytes page(64);
    for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<std::uint8_t>(i + 1);
    firmware->script[CMD_VSCOPE] = {page, Bytes(10, 0x44)};
    std::vector<std::uint8_t> reply(64, 0xEE);
    EXPECT_EQ(u_GetVScopePacket(0, reply.data(), 64, 1), XFER_OK);
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), page) << "byte 0 included";
    std::fill(reply.begin(), reply.end(), 0xEE);
    EXPECT_EQ(u_GetVScopePacket(0, reply.data(), 64, 2), XFER_SHORT);
    EXPECT_EQ(reply[9], 0x44);
    EXPECT_EQ(reply[10], 0xEE) << "the rest of the page keeps its content";
}

// Sixteen full pages, page p filled with the byte p.
void scriptSixteenPages(ScriptedFirmware& firmware, std::uint8_t shortPage = 0) {
    firmware.script[CMD_VSCOPE].clear();
    for (std::uint8_t p = 1; p <= 16; ++p)
        firmware.script[CMD_VSCOPE].push_back(Bytes(p == shortPage ? 10 : 64, p));
}

TEST_F(VScopeCommands, TheSequenceGeneratesWaitsAndReadsSixteenPagesInOrder) {
    scriptSixteenPages(*firmware);
    std::vector<std::uint8_t> eye(1024, 0);
    const Micros start = world.now();
    EXPECT_EQ(u_GetVScopeSamples(0, eye.data()), 1);
    EXPECT_EQ(msSince(start), 1900.0) << "1500 ms, then 25 ms after each of the 16 pages";
    ASSERT_EQ(received().size(), 17u);
    EXPECT_EQ(sent(0)[0], CMD_VSCOPE);
    EXPECT_EQ(sent(0)[1], DIR_SET);
    for (std::size_t p = 1; p <= 16; ++p) {
        const Bytes& request = sent(p);
        EXPECT_EQ(request[1], DIR_GET);
        EXPECT_EQ(request[2], 64);
        EXPECT_EQ(request[3] | (request[4] << 8), 64 * (p - 1)) << "page " << p;
        EXPECT_EQ(received()[p].at, start + (1500 + 25 * (p - 1)) * kMs) << "page " << p;
        EXPECT_EQ(eye[64 * (p - 1)], p);
        EXPECT_EQ(eye[64 * p - 1], p);
    }
}

TEST_F(VScopeCommands, TheSequenceFailsOnAFailedGenerateButStillReadsEveryPage) {
    scriptSixteenPages(*firmware);
    board->injectFault({FaultKind::kRefuseWrite, platform::kErrorGenFailure});
    std::vector<std::uint8_t> eye(1024, 0);
    const Micros start = world.now();
    EXPECT_EQ(u_GetVScopeSamples(0, eye.data()), 0);
    EXPECT_EQ(received().size(), 16u) << "the refused generate, then all 16 pages";
    EXPECT_EQ(msSince(start), 1900.0);
    EXPECT_EQ(eye[1023], 16);
}

TEST_F(VScopeCommands, TheSequenceFailsOnOneShortPageButStillReadsEveryPage) {
    scriptSixteenPages(*firmware, 5);
    std::vector<std::uint8_t> eye(1024, 0);
    const Micros start = world.now();
    EXPECT_EQ(u_GetVScopeSamples(0, eye.data()), 0) << "1 AND 2 is 0";
    EXPECT_EQ(received().size(), 17u);
    EXPECT_EQ(msSince(start), 1900.0);
    EXPECT_EQ(eye[64 * 4 + 9], 5);
    EXPECT_EQ(eye[64 * 4 + 10], 0);
    EXPECT_EQ(eye[64 * 5], 6);
}

TEST_F(VScopeCommands, TheSequenceWaitsOutEachMissingPage) {
    std::vector<std::uint8_t> eye(1024, 0);
    const Micros start = world.now();
    EXPECT_EQ(u_GetVScopeSamples(0, eye.data()), 0);
    EXPECT_EQ(received().size(), 17u);
    EXPECT_EQ(msSince(start), 1900.0 + 16 * 250.0);
}

TEST_F(VScopeCommands, TemperatureIsReplyByteOne) {
    firmware->script[CMD_VSC_TEMP].push_back({0x00, 0x2A});
    const Bytes before = commandBuffer();
    std::uint8_t temperature = 0;
    EXPECT_EQ(u_GetVSCTemp(0, &temperature), XFER_OK);
    EXPECT_EQ(temperature, 0x2A);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(sent(0), with(before, {{0, 0xF1}, {1, 0x01}, {3, 0x00}}));
}

TEST_F(VScopeCommands, TemperatureIsWrittenWhateverTheResult) {
    std::uint8_t temperature = 0x77;
    firmware->script[CMD_VSC_TEMP].push_back({0x9C});
    EXPECT_EQ(u_GetVSCTemp(0, &temperature), XFER_SHORT);
    EXPECT_EQ(temperature, 0) << "byte 1 of the zeroed buffer";
    temperature = 0x77;
    EXPECT_EQ(u_GetVSCTemp(0, &temperature), XFER_FAIL);
    EXPECT_EQ(temperature, 0);
}

TEST_F(VScopeCommands, MissingBuffersAreRefusedWithoutIo) {
    EXPECT_EQ(u_GetVScopePacket(0, nullptr, 64, 1), XFER_FAIL);
    EXPECT_EQ(u_GetVScopeSamples(0, nullptr), 0);
    EXPECT_EQ(u_GetVSCTemp(0, nullptr), XFER_FAIL);
    EXPECT_TRUE(received().empty());
}

}  // namespace
}  // namespace tarvex::testing
