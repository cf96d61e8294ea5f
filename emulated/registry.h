// The emulated registry under HKEY_LOCAL_MACHINE: keys of named values, key and value names
// compared without regard to case, as Windows does.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "emulated/firmware.h"

namespace tarvex::emulated {

class Registry {
public:
    struct Value {
        std::uint32_t type;
        Bytes data;
    };

    void set(const std::string& key, const std::string& name, Value value);
    void removeValue(const std::string& key, const std::string& name);
    // Removes the key with its values (its subkeys stay).
    void removeKey(const std::string& key);

    // A key exists if it holds values or if some key lies beneath it.
    bool keyExists(const std::string& key) const;
    const Value* find(const std::string& key, const std::string& name) const;

private:
    static std::string fold(const std::string& name);
    std::map<std::string, std::map<std::string, Value>> keys_;
};

}  // namespace tarvex::emulated
