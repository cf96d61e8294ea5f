#include "common/quantity.h"

#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>

namespace tarvex::common {
namespace {

// The longest leading number of `text` (strtod's grammar, without leading blanks, infinities or
// NaN), and what follows it.
std::optional<std::pair<double, std::string_view>> leadingNumber(std::string_view text) {
    if (text.empty() || text.front() == ' ' || text.front() == '\t') return std::nullopt;
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    const auto used = static_cast<std::size_t>(end - copy.c_str());
    if (used == 0 || !std::isfinite(value)) return std::nullopt;
    // strtod also reads hexadecimal numbers ("0x10"); a person writing a rate does not.
    if (copy.find_first_of("xX") < used) return std::nullopt;
    return std::pair{value, text.substr(used)};
}

struct Prefix {
    std::string_view text;
    double factor;
};

// `value` scaled by the prefix `rest` starts with, when the remainder is one of `units` (or
// nothing).
std::optional<double> withUnit(double value, std::string_view rest,
                               std::initializer_list<Prefix> prefixes,
                               std::initializer_list<std::string_view> units) {
    const auto unitOk = [&](std::string_view unit) {
        if (unit.empty()) return true;
        for (std::string_view u : units)
            if (unit == u) return true;
        return false;
    };
    if (unitOk(rest)) return value;
    for (const Prefix& p : prefixes) {
        if (rest.substr(0, p.text.size()) == p.text && unitOk(rest.substr(p.text.size()))) {
            const double scaled = value * p.factor;
            if (std::isfinite(scaled)) return scaled;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<double> parseNumber(std::string_view text) {
    const auto number = leadingNumber(text);
    if (!number || !number->second.empty()) return std::nullopt;
    return number->first;
}

std::optional<double> parseRate(std::string_view text) {
    const auto number = leadingNumber(text);
    if (!number) return std::nullopt;
    return withUnit(number->first, number->second,
                    {{"k", 1e3}, {"M", 1e6}, {"G", 1e9}, {"T", 1e12}},
                    {"Hz", "bps", "b/s", "sps", "Sps", "S/s"});
}

std::optional<double> parseSeconds(std::string_view text) {
    const auto number = leadingNumber(text);
    if (!number) return std::nullopt;
    return withUnit(number->first, number->second,
                    {{"p", 1e-12}, {"n", 1e-9}, {"u", 1e-6}, {"m", 1e-3}}, {"s"});
}

}  // namespace tarvex::common
