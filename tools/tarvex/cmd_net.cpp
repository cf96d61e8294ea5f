// tarvex net get/set: the board's IP address, subnet mask, gateway and MAC address.
#include <fmt/format.h>

#include "commands/packet.h"
#include "errors.h"
#include "session.h"
#include "tarvex.h"
#include "tool.h"
#include "values.h"

namespace tarvex::cli {

namespace {

using IpGetter = int (*)(std::uint16_t, std::uint8_t*);
using IpSetter = int (*)(std::uint16_t, const std::uint8_t*);

struct IpSetting {
    const char* name;  // as typed and printed
    const char* what;  // in sentences
    IpGetter get;
    IpSetter set;
};

constexpr IpSetting kIpSettings[] = {
    {"ip", "IP address", u_GetEthIPAddr, u_SetEthIPAddr},
    {"mask", "subnet mask", u_GetEthIPMask, u_SetEthIPMask},
    {"gateway", "gateway address", u_GetEthIPGateway, u_SetEthIPGateway},
};

std::string readIp(std::uint16_t index, const IpSetting& setting) {
    Ipv4 address{};
    clearLastError();
    const std::string what = fmt::format("{} read", setting.what);
    requireReply(index, setting.get(index, address.data()), {what, commands::kTimeoutMs, commands::kIpAddressBytes});
    return formatIpv4(address);
}

std::string readMac(std::uint16_t index) {
    Mac address{};
    clearLastError();
    requireReply(index, u_GetEthMACAddress(index, address.data()), {"MAC address read", commands::kTimeoutMs,
                                                             commands::kMacAddressBytes});
    return formatMac(address);
}

void netGet(Tool& tool, const std::string& field) {
    BoardSession board(tool.options().index);
    Json record = {{"index", board.index()}};
    Fields fields;
    for (const auto& setting : kIpSettings) {
        if (!field.empty() && field != setting.name) continue;
        const auto text = readIp(board.index(), setting);
        record[setting.name] = text;
        fields.emplace_back(setting.name, text);
    }
    if (field.empty() || field == "mac") {
        const auto text = readMac(board.index());
        record["mac"] = text;
        fields.emplace_back("mac", text);
    }
    tool.out().result(record, [&] {
        if (fields.size() == 1)
            Output::line(fields.front().second);  // one value alone, for scripts
        else
            Output::fields(fields);
    });
}

struct NetSetArgs {
    std::string values[3];  // ip, mask, gateway, in the order of kIpSettings
    std::string mac;
};

void netSet(Tool& tool, const NetSetArgs& args) {
    bool any = !args.mac.empty();
    for (const auto& value : args.values) any = any || !value.empty();
    if (!any) throw UsageError("say what to set: --ip, --mask, --gateway and/or --mac");

    BoardSession board(tool.options().index);
    for (std::size_t i = 0; i < std::size(kIpSettings); ++i) {
        if (args.values[i].empty()) continue;
        const Ipv4 address = *parseIpv4(args.values[i]);  // checked while parsing
        clearLastError();
        const std::string what = fmt::format("{} write", kIpSettings[i].what);
        requireSent(board.index(), kIpSettings[i].set(board.index(), address.data()), {what});
    }
    if (!args.mac.empty()) {
        const Mac address = *parseMac(args.mac);
        clearLastError();
        requireSent(board.index(), u_SetEthMACAddress(board.index(), address.data()),
                    {"MAC address write"});
    }
}

}  // namespace

void addNetCommands(Tool& tool) {
    auto* net = tool.app().add_subcommand("net", "Read and set the board's network settings");
    net->require_subcommand(1);

    auto field = std::make_shared<std::string>();
    auto* get = net->add_subcommand("get", "Read the IP address, mask, gateway and MAC address");
    get->add_option("FIELD", *field, "Only this one: ip, mask, gateway or mac")
        ->check(CLI::IsMember({"ip", "mask", "gateway", "mac"}));
    tool.on(get, [field](Tool& t) { netGet(t, *field); });

    auto args = std::make_shared<NetSetArgs>();
    auto* set = net->add_subcommand("set", "Set any of the IP address, mask, gateway, MAC address");
    set->add_option("--ip", args->values[0], "IP address, like 192.168.1.10")
        ->type_name("A.B.C.D")
        ->check(ipv4Address());
    set->add_option("--mask", args->values[1], "Subnet mask, like 255.255.255.0")
        ->type_name("A.B.C.D")
        ->check(ipv4Address());
    set->add_option("--gateway", args->values[2], "Gateway address, like 192.168.1.1")
        ->type_name("A.B.C.D")
        ->check(ipv4Address());
    set->add_option("--mac", args->mac, "MAC address, like 00:04:a3:12:34:56")
        ->type_name("MAC")
        ->check(macAddress());
    tool.on(set, [args](Tool& t) { netSet(t, *args); });
}

}  // namespace tarvex::cli
