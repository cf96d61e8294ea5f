// Each command against the demo board: what it prints for a person, what it prints with --json,
// its exit status, and (through --demo-trace) the bytes it put on the wire.  Commands that set
// something print nothing when they succeed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tool_runner.h"

namespace tarvex::cli::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using Bytes = std::vector<std::uint8_t>;

// The transfers the demo board received, from the lines --demo-trace prints.
std::vector<Bytes> received(const std::string& err) {
    std::vector<Bytes> transfers;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(": ");
        if (line.rfind("demo board ", 0) != 0 || colon == std::string::npos) continue;
        Bytes bytes;
        std::istringstream hex(line.substr(colon + 2));
        for (std::string byte; hex >> byte;)
            bytes.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
        transfers.push_back(bytes);
    }
    return transfers;
}

// A command packet as the first command after start sends it: the given leading bytes, zeros
// after.
Bytes packet(std::initializer_list<std::uint8_t> leading) {
    Bytes bytes(leading);
    bytes.resize(64, 0);
    return bytes;
}

// Runs a command that must succeed silently and returns what the board received.
std::vector<Bytes> quietly(std::vector<std::string> args) {
    args.insert(args.begin(), "--demo-trace");
    const auto run = runDemo(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.out, IsEmpty());
    return received(run.err);
}

TEST(ListCommand, ShowsEachInterfaceWithItsIndexAndWhetherItIsABoard) {
    const auto run = runDemo({"--demo-devices", "other,board", "list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.outLines(),
                ElementsAre("INDEX  BOARD  PATH",
                            MatchesRegex("0      no     \\\\\\\\\\?\\\\usb#vid_04d8&pid_000c#.*"),
                            MatchesRegex("1      yes    \\\\\\\\\\?\\\\usb#vid_04d8&pid_0030#.*")));
    EXPECT_THAT(run.err, IsEmpty());

    const auto json = runDemo({"--demo-devices", "other,board", "--json", "list"}).json();
    ASSERT_EQ(json["interfaces"].size(), 2u);
    EXPECT_EQ(json["interfaces"][0]["index"], 0);
    EXPECT_EQ(json["interfaces"][0]["board"], false);
    EXPECT_EQ(json["interfaces"][1]["board"], true);
    EXPECT_EQ(json["boardCount"], 1);
}

TEST(ListCommand, WithNothingPluggedSaysSoAndSucceeds) {
    const auto run = runDemo({"--demo-devices", "none", "list"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "no device of the driver's class is present\n");
}

TEST(PingCommand, PrintsTheFirmwareIdTheBoardAnswersWith) {
    const auto run = runDemo({"--demo-trace", "ping"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, MatchesRegex("board 0: TVX-SCOPE FW 1\\.04  \\(20 bytes in [0-9.]+ ms\\)\n"));
    EXPECT_THAT(received(run.err), ElementsAre(packet({0xFA, 0x01, 0x00, 0x00})));

    const auto json = runDemo({"--json", "ping"}).json();
    EXPECT_EQ(json["text"], "TVX-SCOPE FW 1.04");
    EXPECT_EQ(json["reply"].size(), 20u);
    EXPECT_EQ(json["reply"][0], 'T');
}

TEST(PingCommand, CountSendsThatManyPingsOneResultEach) {
    const auto run = runDemo({"--json", "ping", "--count", "3", "--interval", "10"});
    EXPECT_EQ(run.status, 0);
    const auto lines = run.jsonLines();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& line : lines) EXPECT_EQ(line["text"], "TVX-SCOPE FW 1.04");
}

TEST(SystemCommands, ResetSetIdAndBootLoaderResetSendTheirPacketsQuietly) {
    EXPECT_THAT(quietly({"reset"}), ElementsAre(packet({0xFA, 0x00, 0x00, 0x01})));
    EXPECT_THAT(quietly({"reset", "--boot"}), ElementsAre(packet({0xFA, 0x00, 0x00, 0x02})));
    EXPECT_THAT(quietly({"set-id", "0x2a"}), ElementsAre(packet({0xFA, 0x00, 0x00, 0x04, 0x2A})));
}

TEST(AboutCommand, PrintsTheAboutTextAndTheVersions) {
    const auto run = runDemo({"about"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, ::testing::StartsWith("About Tarvex API\nTarvex device API\n"));
    EXPECT_THAT(run.out, HasSubstr("API revision       0x1000\n"));
    EXPECT_THAT(run.out, HasSubstr("interface version  1.1.0.0\n"));

    const auto json = runDemo({"--json", "about"}).json();
    EXPECT_EQ(json["apiRevision"], 4096);
    EXPECT_EQ(json["caption"], "About Tarvex API");
    EXPECT_THAT(json["text"].get<std::string>(), ::testing::StartsWith("Tarvex device API\n"));
}

TEST(StatusCommand, PrintsTheFourFlagsWithWhatTheyMean) {
    const auto run = runDemo({"status"});
    EXPECT_EQ(run.status, 0);
    // The demo board before a capture: no underflow, no samples waiting, PLL locked, no fault.
    EXPECT_THAT(run.outLines(),
                ElementsAre("flag 0  1  no FIFO underflow    (port 3 bit 7 clear)",
                            "flag 1  0  samples ready        (port 2 bit 4 set)",
                            "flag 2  1  sampling PLL locked  (port 2 bit 13 set)",
                            "flag 3  1  no front-end fault   (port 4 bit 4 clear)"));
    const auto json = runDemo({"--json", "status"}).json();
    EXPECT_EQ(json["flags"], nlohmann::json({1, 0, 1, 1}));
    EXPECT_EQ(json["pllLocked"], true);
}

TEST(PortCommands, GetPrintsTheValueInHexAndSetWritesIt) {
    const auto get = runDemo({"port", "get", "3"});
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "0x0003\n");
    const auto json = runDemo({"--json", "port", "get", "3"}).json();
    EXPECT_EQ(json["port"], 3);
    EXPECT_EQ(json["value"], 3);

    EXPECT_THAT(quietly({"port", "set", "3", "0x1234"}),
                ElementsAre(packet({0xF0, 0x00, 0x00, 0x03, 0x34, 0x12})));
    EXPECT_THAT(quietly({"port", "set", "7", "513"}),
                ElementsAre(packet({0xF0, 0x00, 0x00, 0x07, 0x01, 0x02})));
}

TEST(PortCommands, ResetFifoPulsesTheTwoResetBitsOfPort3) {
    const auto wire = quietly({"port", "reset-fifo"});
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_EQ(wire[0], packet({0xF0, 0x01, 0x00, 0x03}));
    EXPECT_EQ(wire[1], packet({0xF0, 0x00, 0x00, 0x03, 0x00, 0x00}));  // 0x0003 with bits 0, 1 low
    EXPECT_EQ(wire[2], packet({0xF0, 0x00, 0x00, 0x03, 0x03, 0x00}));  // and high again
}

TEST(TempCommand, PrintsDegreesCelsius) {
    const auto run = runDemo({"temp"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, MatchesRegex("-?[0-9]+ °C\n"));
    const auto json = runDemo({"--json", "temp"}).json();
    EXPECT_TRUE(json["temperature"].is_number_integer());
}

TEST(VScopeCommand, WritesThe1024BytesAndPrintsTheTemperature) {
    ScratchDir dir;
    const auto run = runDemo({"--demo-trace", "vscope", "-o", "vscope.bin"}, dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, MatchesRegex("temperature -?[0-9]+ °C\n"));
    EXPECT_EQ(std::filesystem::file_size(dir / "vscope.bin"), 1024u);
    // Generate, sixteen pages of 64 bytes at offsets 0, 64, ... 960, then the temperature.
    const auto wire = received(run.err);
    ASSERT_EQ(wire.size(), 18u);
    EXPECT_EQ(wire[0][0], 0xF8);
    EXPECT_EQ(wire[0][1], 0x00);
    for (int page = 1; page <= 16; ++page) {
        const auto& p = wire[page];
        const int offset = 64 * (page - 1);
        EXPECT_EQ(p[0], 0xF8);
        EXPECT_EQ(p[1], 0x01);
        EXPECT_EQ(p[2], 64);
        EXPECT_EQ(p[3] | p[4] << 8, offset) << "page " << page;
    }
    EXPECT_EQ(wire[17][0], 0xF1);
}

TEST(VScopeCommand, WithoutAFilePrintsTheEyeAs32RowsOf32Bytes) {
    const auto run = runDemo({"vscope"});
    EXPECT_EQ(run.status, 0);
    const auto lines = run.outLines();
    ASSERT_EQ(lines.size(), 33u);
    for (int row = 0; row < 32; ++row)
        EXPECT_THAT(lines[row], MatchesRegex("([0-9a-f]{2} ){31}[0-9a-f]{2}"));
    EXPECT_THAT(lines[32], MatchesRegex("temperature -?[0-9]+ °C"));

    const auto json = runDemo({"--json", "vscope"}).json();
    EXPECT_EQ(json["eye"].size(), 1024u);
}

TEST(CalibCommands, GetPrintsSevenValuesAndSetSendsTheWireFormat) {
    const auto get = runDemo({"calib", "get"});
    EXPECT_EQ(get.status, 0);
    const auto lines = get.outLines();
    ASSERT_EQ(lines.size(), 7u);
    for (int i = 0; i < 7; ++i)
        EXPECT_THAT(lines[i], MatchesRegex(std::to_string(i) + "  [0-9]+\\.[0-9]{4}"));
    EXPECT_EQ(runDemo({"--json", "calib", "get"}).json()["values"].size(), 7u);

    const auto wire = quietly({"calib", "set", "1.5", "0", "2.7182817", "100.0001", "0", "0",
                               "65535.99609375"});
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[0], packet({0xFA, 0x00, 28, 0x03}));
    EXPECT_THAT(wire[1], ElementsAre(0x01, 0x00, 0x88, 0x13,   // 1.5
                                     0x00, 0x00, 0x00, 0x00,   // 0
                                     0x02, 0x00, 0x0E, 0x1C,   // 2.7182
                                     0x64, 0x00, 0x00, 0x00,   // 100.0001 as a float: 100.0000
                                     0x00, 0x00, 0x00, 0x00,   //
                                     0x00, 0x00, 0x00, 0x00,   //
                                     0xFF, 0xFF, 0xE8, 0x26));  // 65535.9960
}

TEST(NetCommands, GetPrintsTheSettingsInTheirUsualForms) {
    const auto run = runDemo({"net", "get"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.outLines(),
                ElementsAre(MatchesRegex("ip       [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+"),
                            MatchesRegex("mask     [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+"),
                            MatchesRegex("gateway  [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+"),
                            MatchesRegex("mac      ([0-9a-f]{2}:){5}[0-9a-f]{2}")));

    const auto one = runDemo({"net", "get", "mask"});
    EXPECT_THAT(one.out, MatchesRegex("[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n"));

    const auto json = runDemo({"--json", "net", "get"}).json();
    for (const char* key : {"ip", "mask", "gateway", "mac"}) EXPECT_TRUE(json[key].is_string());
}

TEST(NetCommands, SetSendsTheAddressBytesInTheOrderTyped) {
    const auto wire = quietly({"net", "set", "--ip", "192.168.1.10", "--mask", "255.255.0.0",
                               "--gateway", "192.168.1.1", "--mac", "00-04-A3-12-34-56"});
    ASSERT_EQ(wire.size(), 4u);
    EXPECT_EQ(wire[0], packet({0xF9, 0x00, 0x00, 0x00, 192, 168, 1, 10}));
    // Each setter leaves the payload beyond its own bytes as the one before left it.
    EXPECT_EQ(wire[1], packet({0xF9, 0x00, 0x00, 0x01, 255, 255, 0, 0}));
    EXPECT_EQ(wire[2], packet({0xF9, 0x00, 0x00, 0x02, 192, 168, 1, 1}));
    EXPECT_EQ(wire[3], packet({0xF9, 0x00, 0x00, 0x03, 0x00, 0x04, 0xA3, 0x12, 0x34, 0x56}));
}

TEST(BusCommands, I2cReadPrintsTheBytesAndWriteSendsHeaderThenData) {
    const auto run = runDemo({"--demo-trace", "i2c", "read", "0x50", "16", "6"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, MatchesRegex("([0-9a-f]{2} ){5}[0-9a-f]{2}\n"));
    EXPECT_THAT(received(run.err), ElementsAre(packet({0xF2, 0x01, 6, 0x02, 0x50, 16, 0x00})));
    EXPECT_EQ(runDemo({"--json", "i2c", "read", "0x50", "16", "6"}).json()["bytes"].size(), 6u);

    const auto wire = quietly({"i2c", "write", "0x50", "0x20", "1", "2", "0xff", "--aux", "9"});
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[0], packet({0xF2, 0x00, 3, 0x02, 0x50, 0x20, 9}));
    EXPECT_THAT(wire[1], ElementsAre(1, 2, 0xFF));
}

TEST(BusCommands, ClockChipsAreReadAndWrittenAtTheirUsualAddresses) {
    // The demo board's chips identify themselves: Si5326 part number 0x1A2, Si5338 part 38.
    EXPECT_EQ(runDemo({"si5326", "get", "134"}).out, "0x1a\n");
    EXPECT_EQ(runDemo({"si5338", "get", "2"}).out, "0x26\n");
    EXPECT_EQ(runDemo({"--json", "si5338", "get", "2"}).json()["value"], 0x26);

    EXPECT_THAT(quietly({"si5326", "set", "0", "0x14"}),
                ElementsAre(packet({0xF2, 0x00, 0x00, 0x00, 0x68, 0x00, 0x14})));
    EXPECT_THAT(quietly({"si5338", "set", "230", "0x10"}),
                ElementsAre(packet({0xF2, 0x00, 0x00, 0x01, 0x70, 230, 0x10})));
    EXPECT_THAT(quietly({"si5326", "set", "3", "4", "-d", "0x69"}),
                ElementsAre(packet({0xF2, 0x00, 0x00, 0x00, 0x69, 3, 4})));
}

TEST(BusCommands, MdioRegistersAreSixteenBitsLowByteFirst) {
    const auto get = runDemo({"--demo-trace", "mdio", "get", "0", "2"});
    EXPECT_EQ(get.status, 0);
    EXPECT_THAT(get.out, MatchesRegex("0x[0-9a-f]{4}\n"));
    EXPECT_THAT(received(get.err), ElementsAre(packet({0xF5, 0x01, 0x00, 0x00, 0x02, 0x00})));

    EXPECT_THAT(quietly({"mdio", "set", "1", "0x1234", "0xabcd"}),
                ElementsAre(packet({0xF5, 0x00, 0x00, 0x01, 0x34, 0x12, 0xCD, 0xAB})));
}

TEST(DescriptorsCommand, DecodesTheDeviceConfigurationAndStrings) {
    const auto run = runDemo({"descriptors"});
    EXPECT_EQ(run.status, 0);
    EXPECT_THAT(run.out, HasSubstr("Device descriptor (18 bytes)\n"));
    EXPECT_THAT(run.out, HasSubstr("  idVendor              0x04d8\n"));
    EXPECT_THAT(run.out, HasSubstr("  idProduct             0x0030\n"));
    EXPECT_THAT(run.out, HasSubstr("  iProduct              2  \"Tarvex Sampling Scope\"\n"));
    EXPECT_THAT(run.out, HasSubstr("Configuration descriptor 1 (32 bytes)\n"));
    EXPECT_THAT(run.out, HasSubstr("    Endpoint 0x81 IN\n"));
    EXPECT_THAT(run.out, HasSubstr("      bmAttributes      0x03  (interrupt)\n"));
    EXPECT_THAT(run.out, HasSubstr("Languages  0x0409\n"));

    const auto json = runDemo({"--json", "descriptors"}).json();
    EXPECT_EQ(json["device"]["idVendor"], 0x04D8);
    EXPECT_EQ(json["device"]["idProduct"], 0x0030);
    const auto& interface = json["configurations"][0]["interfaces"][0];
    EXPECT_EQ(interface["bInterfaceClass"], 0xFF);
    ASSERT_EQ(interface["endpoints"].size(), 2u);
    EXPECT_EQ(interface["endpoints"][1]["bEndpointAddress"], 0x81);
    EXPECT_EQ(interface["endpoints"][1]["wMaxPacketSize"], 64);
    EXPECT_EQ(json["strings"]["2"], "Tarvex Sampling Scope");
}

}  // namespace
}  // namespace tarvex::cli::test
