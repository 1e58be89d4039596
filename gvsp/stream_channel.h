// The host side of stream channel 0: its socket and the camera's destination registers.
#pragma once

#include <cstdint>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"
#include "platform/socket.h"

namespace kavro::gvsp {

// Receive buffer asked for a stream socket (several frames at high packet rates). The stream
// goes on with what the kernel grants; less is logged as a warning.
inline constexpr size_t kStreamReceiveBuffer = size_t{16} << 20;

GevStatus openStreamChannel(frame::GevDevice& device, uint32_t hostAddress, uint16_t port,
                            uint32_t multicastGroup);
GevStatus closeStreamChannel(frame::GevDevice& device);

// A stream socket with address reuse on and the large receive buffer. A unicast stream's socket
// is bound to (hostAddress, port). A multicast stream's socket is bound to (group, port): Linux
// hands a datagram sent to a group only to sockets bound to that group or to no address, and
// binding to the group keeps other groups' traffic on the same port out.
platform::UniqueSocket createStreamSocket(uint32_t hostAddressNet, uint16_t port,
                                          uint32_t multicastGroupHostOrder = 0);
// Logs a warning when the kernel granted the stream socket less receive buffer than asked for.
void warnOnSmallReceiveBuffer(frame::GevDevice& device, const platform::UniqueSocket& socket);
// Joins `groupHostOrder` on the interface `interfaceNet`.
bool joinMulticastGroup(const platform::UniqueSocket& socket, uint32_t groupHostOrder,
                        uint32_t interfaceNet);
// Replaces the device's stream socket (under the control lock, which the heartbeat reads it
// under).
void setStreamSocket(frame::GevDevice& device, platform::UniqueSocket socket);

}  // namespace kavro::gvsp
