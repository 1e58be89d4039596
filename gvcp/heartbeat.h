// Control supervision: a thread per device opened with control reads the camera's CCP register
// at the heartbeat period. The read keeps control, shows whether the library still holds the
// access it asked for, and its failures show a lost link, which the thread repairs or, after
// five failures in a row, declares failed.
#pragma once

#include <memory>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"

namespace kavro::gvcp {

// Starts the device's heartbeat thread; 0xC00B when it can't be started.
GevStatus startHeartbeat(const std::shared_ptr<frame::GevDevice>& device);
// Asks the thread to end and waits for it up to `wait`. A thread still inside a transaction
// then ends on its own; it holds the record, so nothing it uses is freed under it.
void stopHeartbeat(frame::GevDevice& device, std::chrono::milliseconds wait);

// Replaces the control socket with a new one on the same port (one of the system's choice when
// that port is taken), then writes the control mode to CCP again. Packet resends follow the
// new socket at once.
void rebuildControlSocket(frame::GevDevice& device);
// Points the camera's stream channel back at the host when the camera cleared it.
void restoreStreamDestination(frame::GevDevice& device);
// Points the camera's message channel back at the host's shared message socket.
void restoreMessageChannel(frame::GevDevice& device);

}  // namespace kavro::gvcp
