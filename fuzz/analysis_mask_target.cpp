// Fuzz target: the mask reader and the mask test.  The input is read as a mask file's text; when
// the reader takes it, the mask is tested on an eye drawn from the input's bytes.  The same bytes
// are also laid over a TvaMask record as a host could fill it by hand (counts, names without
// their ends, NaN, far-off points), which the check and the test must refuse or take.  After
// every call: the status is one the call may give, a refusal leaves the mask empty and a
// terminated message, and a test's counts and margin hold together.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "fuzz/analysis_check.h"
#include "tarvex_analysis.h"

namespace tarvex::fuzz {
bool gTrace = false;  // replay_main's --trace: this target has no more to say
}  // namespace tarvex::fuzz

namespace {

// An eye 1000 wide with codes around two levels, from the input's bytes: it reaches every part
// of the plane a mask may cover.
struct Eye {
    std::vector<std::uint16_t> x, y;
};

Eye eyeFrom(const std::uint8_t* data, std::size_t size) {
    Eye e;
    for (std::size_t i = 0; i + 2 < size && e.x.size() < 4000; i += 3) {
        e.x.push_back(static_cast<std::uint16_t>((data[i] | (data[i + 1] << 8)) % 1000));
        e.y.push_back(static_cast<std::uint16_t>(data[i + 2] * 16));
    }
    e.x.push_back(500);
    e.y.push_back(2000);
    return e;
}

void test(const TvaMask& mask, const Eye& eye) {
    const TvaEyeFrame frame{0.25, 800, 3300};
    TvaMaskResult result;
    std::vector<std::uint8_t> flags(eye.x.size(), 0xEE);
    const auto count = static_cast<std::uint32_t>(eye.x.size());
    const std::int32_t status =
        tvaMaskTest(eye.x.data(), eye.y.data(), count, 1000, &frame, &mask, &result, flags.data());
    TARVEX_ANALYSIS_CHECK(status == kTvaOk || status == kTvaBadMask, "tvaMaskTest: a status it may not give");
    if (status != kTvaOk) return;
    TARVEX_ANALYSIS_CHECK(result.testedSamples == count, "not every point tested");
    TARVEX_ANALYSIS_CHECK(result.failedSamples <= count, "more failures than points");
    TARVEX_ANALYSIS_CHECK((result.passed == 1) == (result.failedSamples == 0), "passed and failures disagree");
    TARVEX_ANALYSIS_CHECK(std::isfinite(result.marginPercent), "a margin that is not finite");
    TARVEX_ANALYSIS_CHECK(result.passed ? result.marginPercent >= 0 : result.marginPercent <= 0,
                          "the margin's sign and the outcome disagree");
    std::uint32_t flagged = 0;
    std::uint32_t hits[TVA_MASK_MAX_REGIONS] = {};
    for (const std::uint8_t bits : flags) {
        TARVEX_ANALYSIS_CHECK((bits >> mask.regionCount) == 0, "a flag for a region that is not there");
        flagged += bits != 0;
        for (std::uint32_t r = 0; r < mask.regionCount; ++r) hits[r] += (bits >> r) & 1u;
    }
    TARVEX_ANALYSIS_CHECK(flagged == result.failedSamples, "flags and failures disagree");
    for (std::uint32_t r = 0; r < mask.regionCount; ++r)
        TARVEX_ANALYSIS_CHECK(hits[r] == result.regionHits[r], "flags and hits per region disagree");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Eye eye = eyeFrom(data, size);

    TvaMask mask;
    char message[96];
    std::memset(message, 0x7F, sizeof message);
    const std::int32_t status = tvaMaskFromJson(reinterpret_cast<const char*>(data),
                                                static_cast<std::uint32_t>(size), &mask, message,
                                                sizeof message);
    TARVEX_ANALYSIS_CHECK(status == kTvaOk || status == kTvaBadMask, "tvaMaskFromJson: a status it may not give");
    TARVEX_ANALYSIS_CHECK(std::memchr(message, '\0', sizeof message) != nullptr, "message not terminated");
    if (status == kTvaOk) {
        TARVEX_ANALYSIS_CHECK(message[0] == '\0', "a message for a mask that was read");
        TARVEX_ANALYSIS_CHECK(tvaMaskCheck(&mask, nullptr, 0) == kTvaOk, "a mask read but not well formed");
        test(mask, eye);
    } else {
        TARVEX_ANALYSIS_CHECK(message[0] != '\0', "a refusal without a word");
        TARVEX_ANALYSIS_CHECK(mask.regionCount == 0, "a refused mask left behind");
    }

    // The bytes as a record filled by hand.
    TvaMask raw{};
    std::memcpy(&raw, data, std::min(size, sizeof raw));
    const std::int32_t checked = tvaMaskCheck(&raw, message, sizeof message);
    TARVEX_ANALYSIS_CHECK(checked == kTvaOk || checked == kTvaBadMask, "tvaMaskCheck: a status it may not give");
    test(raw, eye);
    return 0;
}
