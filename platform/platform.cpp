#include "platform/platform.h"

#include <atomic>

namespace tarvex::platform {

namespace {
std::atomic<Backend*> current{nullptr};
}

Backend& backend() {
    Backend* b = current.load(std::memory_order_acquire);
    return b ? *b : nativeBackend();
}

void install(Backend* b) { current.store(b, std::memory_order_release); }

}  // namespace tarvex::platform
