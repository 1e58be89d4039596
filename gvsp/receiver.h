// The stream receiver thread of a device on the socket path.
#pragma once

#include <cstdint>
#include <memory>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"
#include "gvsp/acquisition.h"
#include "platform/socket.h"

namespace kavro::gvsp {

// Starts the receiver of `acquisition` at the highest priority; false when the thread can't be
// created.
bool startReceiver(const std::shared_ptr<frame::GevDevice>& device,
                   const std::shared_ptr<Acquisition>& acquisition);

// Builds and sends a resend command to the device's control port from the device's control
// socket as it is now (the heartbeat may have rebuilt it), without waiting for a transaction.
// The request id is the device's next one.
GevStatus sendPacketResend(frame::GevDevice& device, bool extended, uint16_t channel,
                           uint64_t blockId, uint32_t first, uint32_t last);

}  // namespace kavro::gvsp
