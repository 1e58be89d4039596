// An IPv4 packet as a packet ring captured it, read down to its UDP payload: every length
// checked against what was captured, and the UDP checksum verified where no one has yet.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace kavro::filterengine {

struct StreamEndpoint {
    uint32_t sourceAddressNet = 0;
    uint16_t destinationPort = 0;
};

// The UDP payload of `packet` (starting at its IPv4 header) when it is a whole, unfragmented
// UDP datagram from `endpoint`'s source to its port; else nullopt. `checksumVerified`: the
// kernel or the adapter has already checked the checksum (or the packet never left the host).
std::optional<std::span<const uint8_t>> udpPayload(std::span<const uint8_t> packet,
                                                   const StreamEndpoint& endpoint,
                                                   bool checksumVerified);

}  // namespace kavro::filterengine
