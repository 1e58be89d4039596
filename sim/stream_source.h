// The simulated camera's stream channel: GVSP to the destination the host programmed in SCDA0
// and SCP0 (unicast or multicast), standard or extended ids, image, image-with-chunks, raw,
// chunk and multi-part payloads, packet resend (the leader as packet 0), and seeded stream
// faults. A stop finishes the frame being sent; one that comes while a paced frame is due
// aborts it (leader and trailer only). Frame data is a function of block id and offset
// (frameByte), so resent packets are rebuilt rather than stored and tests can check every byte.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "gvsp/resend_command.h"
#include "platform/socket.h"
#include "sim/camera_model.h"

namespace kavro::sim {

struct StreamFormat {
    uint16_t payloadType = 0x0001;      // image
    uint32_t pixelFormat = 0x01080001;  // 8 bits per pixel
    uint32_t width = 64;
    uint32_t height = 48;
    uint32_t offsetX = 0;  // reported in the leader
    uint32_t offsetY = 0;
    uint16_t paddingX = 0;       // bytes after each line
    uint32_t trailerHeight = 0;  // lines reported (and sent) by the trailer; 0 = the height
    uint32_t dataBytes = 0;      // raw, chunk and multi-part payloads: bytes of a block
    // Image with chunks (0x4001): the values of the chunk after the image.
    uint32_t chunkExposureUs = 0;
    int32_t chunkTemperatureRaw = 0;  // 1/16 degree C
    // Multi-part (0x000A): the block's bytes go out as this many parts of equal size, in
    // payload packets of format 7 that each start with an 8-byte part header.
    uint32_t parts = 0;
    bool extendedIds = false;
    uint64_t firstBlockId = 1;
    double frameRate = 0.0;   // frames per second; 0 = back to back
    uint32_t frameCount = 0;  // frames to send; 0 = until stopped
    // Bits per second of the camera's link: a frame's packets leave spread at this line rate,
    // as from a real camera, rather than as one burst. 0 = as fast as the host sends.
    uint64_t linkBitsPerSecond = 0;
    // Packets leave in runs of up to this many (at most 64), handed to the kernel in one piece
    // and cut apart by it: a receiver that asks for receive coalescing gets each run in one
    // read, as a host's receive offload hands over a camera's packets. A run holds packets of
    // one size, and a shorter one ends it. 0 or 1: one packet at a time.
    uint32_t runLength = 0;
};

// Bytes the camera announces for a block of this format (padding and chunks included). A line
// holds width × the pixel format's bits per pixel, rounded up to whole bytes (packed formats).
uint32_t blockBytes(const StreamFormat& format);
uint64_t lineBytes(const StreamFormat& format);
// The byte at `offset` of block `blockId`'s data.
inline uint8_t frameByte(uint64_t blockId, uint64_t offset) {
    return static_cast<uint8_t>(blockId * 31 + offset * 7 + (offset >> 9));
}
inline constexpr uint8_t kPaddingByte = 0xEE;

// Chunks of an image-with-chunks block, after the image bytes: the image's own tag (id 1,
// length = the image bytes), then 16 bytes (u64 block id, u32 exposure time in µs, s32 sensor
// temperature in 1/16 degree C) and their tag (id 0x4B430001, length 16). Tags and values are
// big-endian.
inline constexpr uint32_t kChunkBytes = 32;
inline constexpr uint32_t kImageChunkId = 0x00000001;
inline constexpr uint32_t kCameraChunkId = 0x4B430001;
inline constexpr uint32_t kChunkLayoutId = 1;
std::array<uint8_t, kChunkBytes> chunkBytes(const StreamFormat& format, uint64_t blockId,
                                            uint32_t imageBytes);

// Multi-part payload packets start with this header: u16 part index (0-based), u16 0, u32 the
// offset of the packet's data within its part.
inline constexpr uint32_t kPartHeaderSize = 8;

struct StreamFaults {
    uint64_t seed = 1;
    // Per-packet probabilities.
    double lose = 0.0;     // payload packets
    double reorder = 0.0;  // held back by 1..reorderDistance packets
    uint32_t reorderDistance = 3;
    double duplicate = 0.0;
    double corrupt = 0.0;      // one random header byte replaced
    double wrongSize = 0.0;    // payload packets cut short or lengthened
    double errorStatus = 0.0;  // status 0x8001
    double loseLeader = 0.0;
    double loseTrailer = 0.0;
    // Exact faults: packets (block id, packet id) never sent in the first place; packet 0 is
    // the leader, the packet after the last payload packet the trailer. A resend request still
    // brings them (the leader as packet 0).
    std::set<std::pair<uint64_t, uint32_t>> dropPackets;
    // After block id A comes block id B.
    std::map<uint64_t, uint64_t> blockIdJumps;
    // Resent packets carry status 0x0100; off, status 0 like first sends.
    bool flagResentPackets = true;
    // Only requests that name exactly one packet are served (a camera that resends one packet
    // at a time); requests for ranges are counted and ignored.
    bool resendSinglePacketsOnly = false;
};

struct StreamStats {
    uint64_t framesSent = 0;
    uint64_t packetsSent = 0;
    uint64_t packetsLost = 0;  // dropped by the fault plan
    uint64_t resendRequests = 0;
    uint64_t packetsResent = 0;
};

class StreamSource {
  public:
    // Serves PACKETRESEND for `model`; sends from its own socket on `cameraAddressNet`.
    StreamSource(CameraModel& model, uint32_t cameraAddressNet);
    ~StreamSource();
    StreamSource(const StreamSource&) = delete;
    StreamSource& operator=(const StreamSource&) = delete;

    void setFaults(const StreamFaults& faults);
    // Starts streaming with `format` (packet size from SCPS0); false when already running or
    // the socket can't be made.
    bool start(const StreamFormat& format);
    void stop();
    // Waits until the frame count was sent; false on time-out.
    bool waitFinished(std::chrono::milliseconds timeout) const;
    StreamStats stats() const;
    // Called on the sending thread just before each frame's trailer leaves (not for a trailer
    // that a fault drops or corrupts); set it before start().
    using FrameSentObserver =
        std::function<void(uint64_t blockId, std::chrono::steady_clock::time_point sent)>;
    void setFrameSentObserver(FrameSentObserver observer) { frameSent_ = std::move(observer); }

  private:
    class Sender;
    void run(StreamFormat format, StreamFaults faults);

    CameraModel& model_;
    uint64_t resendTicket_ = 0;  // this source's resend handler in the model
    uint32_t addressNet_;
    platform::UniqueSocket socket_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    StreamFaults faults_;
    mutable std::mutex mutex_;
    std::deque<gvsp::ResendRequest> resends_;  // guarded by mutex_
    StreamStats stats_;                        // guarded by mutex_
    FrameSentObserver frameSent_;
};

}  // namespace kavro::sim
