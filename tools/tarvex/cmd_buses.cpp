// tarvex i2c, si5326, si5338, mdio: chips on the board's I2C and MDIO buses.
#include <vector>

#include <fmt/format.h>

#include "commands/packet.h"
#include "errors.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"
#include "values.h"

namespace tarvex::cli {

namespace {

// ---- raw I2C ---------------------------------------------------------------------------------

struct I2cArgs {
    unsigned device = 0;
    unsigned reg = 0;
    unsigned count = 1;
    unsigned aux = 0;
    std::vector<unsigned> bytes;
};

void i2cRead(Tool& tool, const I2cArgs& args) {
    BoardSession board(tool.options().index);
    std::vector<std::uint8_t> data(args.count, 0);
    clearLastError();
    const std::string what = fmt::format("I2C read of device {}", hexByte(args.device));
    requireReply(board.index(),
                 u_I2C_Read(board.index(), static_cast<std::uint8_t>(args.device),
                            static_cast<std::uint8_t>(args.count), data.data(),
                            static_cast<std::uint8_t>(args.reg),
                            static_cast<std::uint8_t>(args.aux)),
                 {what, commands::kTimeoutMs, args.count});
    tool.out().result({{"index", board.index()},
                       {"device", args.device},
                       {"register", args.reg},
                       {"bytes", data}},
                      [&] { Output::line(hexBytes(data)); });
}

void i2cWrite(Tool& tool, const I2cArgs& args) {
    // The byte count travels in one byte.
    if (args.bytes.size() > 255)
        throw UsageError(fmt::format("{} bytes are too many for one I2C write: at most 255",
                                     args.bytes.size()));
    BoardSession board(tool.options().index);
    std::vector<std::uint8_t> data(args.bytes.begin(), args.bytes.end());
    clearLastError();
    const std::string what = fmt::format("I2C write to device {}", hexByte(args.device));
    requireSent(board.index(),
                u_I2C_Write(board.index(), static_cast<std::uint8_t>(args.device), data.data(),
                            static_cast<std::uint8_t>(data.size()),
                            static_cast<std::uint8_t>(args.reg),
                            static_cast<std::uint8_t>(args.aux)),
                {what});
}

void addI2c(Tool& tool) {
    auto* i2c = tool.app().add_subcommand("i2c", "Read and write devices on the board's I2C bus");
    i2c->require_subcommand(1);
    auto args = std::make_shared<I2cArgs>();

    auto* read = i2c->add_subcommand("read", "Read COUNT bytes from register REG of DEVICE");
    read->add_option("DEVICE", args->device, "Device address, like 0x50")
        ->required()
        ->check(byteRange());
    read->add_option("REG", args->reg, "First register, 0..255")->required()->check(byteRange());
    read->add_option("COUNT", args->count, "Bytes to read, 1..255")
        ->check(range(1, 255))
        ->capture_default_str();
    read->add_option("--aux", args->aux, "Auxiliary byte for the board's bus routine")
        ->check(byteRange())
        ->capture_default_str();
    tool.on(read, [args](Tool& t) { i2cRead(t, *args); });

    auto* write = i2c->add_subcommand("write", "Write BYTES to DEVICE from register REG on");
    write->add_option("DEVICE", args->device, "Device address, like 0x50")
        ->required()
        ->check(byteRange());
    write->add_option("REG", args->reg, "First register, 0..255")->required()->check(byteRange());
    write->add_option("BYTES", args->bytes, "Data bytes, 0..255 each (at most 255 of them)")
        ->check(byteRange());
    write->add_option("--aux", args->aux, "Auxiliary byte for the board's bus routine")
        ->check(byteRange())
        ->capture_default_str();
    tool.on(write, [args](Tool& t) { i2cWrite(t, *args); });
}

// ---- the clock chips ----------------------------------------------------------------------------

struct ClockChip {
    const char* name;        // "si5326"
    const char* title;       // "Si5326"
    unsigned address;        // its usual I2C address
    int (*get)(std::uint16_t, std::uint8_t, std::uint8_t, std::uint8_t*);
    int (*set)(std::uint16_t, std::uint8_t, std::uint8_t, std::uint8_t);
};

constexpr ClockChip kClockChips[] = {
    {"si5326", "Si5326", 0x68, u_GetSi5326, u_SetSi5326},
    {"si5338", "Si5338", 0x70, u_GetSi5338, u_SetSi5338},
};

struct ClockArgs {
    unsigned device = 0;
    unsigned reg = 0;
    unsigned value = 0;
};

void clockGet(Tool& tool, const ClockChip& chip, const ClockArgs& args) {
    BoardSession board(tool.options().index);
    std::uint8_t value = 0;
    clearLastError();
    const std::string what = fmt::format("{} register {} read", chip.title, args.reg);
    requireReply(board.index(),
                 chip.get(board.index(), static_cast<std::uint8_t>(args.device),
                          static_cast<std::uint8_t>(args.reg), &value),
                 {what, commands::kClockChipTimeoutMs, commands::kClockChipReplyBytes});
    tool.out().result({{"index", board.index()},
                       {"device", args.device},
                       {"register", args.reg},
                       {"value", value}},
                      [&] { Output::line(hexByte(value)); });
}

void clockSet(Tool& tool, const ClockChip& chip, const ClockArgs& args) {
    BoardSession board(tool.options().index);
    clearLastError();
    const std::string what = fmt::format("{} register {} write", chip.title, args.reg);
    requireSent(board.index(),
                chip.set(board.index(), static_cast<std::uint8_t>(args.device),
                         static_cast<std::uint8_t>(args.reg), static_cast<std::uint8_t>(args.value)),
                {what, commands::kClockChipTimeoutMs});
}

void addClockChip(Tool& tool, const ClockChip& chip) {
    auto* command = tool.app().add_subcommand(
        chip.name, fmt::format("Read and write registers of the {} clock chip", chip.title));
    command->require_subcommand(1);
    auto args = std::make_shared<ClockArgs>();
    args->device = chip.address;
    const std::string deviceHelp = fmt::format("The chip's I2C address ({} on the board)",
                                               hexByte(static_cast<std::uint8_t>(chip.address)));

    auto* get = command->add_subcommand("get", "Read register REG");
    get->add_option("REG", args->reg, "Register, 0..255")->required()->check(byteRange());
    get->add_option("-d,--device", args->device, deviceHelp)->check(byteRange());
    tool.on(get, [args, &chip](Tool& t) { clockGet(t, chip, *args); });

    auto* set = command->add_subcommand("set", "Write VALUE to register REG");
    set->add_option("REG", args->reg, "Register, 0..255")->required()->check(byteRange());
    set->add_option("VALUE", args->value, "Value, 0..255")->required()->check(byteRange());
    set->add_option("-d,--device", args->device, deviceHelp)->check(byteRange());
    tool.on(set, [args, &chip](Tool& t) { clockSet(t, chip, *args); });
}

// ---- MDIO ------------------------------------------------------------------------------------------

struct MdioArgs {
    unsigned address = 0;
    unsigned reg = 0;
    unsigned value = 0;
};

void mdioGet(Tool& tool, const MdioArgs& args) {
    BoardSession board(tool.options().index);
    std::uint16_t value = 0;
    clearLastError();
    const std::string what = fmt::format("MDIO read of PHY {} register {}", args.address, args.reg);
    requireReply(board.index(),
                 u_GetMDIO(board.index(), static_cast<std::uint8_t>(args.address),
                           static_cast<std::uint16_t>(args.reg), &value),
                 {what, commands::kTimeoutMs, commands::kRegisterReplyBytes});
    tool.out().result({{"index", board.index()},
                       {"address", args.address},
                       {"register", args.reg},
                       {"value", value}},
                      [&] { Output::line(hexWord(value)); });
}

void mdioSet(Tool& tool, const MdioArgs& args) {
    BoardSession board(tool.options().index);
    clearLastError();
    const std::string what =
        fmt::format("MDIO write of PHY {} register {}", args.address, args.reg);
    requireSent(board.index(),
                u_SetMDIO(board.index(), static_cast<std::uint8_t>(args.address),
                          static_cast<std::uint16_t>(args.reg),
                          static_cast<std::uint16_t>(args.value)),
                {what});
}

void addMdio(Tool& tool) {
    auto* mdio = tool.app().add_subcommand("mdio", "Read and write PHY registers over MDIO");
    mdio->require_subcommand(1);
    auto args = std::make_shared<MdioArgs>();

    auto* get = mdio->add_subcommand("get", "Read register REG of the PHY at ADDRESS");
    get->add_option("ADDRESS", args->address, "PHY address, 0..255")->required()->check(byteRange());
    get->add_option("REG", args->reg, "Register, 0..65535")->required()->check(wordRange());
    tool.on(get, [args](Tool& t) { mdioGet(t, *args); });

    auto* set = mdio->add_subcommand("set", "Write VALUE to register REG of the PHY at ADDRESS");
    set->add_option("ADDRESS", args->address, "PHY address, 0..255")->required()->check(byteRange());
    set->add_option("REG", args->reg, "Register, 0..65535")->required()->check(wordRange());
    set->add_option("VALUE", args->value, "Value, 0..65535")->required()->check(wordRange());
    tool.on(set, [args](Tool& t) { mdioSet(t, *args); });
}

}  // namespace

void addBusCommands(Tool& tool) {
    addI2c(tool);
    for (const auto& chip : kClockChips) addClockChip(tool, chip);
    addMdio(tool);
}

}  // namespace tarvex::cli
