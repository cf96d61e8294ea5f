// tarvex descriptors: the board's USB device, configuration and string descriptors, decoded.
#include <map>
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "errors.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"
#include "values.h"

namespace tarvex::cli {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kInterfaceType = 4;
constexpr std::uint8_t kEndpointType = 5;
constexpr std::uint16_t kEnglishUs = 0x0409;
constexpr std::uint32_t kLargestDescriptor = 4096;

// The board's bare interface, opened for the control requests and closed again.
class InterfaceHandle {
public:
    explicit InterfaceHandle(std::uint32_t index) {
        const auto found = listInterfaces();
        bool board = false;
        for (const auto& info : found) board = board || (info.index == index && info.board);
        if (!board) throw ToolError(missingBoardSentence(index, found));
        clearLastError();
        handle_ = MPUSBOpen(index, TARVEX_BOARD_VID_PID, nullptr, PIPE_READ, 0);
        if (handle_ == TARVEX_INVALID_HANDLE)
            throw ToolError(fmt::format("could not open the interface of board {}: {}", index,
                                        systemErrorText(lastError())));
    }
    ~InterfaceHandle() { MPUSBClose(handle_); }
    InterfaceHandle(const InterfaceHandle&) = delete;
    InterfaceHandle& operator=(const InterfaceHandle&) = delete;
    TARVEX_HANDLE get() const { return handle_; }

private:
    TARVEX_HANDLE handle_ = TARVEX_INVALID_HANDLE;
};

[[noreturn]] void requestFailed(std::uint32_t index, const std::string& what) {
    throw ToolError(fmt::format("board {} did not give its {}: {}", index, what,
                                systemErrorText(lastError())));
}

std::uint16_t word(const Bytes& d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}

std::string bcd(std::uint16_t v) { return fmt::format("{:x}.{:02x}", v >> 8, v & 0xFF); }

// A string descriptor's UTF-16LE text as UTF-8.
std::string utf8Of(const Bytes& d) {
    std::string text;
    const std::size_t end = std::min<std::size_t>(d.size(), d.empty() ? 0 : d[0]);
    for (std::size_t i = 2; i + 1 < end; i += 2) {
        std::uint32_t c = word(d, i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < end) {
            const std::uint32_t low = word(d, i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::string classText(std::uint8_t c) {
    switch (c) {
    case 0x00: return "given by each interface";
    case 0x02: return "communications";
    case 0x03: return "HID";
    case 0x08: return "mass storage";
    case 0x09: return "hub";
    case 0x0A: return "CDC data";
    case 0xEF: return "miscellaneous";
    case 0xFE: return "application specific";
    case 0xFF: return "vendor specific";
    default: return "";
    }
}

std::string transferText(std::uint8_t attributes) {
    static const char* kinds[] = {"control", "isochronous", "bulk", "interrupt"};
    return kinds[attributes & 3];
}

struct Descriptors {
    Bytes device;
    std::vector<Bytes> configurations;
    std::vector<std::uint16_t> languages;
    std::map<std::uint8_t, std::string> strings;
};

Descriptors readDescriptors(std::uint32_t index) {
    InterfaceHandle handle(index);
    Descriptors all;
    std::uint32_t length = 0;

    Bytes buffer(kLargestDescriptor);
    clearLastError();
    if (MPUSBGetDeviceDescriptor(handle.get(), buffer.data(), 64, &length) != 1)
        requestFailed(index, "device descriptor");
    if (length < 18) throw ToolError(fmt::format("board {} gave a device descriptor of only {} bytes", index, length));
    all.device.assign(buffer.begin(), buffer.begin() + length);

    for (std::uint8_t c = 1; c <= all.device[17]; ++c) {
        // The first nine bytes tell the length of the whole configuration.
        if (MPUSBGetConfigurationDescriptor(handle.get(), c, buffer.data(), 9, &length) != 1 ||
            length < 9)
            requestFailed(index, fmt::format("configuration descriptor {}", c));
        const std::uint32_t total = std::min<std::uint32_t>(word(buffer, 2), kLargestDescriptor);
        if (MPUSBGetConfigurationDescriptor(handle.get(), c, buffer.data(), total, &length) != 1)
            requestFailed(index, fmt::format("configuration descriptor {}", c));
        all.configurations.emplace_back(buffer.begin(), buffer.begin() + length);
    }

    // String 0 lists the languages; the others are asked for in the first of them.
    if (MPUSBGetStringDescriptor(handle.get(), 0, 0, buffer.data(), 255, &length) == 1)
        for (std::uint32_t i = 2; i + 1 < length; i += 2) all.languages.push_back(word(buffer, i));
    const std::uint16_t language = all.languages.empty() ? kEnglishUs : all.languages.front();

    std::vector<std::uint8_t> wanted = {all.device[14], all.device[15], all.device[16]};
    for (const auto& config : all.configurations) {
        for (std::size_t at = 0; at + 1 < config.size() && config[at] >= 2; at += config[at]) {
            if (config[at + 1] == 2 && at + 6 < config.size()) wanted.push_back(config[at + 6]);
            if (config[at + 1] == kInterfaceType && at + 8 < config.size())
                wanted.push_back(config[at + 8]);
        }
    }
    for (const auto s : wanted) {
        if (s == 0 || all.strings.count(s) != 0) continue;
        if (MPUSBGetStringDescriptor(handle.get(), s, language, buffer.data(), 255, &length) != 1)
            requestFailed(index, fmt::format("string descriptor {}", s));
        all.strings[s] = utf8Of(Bytes(buffer.begin(), buffer.begin() + length));
    }
    return all;
}

// ---- for a person ---------------------------------------------------------------------------

void field(int indent, const std::string& name, const std::string& value) {
    Output::line(fmt::format("{:{}}{:<{}}{}", "", indent, name, 24 - indent, value));
}

std::string withText(const std::string& value, const std::string& text) {
    return text.empty() ? value : fmt::format("{}  ({})", value, text);
}

std::string stringRef(const Descriptors& all, std::uint8_t index) {
    if (index == 0) return "0";
    const auto found = all.strings.find(index);
    return found == all.strings.end() ? fmt::format("{}", index)
                                      : fmt::format("{}  \"{}\"", index, found->second);
}

void printDevice(const Descriptors& all, bool raw) {
    const Bytes& d = all.device;
    Output::line(fmt::format("Device descriptor ({} bytes)", d.size()));
    if (raw) field(2, "bytes", hexBytes(d));
    field(2, "bcdUSB", bcd(word(d, 2)));
    field(2, "bDeviceClass", withText(hexByte(d[4]), classText(d[4])));
    field(2, "bDeviceSubClass", hexByte(d[5]));
    field(2, "bDeviceProtocol", hexByte(d[6]));
    field(2, "bMaxPacketSize0", fmt::format("{}", d[7]));
    field(2, "idVendor", hexWord(word(d, 8)));
    field(2, "idProduct", hexWord(word(d, 10)));
    field(2, "bcdDevice", bcd(word(d, 12)));
    field(2, "iManufacturer", stringRef(all, d[14]));
    field(2, "iProduct", stringRef(all, d[15]));
    field(2, "iSerialNumber", stringRef(all, d[16]));
    field(2, "bNumConfigurations", fmt::format("{}", d[17]));
}

void printConfiguration(const Descriptors& all, const Bytes& c, bool raw) {
    Output::line(fmt::format("Configuration descriptor {} ({} bytes)", c.size() > 5 ? c[5] : 0,
                             c.size()));
    if (raw) field(2, "bytes", hexBytes(c));
    for (std::size_t at = 0; at + 1 < c.size() && c[at] >= 2; at += c[at]) {
        const std::size_t length = c[at];
        if (at + length > c.size()) break;
        const std::uint8_t* d = c.data() + at;
        if (d[1] == 2 && length >= 9) {
            field(2, "wTotalLength", fmt::format("{}", d[2] | d[3] << 8));
            field(2, "bNumInterfaces", fmt::format("{}", d[4]));
            field(2, "bConfigurationValue", fmt::format("{}", d[5]));
            field(2, "iConfiguration", stringRef(all, d[6]));
            std::string power = d[7] & 0x40 ? "self powered" : "bus powered";
            if (d[7] & 0x20) power += ", remote wake-up";
            field(2, "bmAttributes", withText(hexByte(d[7]), power));
            field(2, "bMaxPower", fmt::format("{} mA", d[8] * 2));
        } else if (d[1] == kInterfaceType && length >= 9) {
            Output::line(fmt::format("  Interface {}, alternate setting {}", d[2], d[3]));
            field(4, "bNumEndpoints", fmt::format("{}", d[4]));
            field(4, "bInterfaceClass", withText(hexByte(d[5]), classText(d[5])));
            field(4, "bInterfaceSubClass", hexByte(d[6]));
            field(4, "bInterfaceProtocol", hexByte(d[7]));
            field(4, "iInterface", stringRef(all, d[8]));
        } else if (d[1] == kEndpointType && length >= 7) {
            Output::line(fmt::format("    Endpoint {} {}", hexByte(d[2]), d[2] & 0x80 ? "IN" : "OUT"));
            field(6, "bmAttributes", withText(hexByte(d[3]), transferText(d[3])));
            field(6, "wMaxPacketSize", fmt::format("{}", (d[4] | d[5] << 8) & 0x7FF));
            field(6, "bInterval", fmt::format("{}", d[6]));
        } else {
            Output::line(fmt::format("  Descriptor of type {} ({} bytes)", hexByte(d[1]), length));
        }
    }
}

// ---- for a script -------------------------------------------------------------------------------

Json deviceRecord(const Bytes& d) {
    return {{"bcdUSB", bcd(word(d, 2))},       {"bDeviceClass", d[4]},
            {"bDeviceSubClass", d[5]},         {"bDeviceProtocol", d[6]},
            {"bMaxPacketSize0", d[7]},         {"idVendor", word(d, 8)},
            {"idProduct", word(d, 10)},        {"bcdDevice", bcd(word(d, 12))},
            {"iManufacturer", d[14]},          {"iProduct", d[15]},
            {"iSerialNumber", d[16]},          {"bNumConfigurations", d[17]}};
}

Json configurationRecord(const Bytes& c) {
    Json record = Json::object();
    Json* interface = nullptr;
    record["interfaces"] = Json::array();
    for (std::size_t at = 0; at + 1 < c.size() && c[at] >= 2; at += c[at]) {
        const std::size_t length = c[at];
        if (at + length > c.size()) break;
        const std::uint8_t* d = c.data() + at;
        if (d[1] == 2 && length >= 9) {
            record["wTotalLength"] = d[2] | d[3] << 8;
            record["bNumInterfaces"] = d[4];
            record["bConfigurationValue"] = d[5];
            record["iConfiguration"] = d[6];
            record["bmAttributes"] = d[7];
            record["maxPowerMilliamps"] = d[8] * 2;
        } else if (d[1] == kInterfaceType && length >= 9) {
            record["interfaces"].push_back({{"bInterfaceNumber", d[2]},
                                            {"bAlternateSetting", d[3]},
                                            {"bNumEndpoints", d[4]},
                                            {"bInterfaceClass", d[5]},
                                            {"bInterfaceSubClass", d[6]},
                                            {"bInterfaceProtocol", d[7]},
                                            {"iInterface", d[8]},
                                            {"endpoints", Json::array()}});
            interface = &record["interfaces"].back();
        } else if (d[1] == kEndpointType && length >= 7 && interface != nullptr) {
            (*interface)["endpoints"].push_back({{"bEndpointAddress", d[2]},
                                                 {"direction", d[2] & 0x80 ? "in" : "out"},
                                                 {"bmAttributes", d[3]},
                                                 {"transfer", transferText(d[3])},
                                                 {"wMaxPacketSize", (d[4] | d[5] << 8) & 0x7FF},
                                                 {"bInterval", d[6]}});
        }
    }
    return record;
}

void descriptors(Tool& tool, bool raw) {
    const auto index = tool.options().index;
    const Descriptors all = readDescriptors(index);

    Json record = {{"index", index}, {"device", deviceRecord(all.device)}};
    record["configurations"] = Json::array();
    for (const auto& c : all.configurations) record["configurations"].push_back(configurationRecord(c));
    record["languages"] = all.languages;
    record["strings"] = Json::object();
    for (const auto& [s, text] : all.strings) record["strings"][std::to_string(s)] = text;
    if (raw) {
        record["raw"] = {{"device", all.device}, {"configurations", all.configurations}};
    }

    tool.out().result(record, [&] {
        printDevice(all, raw);
        for (const auto& c : all.configurations) printConfiguration(all, c, raw);
        std::string languages;
        for (const auto l : all.languages)
            languages += (languages.empty() ? "" : " ") + hexWord(l);
        Output::line(fmt::format("Languages  {}", languages.empty() ? "none" : languages));
    });
}

}  // namespace

void addDescriptorCommands(Tool& tool) {
    auto raw = std::make_shared<bool>(false);
    auto* command = tool.app().add_subcommand(
        "descriptors", "Read the board's USB device, configuration and string descriptors");
    command->add_flag("--raw", *raw, "Also show the descriptors' bytes");
    tool.on(command, [raw](Tool& t) { descriptors(t, *raw); });
}

}  // namespace tarvex::cli
