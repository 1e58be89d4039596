// Finding cameras by broadcast, probing their control state, and Force IP.
#pragma once

#include <array>
#include <cstdint>

#include "KavroGigEVisionLib.h"

namespace kavro::gvcp {

GevStatus discover(GevDeviceList& list, GevDiscoveryCallback progress, uint32_t timeoutMs,
                   bool allSubnets);

// Reads the CCP register of a camera that is not open, from `adapterAddressNet`.
GevStatus probeAccess(uint32_t adapterAddressNet, uint32_t deviceAddressNet, uint16_t localPort,
                      uint32_t& ccp);

// Force IP; numbers in host byte order. `preferredLocalNet` (network order, 0 = choose by
// subnet) is the address to send from.
GevStatus forceIp(uint32_t address, uint32_t subnetMask, uint32_t gateway,
                  const std::array<uint8_t, 6>& mac, uint32_t preferredLocalNet = 0);

}  // namespace kavro::gvcp
