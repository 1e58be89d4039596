// The classic BPF program a packet ring runs on each IPv4 packet of its adapter: it keeps the
// packets of one camera's stream (UDP from the camera's address to the stream port, whole
// datagrams only) and drops everything else in the kernel, before any copy.
#pragma once

#include <linux/filter.h>

#include <cstdint>
#include <vector>

namespace kavro::filterengine {

// For a socket that sees packets from their IPv4 header on (a datagram packet socket).
std::vector<sock_filter> streamFilter(uint32_t sourceAddressNet, uint16_t destinationPort);

}  // namespace kavro::filterengine
