// Quantities as people type them: rates with SI prefixes (1.25G, 99MHz, 2.5e9), times with SI
// prefixes (8p, 8ps, 8e-12).  The tool's options and the demo library's TARVEX_DEMO read them
// here, so both accept the same text.
#pragma once

#include <optional>
#include <string_view>

namespace tarvex::common {

// A rate in hertz (bits or samples per second): a number, then an optional prefix k, M, G or T,
// then an optional unit Hz, bps, b/s, sps, Sps or S/s ("1.25e9", "1.25G", "99MHz", "2.5Gbps").
// Prefixes are case-sensitive (m is not M).  Empty for anything else, and for values that are
// not finite.
std::optional<double> parseRate(std::string_view text);

// A time in seconds: a number, then an optional prefix p, n, u or m, then an optional unit s
// ("8e-12", "8p", "8ps", "1.5ns", "2ms").  Empty for anything else, and for values that are not
// finite.
std::optional<double> parseSeconds(std::string_view text);

// A plain number ("18", "-3.5", "1e3"): the whole text, nothing after it.
std::optional<double> parseNumber(std::string_view text);

}  // namespace tarvex::common
