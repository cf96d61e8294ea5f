// The mask file: a small JSON document (docs/analysis.md).
//
//   {"version": 1, "name": "...", "regions": [{"name": "hexagon", "points": [[x, y], ...]}, ...]}
//
// Read strictly: unknown keys, wrong types and counts out of range are refused with a sentence
// that says where, since a typo in a mask would otherwise pass a test it should fail.
#include <algorithm>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/mask.h"

namespace tarvex::analysis {
namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxFileBytes = 1 << 20;
constexpr int kMaxNesting = 16;
constexpr int kVersion = 1;

class Refusal {
public:
    explicit Refusal(std::string sentence) : sentence_(std::move(sentence)) {}
    const std::string& sentence() const { return sentence_; }

private:
    std::string sentence_;
};

// The deepest nesting of arrays and objects, outside strings: refused before parsing, so no
// input can make the parser or the document's destruction go deep.
int nesting(std::string_view text) {
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') inString = true;
        else if (c == '[' || c == '{') deepest = std::max(deepest, ++depth);
        else if (c == ']' || c == '}') --depth;
    }
    return deepest;
}

std::string lineAndColumn(std::string_view text, std::size_t byte) {
    byte = std::min(byte, text.size());
    const std::size_t line = 1 + std::count(text.begin(), text.begin() + byte, '\n');
    const std::size_t lineStart = text.rfind('\n', byte == 0 ? 0 : byte - 1);
    const std::size_t column = lineStart == std::string_view::npos || byte == 0 ? byte : byte - lineStart - 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(column + 1);
}

void onlyKeys(const Json& object, std::initializer_list<const char*> known, const std::string& where) {
    for (const auto& item : object.items()) {
        const std::string& key = item.key();
        if (std::none_of(known.begin(), known.end(), [&](const char* k) { return key == k; }))
            throw Refusal(where + " has an unknown key \"" + key + "\"");
    }
}

void readName(const Json& holder, char* name, const std::string& where) {
    const auto it = holder.find("name");
    if (it == holder.end()) return;
    if (!it->is_string()) throw Refusal(where + ": \"name\" must be a string");
    const std::string& text = it->get_ref<const std::string&>();
    if (text.size() >= TVA_MASK_NAME_BYTES || text.find('\0') != std::string::npos)
        throw Refusal(where + ": \"name\" must be at most " +
                      std::to_string(TVA_MASK_NAME_BYTES - 1) + " bytes");
    std::memcpy(name, text.data(), text.size());
}

void readRegion(const Json& json, TvaMaskRegion& region, const std::string& where) {
    if (!json.is_object())
        throw Refusal(where + " must be an object with \"points\": [[x, y], ...]");
    onlyKeys(json, {"name", "points"}, where);
    readName(json, region.name, where);
    const auto points = json.find("points");
    if (points == json.end()) throw Refusal(where + " has no \"points\"");
    if (!points->is_array() || points->size() < 3 || points->size() > TVA_MASK_MAX_VERTICES)
        throw Refusal(where + ": \"points\" must be a list of 3 to " +
                      std::to_string(TVA_MASK_MAX_VERTICES) + " points [x, y]");
    for (const Json& point : *points) {
        const std::string which = where + ", point " + std::to_string(region.vertexCount + 1);
        if (!point.is_array() || point.size() != 2 || !point[0].is_number() || !point[1].is_number())
            throw Refusal(which + " must be [x, y], two numbers");
        region.vertices[region.vertexCount++] = {point[0].get<double>(), point[1].get<double>()};
    }
}

void read(std::string_view text, TvaMask& mask) {
    if (text.size() > kMaxFileBytes) throw Refusal("a mask file is at most 1 MiB");
    if (nesting(text) > kMaxNesting) throw Refusal("the mask file is nested too deeply to be a mask");
    Json json;
    try {
        json = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
        throw Refusal("the mask file is not valid JSON (at " + lineAndColumn(text, e.byte == 0 ? 0 : e.byte - 1) + ")");
    }
    if (!json.is_object())
        throw Refusal("a mask file holds one JSON object: {\"version\": 1, \"regions\": [...]}");
    onlyKeys(json, {"version", "name", "regions"}, "the mask file");
    const auto version = json.find("version");
    if (version == json.end()) throw Refusal("the mask file has no \"version\" (this reader knows version 1)");
    if (!version->is_number_integer() || version->get<std::int64_t>() != kVersion)
        throw Refusal("the mask file's \"version\" is " + version->dump() + "; this reader knows version 1");
    const auto regions = json.find("regions");
    if (regions == json.end()) throw Refusal("the mask file has no \"regions\"");
    if (!regions->is_array() || regions->empty() || regions->size() > TVA_MASK_MAX_REGIONS)
        throw Refusal("\"regions\" must be a list of 1 to " + std::to_string(TVA_MASK_MAX_REGIONS) + " regions");
    for (const Json& region : *regions) {
        const std::string where = "region " + std::to_string(mask.regionCount + 1);
        readRegion(region, mask.regions[mask.regionCount++], where);
    }
    if (std::string problem = maskProblem(mask); !problem.empty()) throw Refusal(std::move(problem));
}

}  // namespace

bool maskFromJson(std::string_view text, TvaMask& mask, std::string& message) {
    mask = {};
    try {
        read(text, mask);
        return true;
    } catch (const Refusal& refusal) {
        message = refusal.sentence();
    } catch (const std::exception& e) {
        // A document that parsed but is no mask in a way not foreseen above.
        message = std::string("the mask file cannot be read: ") + e.what();
    }
    mask = {};
    return false;
}

}  // namespace tarvex::analysis
