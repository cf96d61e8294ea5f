#include "view_settings.h"

#include <cmath>
#include <cstring>

#include <fmt/format.h>

#include "common/quantity.h"
#include "tool.h"

namespace tarvex::cli {

namespace {

using Input = nlohmann::json;

// A JSON object from a request body, or the sentence for what it is instead.
Checked<Input> objectOf(std::string_view body) {
    Input parsed = Input::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_discarded()) return {{}, "the request body is not valid JSON"};
    if (!parsed.is_object()) return {{}, "the request body must be a JSON object"};
    return {std::move(parsed), {}};
}

std::optional<double> rateOf(const Input& value) {
    std::optional<double> rate;
    if (value.is_number()) rate = value.get<double>();
    if (value.is_string()) rate = common::parseRate(value.get<std::string>());
    if (!rate || !std::isfinite(*rate) || *rate <= 0 || *rate > ViewLimits::kMaxRate)
        return std::nullopt;
    return rate;
}

std::optional<std::uint32_t> wholeOf(const Input& value, std::uint32_t low, std::uint32_t high) {
    if (!value.is_number_integer()) return std::nullopt;
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n < low || n > high) return std::nullopt;
        return static_cast<std::uint32_t>(n);
    }
    const auto n = value.get<std::int64_t>();
    if (n < static_cast<std::int64_t>(low) || n > static_cast<std::int64_t>(high))
        return std::nullopt;
    return static_cast<std::uint32_t>(n);
}

std::optional<double> finiteOf(const Input& value) {
    if (!value.is_number()) return std::nullopt;
    const double v = value.get<double>();
    if (!std::isfinite(v)) return std::nullopt;
    return v;
}

std::string rateSentence(const char* name) {
    return fmt::format("{} must be a rate above 0 and up to 1e12 (a number, or text like "
                       "\"1.25G\")",
                       name);
}

}  // namespace

Checked<ViewSettings> applySettings(const ViewSettings& current, std::string_view body,
                                    const std::vector<InterfaceInfo>& boards) {
    auto object = objectOf(body);
    if (!object.value) return {{}, object.error};
    ViewSettings next = current;
    for (const auto& [key, value] : object.value->items()) {
        if (key == "dataRate" || key == "sampleRate") {
            const auto rate = rateOf(value);
            if (!rate) return {{}, rateSentence(key.c_str())};
            (key == "dataRate" ? next.dataRate : next.sampleRate) = *rate;
        } else if (key == "packets") {
            const auto n = wholeOf(value, 1, ViewLimits::kMaxPackets);
            if (!n) return {{}, fmt::format("packets must be a whole number from 1 to {}",
                                            ViewLimits::kMaxPackets)};
            next.packets = *n;
        } else if (key == "xScale") {
            const auto n = wholeOf(value, 0, ViewLimits::kMaxXScale);
            if (!n) return {{}, fmt::format("xScale must be a whole number from 0 to {}",
                                            ViewLimits::kMaxXScale)};
            next.xScale = *n;
        } else if (key == "board") {
            const auto n = wholeOf(value, 0, 126);
            if (!n) return {{}, "board must be a member index from 0 to 126"};
            bool present = false;
            for (const auto& info : boards) present = present || (info.board && info.index == *n);
            if (!present) return {{}, missingBoardSentence(*n, boards)};
            next.board = *n;
        } else if (key == "run") {
            if (!value.is_boolean()) return {{}, "run must be true or false"};
            next.run = value.get<bool>();
        } else {
            return {{}, fmt::format("there is no setting called \"{}\"", key)};
        }
    }
    if (auto problem = foldProblem(next.dataRate, next.sampleRate); !problem.empty())
        return {{}, problem};
    return {next, {}};
}

Checked<std::optional<MaskChoice>> parseMaskRequest(std::string_view body) {
    auto object = objectOf(body);
    if (!object.value) return {{}, object.error};
    const Input& request = *object.value;
    const auto kind = request.find("kind");
    if (kind == request.end() || !kind->is_string())
        return {{}, "a mask request says its kind: \"none\", \"hexagon\" or \"file\""};
    const auto extraField = [&](std::initializer_list<const char*> keys) -> std::string {
        for (const auto& [key, value] : request.items()) {
            bool known = false;
            for (const char* k : keys) known = known || key == k;
            if (!known)
                return fmt::format("a {} mask takes no \"{}\"", kind->get<std::string>(), key);
        }
        return {};
    };

    if (*kind == "none") {
        if (auto extra = extraField({"kind"}); !extra.empty()) return {{}, extra};
        return {std::optional<MaskChoice>(), {}};
    }
    MaskChoice choice;
    if (*kind == "hexagon") {
        if (auto extra = extraField({"kind", "x1", "x2", "y1", "y2"}); !extra.empty())
            return {{}, extra};
        double values[4] = {};
        const char* names[] = {"x1", "x2", "y1", "y2"};
        for (int i = 0; i < 4; ++i) {
            const auto at = request.find(names[i]);
            const auto v = at == request.end() ? std::nullopt : finiteOf(*at);
            if (!v) return {{}, fmt::format("the hexagon needs {} as a number", names[i])};
            values[i] = *v;
        }
        if (tvaMaskHexagon(values[0], values[1], values[2], values[3], &choice.mask) != kTvaOk)
            return {{}, "the hexagon needs 0 <= x1 < x2 <= 0.5, 0 < y1 < 0.5 and 0 <= y2 <= "
                        "100000"};
        choice.spec = fmt::format("hexagon:{:g},{:g},{:g},{:g}", values[0], values[1], values[2],
                                  values[3]);
        return {std::optional(choice), {}};
    }
    if (*kind == "file") {
        if (auto extra = extraField({"kind", "name", "text"}); !extra.empty()) return {{}, extra};
        const auto name = request.find("name");
        const auto text = request.find("text");
        if (text == request.end() || !text->is_string())
            return {{}, "a mask file's text comes as a string in \"text\""};
        choice.spec = "a mask file";
        if (name != request.end()) {
            if (!name->is_string() || name->get_ref<const std::string&>().empty() ||
                name->get_ref<const std::string&>().size() > ViewLimits::kMaxMaskNameBytes)
                return {{}, fmt::format("a mask file's name is text of 1 to {} bytes",
                                        ViewLimits::kMaxMaskNameBytes)};
            choice.spec = name->get<std::string>();
        }
        const auto& content = text->get_ref<const std::string&>();
        char message[256] = {};
        if (tvaMaskFromJson(content.data(), static_cast<std::uint32_t>(content.size()),
                            &choice.mask, message, sizeof message) != kTvaOk)
            return {{}, fmt::format("the mask file cannot be used: {}", message)};
        return {std::optional(choice), {}};
    }
    return {{}, "a mask's kind is \"none\", \"hexagon\" or \"file\""};
}

Json settingsJson(const ViewSettings& settings) {
    return {{"board", settings.board},     {"dataRate", settings.dataRate},
            {"sampleRate", settings.sampleRate}, {"packets", settings.packets},
            {"xScale", settings.xScale},   {"run", settings.run}};
}

Json maskStateJson(const std::optional<MaskChoice>& mask) {
    if (!mask) return nullptr;
    Json regions = Json::array();
    for (std::uint32_t r = 0; r < mask->mask.regionCount && r < TVA_MASK_MAX_REGIONS; ++r) {
        const TvaMaskRegion& region = mask->mask.regions[r];
        Json vertices = Json::array();
        for (std::uint32_t v = 0; v < region.vertexCount && v < TVA_MASK_MAX_VERTICES; ++v)
            vertices.push_back({region.vertices[v].x, region.vertices[v].y});
        regions.push_back({{"name", std::string(region.name, strnlen(region.name,
                                                                     TVA_MASK_NAME_BYTES))},
                           {"vertices", vertices}});
    }
    return {{"spec", mask->spec}, {"regions", regions}};
}

}  // namespace tarvex::cli
