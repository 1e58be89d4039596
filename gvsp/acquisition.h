// Acquisition start and stop on the socket path: geometry from the camera's features (device
// description loaded) or from the caller, the ring, the packet index, the receiver thread, the
// camera's AcquisitionStart/AcquisitionStop commands, and the statistics written at stop.
#pragma once

#include <cstdint>
#include <memory>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"
#include "gvsp/image_ring.h"
#include "gvsp/stream_wait.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace kavro::gvsp {

// What one acquisition owns. The receiver thread holds it (and the device record) through
// shared pointers. Its stop signal is its own: a stop raises it, which wakes the receiver at
// once, and then joins the receiver, so no receiver outlives its acquisition's stop.
class Acquisition {
  public:
    Acquisition(uint32_t payloadSize, uint32_t packetDataSize)
        : index(payloadSize, packetDataSize) {}
    // The handle is a duplicate of the device's stream socket: closed without a shutdown, which
    // would act on the device's own socket too.
    ~Acquisition();

    PacketIndex index;
    std::unique_ptr<ImageRing> ring;
    platform::UniqueSocket socket;  // the receiver's own handle on the stream socket
    StopSignal stop;
    platform::WorkerThread receiver;
};

// The device's running acquisition, or null; safe from any thread.
std::shared_ptr<Acquisition> currentAcquisition(frame::GevDevice& device);

// With the device description loaded the features give frame count and geometry, the
// transport-layer parameters are locked and the camera is started; without it `payloadSize`
// must be non-zero and the application starts the camera.
GevStatus startAcquisition(uint8_t device, uint32_t frameCount, uint32_t payloadSize);
// With the device description loaded the camera is stopped and the parameters unlocked first.
GevStatus stopAcquisition(frame::GevDevice& device);

// Data bytes per payload packet for the device's current stream settings (reads SCPS0 and the
// id-mode registers); 0 stored when SCPS0 leaves no room for data.
GevStatus readPacketDataSize(frame::GevDevice& device, uint32_t& packetDataSize);

// The three statistics lines of a stop, from the device's counters.
void logStatistics(frame::GevDevice& device, uint32_t payloadSize, uint32_t packetDataSize);

}  // namespace kavro::gvsp
