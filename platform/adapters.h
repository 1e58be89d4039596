// The machine's network adapters with their IPv4 addresses, masks and MTU.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kavro::platform {

struct AdapterAddress {
    uint32_t addressNet = 0;
    uint32_t maskNet = 0;
};

struct Adapter {
    std::string name;
    std::vector<AdapterAddress> addresses;  // IPv4 only, in the order the system lists them
    uint32_t mtu = 0;                       // 0 when unknown
};

// Every adapter that has at least one IPv4 address; nullopt when the list can't be read.
std::optional<std::vector<Adapter>> listAdapters();

}  // namespace kavro::platform
