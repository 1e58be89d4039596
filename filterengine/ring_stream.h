// One device's stream on the packet-ring path: the ring of packet blocks on the bound adapter,
// a thread that walks the blocks and feeds each stream datagram to the block assembler the
// socket path uses, and the image ring the reads take finished images from. The thread copies
// no payload: the assembler notes where each packet lies in the packet ring, and a read copies
// the image out of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>

#include "KavroGigEVisionLib.h"
#include "filterengine/packet_placements.h"
#include "filterengine/packet_ring.h"
#include "filterengine/requests.h"
#include "frame/device.h"
#include "gvsp/block_assembler.h"
#include "gvsp/image_ring.h"
#include "gvsp/stream_wait.h"
#include "platform/thread.h"

namespace kavro::filterengine {

// Ring blocks and their retire time-out for a stream: a block is handed over when it is full
// or, at a camera's rate, when the time-out ends, so that one wake-up carries a few
// milliseconds of packets; the ring holds the images of the image ring and several more, so
// that a flood loses nothing while the thread is kept from running for a moment.
PacketRingSettings ringFor(const StartStream& start, int interfaceIndex, uint16_t bufferCount);

class RingStream final {
  public:
    // `settings` is the device's record on the engine side: the assembler reads the resend and
    // ordering settings from it at every datagram and keeps its counters there. Null with
    // `error` set when the stream can't start.
    static std::unique_ptr<RingStream> start(const StartStream& start, int interfaceIndex,
                                             uint16_t bufferCount,
                                             std::shared_ptr<frame::GevDevice> settings,
                                             gvsp::ResendSender resend, uint32_t& error);
    // Stops the thread and releases both rings.
    ~RingStream();
    RingStream(const RingStream&) = delete;
    RingStream& operator=(const RingStream&) = delete;

    // Ends reception; images already finished stay readable.
    void stop();

    struct Delivery {
        uint32_t error = 0;  // 0, or an error number of the filter device interface
        bool delivered = false;
        GevImageHeader header{};
        int64_t handedOverNs = 0;  // when the assembler finished the image
    };
    // Waits for the next finished image at most the start's image time-out and copies its
    // payload to `dest` as the socket path's copying calls do (padding removed, a short image
    // ending in zeros), at most dest.size() bytes. An image with packets missing is delivered
    // with a general failure.
    Delivery read(std::span<uint8_t> dest);

  private:
    RingStream(const StartStream& start, std::shared_ptr<frame::GevDevice> settings,
               gvsp::ResendSender resend);
    void run();

    std::shared_ptr<frame::GevDevice> settings_;
    gvsp::PacketIndex index_;
    std::chrono::milliseconds imageTimeout_;
    gvsp::ResendSender resend_;
    std::unique_ptr<gvsp::ImageRing> images_;
    std::unique_ptr<PacketPlacements> placements_;
    std::unique_ptr<PacketRing> packets_;
    gvsp::StopSignal stop_;
    platform::WorkerThread thread_;
};

}  // namespace kavro::filterengine
