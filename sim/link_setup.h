// The few changes a simulated camera makes to its own network link, as a real camera does to
// its network interface: hear broadcasts on one link only, and take a forced address.
#pragma once

#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace kavro::sim {

// Restricts `socket` to datagrams that arrive on `interface`; false when that fails.
bool restrictToInterface(const platform::UniqueSocket& socket, const std::string& interface);

// Puts `addressNet` with the prefix of `maskNet` on `interface` (rtnetlink, needs
// CAP_NET_ADMIN in the camera's namespace). True when the address is there afterwards.
bool addInterfaceAddress(const std::string& interface, uint32_t addressNet, uint32_t maskNet);

}  // namespace kavro::sim
