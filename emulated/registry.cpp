#include "emulated/registry.h"

#include <cctype>

namespace tarvex::emulated {

std::string Registry::fold(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return folded;
}

void Registry::set(const std::string& key, const std::string& name, Value value) {
    keys_[fold(key)][fold(name)] = std::move(value);
}

void Registry::removeValue(const std::string& key, const std::string& name) {
    auto k = keys_.find(fold(key));
    if (k != keys_.end()) k->second.erase(fold(name));
}

void Registry::removeKey(const std::string& key) { keys_.erase(fold(key)); }

bool Registry::keyExists(const std::string& key) const {
    const std::string folded = fold(key);
    if (folded.empty()) return false;
    for (auto it = keys_.lower_bound(folded);
         it != keys_.end() && it->first.compare(0, folded.size(), folded) == 0; ++it) {
        if (it->first.size() == folded.size() || it->first[folded.size()] == '\\') return true;
    }
    return false;
}

const Registry::Value* Registry::find(const std::string& key, const std::string& name) const {
    auto k = keys_.find(fold(key));
    if (k == keys_.end()) return nullptr;
    auto v = k->second.find(fold(name));
    return v == k->second.end() ? nullptr : &v->second;
}

}  // namespace tarvex::emulated
