// The bootstrap registers and strings a simulated camera starts with, from its configuration.
#pragma once

#include "sim/camera_config.h"
#include "sim/device_memory.h"

namespace kavro::sim {

// Upper bound on the stream channels a configuration may declare (the register blocks of more
// would run into the action registers).
inline constexpr uint32_t kMaxStreamChannels = 512;
// Distance between the register blocks of two stream channels.
inline constexpr uint32_t kStreamChannelStride = 0x40;
// Distance between the key/mask pairs of two action signals.
inline constexpr uint32_t kActionSignalStride = 0x10;
// The smallest heartbeat time-out a camera accepts; smaller writes are raised to it.
inline constexpr uint32_t kMinHeartbeatTimeoutMs = 500;

// Defines the bootstrap registers and strings, and places the camera's description in its
// read-only region at kDescriptionAddress with the First URL pointing at it. A user memory
// configured so large that it reaches that address leaves the description out.
void defineBootstrap(DeviceMemory& memory, const CameraConfig& config);

}  // namespace kavro::sim
