#include "emulated/demo/network_settings.h"


namespace tarvex::emulated::demo {

std::uint8_t* NetworkSettings::field(std::uint8_t selector, std::size_t& size) {
    switch (selector) {
        case ETH_IP_ADDR: size = ipAddress.size(); return ipAddress.data();
        case ETH_IP_MASK: size = ipMask.size(); return ipMask.data();
        case ETH_IP_GATEWAY: size = gateway.size(); return gateway.data();
        case ETH_MAC_ADDR: size = mac.size(); return mac.data();
        default: size = 0; return nullptr;
    }
}

}  // namespace tarvex::emulated::demo
