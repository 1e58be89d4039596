// The parts of opening a device that do not talk to the camera: a fresh record filled from the
// caller's connection data with the library's defaults, and its control socket.
#pragma once

#include <memory>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"

namespace kavro::frame {

// Makes the index's fresh record and fills it from `info`, with the transport and stream
// defaults. The index is not marked open.
std::shared_ptr<GevDevice> prepareRecord(uint8_t device, const GevConnectInfo& info,
                                         GevLogCallback log, uint8_t saveDescription,
                                         uint8_t controlMode);

// Creates the control socket on (hostAddress, controlPort) and learns the port the system chose.
// Logs "Open control port." and the port; 0xC003 when the socket can't be made.
GevStatus openControlSocket(GevDevice& device);

// The line after "Device already opened." that says why the first read of the camera's control
// register failed: no answer within the transaction time-out (a wrong address, a camera that is
// off or unreachable), or the camera's refusal with its status.
void logControlReadFailure(const GevDevice& device, GevStatus status);

// Opens an index without any camera traffic: record, version lines, control socket, open flag.
// The first half of a real open; tools and tests of the transport use it on its own.
GevStatus openWithoutHandshake(uint8_t device, const GevConnectInfo& info, GevLogCallback log,
                               uint8_t controlMode);

}  // namespace kavro::frame
