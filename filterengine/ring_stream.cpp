#include "filterengine/ring_stream.h"

#include <algorithm>
#include <new>

#include "filterdriver/filter_device.h"
#include "filterengine/block_wait.h"
#include "filterengine/frame_pacing.h"
#include "frame/image_memory.h"
#include "gvsp/retrieval.h"
#include "gvsp/wire.h"
#include "platform/clock.h"

namespace kavro::filterengine {

namespace {

using namespace std::chrono_literals;

// 256 KiB blocks hold about 160 packets of 1500 bytes, 28 of 9000, or the datagrams a local
// sender hands over in one piece (64 KiB). Blocks wait for the images their packets belong to
// be read: small blocks keep what waits small. A camera sends each frame's packets at its
// link's rate, so at 1 Gbit/s a block fills in about the time-out.
constexpr uint32_t kBlockSize = 256u << 10;
// The kernel hands over the block being filled whenever the time-out passes with packets in
// it, not the time-out after the last packet, whatever the block size. The time-out bounds how
// late the block with a frame's trailer comes (a longer one adds about half of it to every
// image); the wake-ups in the middle of a frame are saved by pacing (FramePacing) instead.
constexpr uint32_t kRetireTimeoutMs = 2;
// What a packet takes in a block beyond its UDP payload: the ring's own header and the
// sender's address, alignment, and the IPv4 and UDP headers.
constexpr uint64_t kRingBytesPerPacket = 160;
constexpr uint64_t kImagesHeld = 8;
constexpr uint64_t kSmallestRing = 16u << 20;
constexpr uint64_t kLargestRing = 128u << 20;
// Payload packets of one block the engine takes on.
constexpr uint64_t kMostPackets = 1u << 24;
// Nothing arrived for this long: blocks in progress are handed over as they are.
constexpr std::chrono::milliseconds kQuiet = 200ms;
constexpr int64_t kQuietNs = 200000000;
// How soon blocks are looked at again when nearly all are held.
constexpr std::chrono::milliseconds kCrowded{1};
constexpr uint32_t kNotAnImage = 0xFFFFFFFF;

uint64_t packetsOf(const StartStream& start) {
    return (uint64_t{start.payloadSize} + start.packetDataSize - 1) / start.packetDataSize;
}

// What the assembler reads from the device record: this stream's geometry and settings, and
// counters from zero.
void prepare(frame::GevDevice& d, const StartStream& start) {
    d.geometry = frame::StreamGeometry{};
    d.geometry.imageWidth = start.imageWidth;
    d.geometry.imageHeight = start.imageHeight;
    d.geometry.imagePixelFormat = start.pixelFormat;
    d.geometry.bytesPerPixel = gvsp::bytesPerPixel(start.pixelFormat);
    d.geometry.payloadSize = start.payloadSize;
    d.geometry.fromDescription = start.imageWidth != 0 && start.imageHeight != 0;
    d.deviceAddress = start.deviceAddressNet;
    d.streamPort = start.streamPort;
    d.packetDataSize = start.packetDataSize;
    d.maxResend = start.maxResend;
    d.resendEnabled = start.resendEnabled ? 1 : 0;
    d.imageTimeout = start.imageTimeoutMs;
    d.counters.clear();
    d.counters.fpsFrequency = platform::kCounterFrequency;
    d.counters.fpsWindowStart = 0;
    d.acquisitionStopped = 0;
}

}  // namespace

PacketRingSettings ringFor(const StartStream& start, int interfaceIndex, uint16_t bufferCount) {
    const uint64_t packets = packetsOf(start) + 2;  // leader and trailer
    const uint64_t image =
        packets * (start.packetDataSize + gvsp::kExtendedHeaderSize + kRingBytesPerPacket);
    const uint64_t images = kImagesHeld + bufferCount;
    const uint64_t bytes = std::clamp(image * images, kSmallestRing, kLargestRing);
    PacketRingSettings s;
    s.interfaceIndex = interfaceIndex;
    s.endpoint = {start.deviceAddressNet, start.streamPort};
    s.blockSize = kBlockSize;
    s.blockCount = static_cast<uint32_t>((bytes + kBlockSize - 1) / kBlockSize);
    s.retireTimeoutMs = kRetireTimeoutMs;
    return s;
}

RingStream::RingStream(const StartStream& start, std::shared_ptr<frame::GevDevice> settings,
                       gvsp::ResendSender resend)
    : settings_(std::move(settings)),
      index_(start.payloadSize, start.packetDataSize),
      imageTimeout_(start.imageTimeoutMs),
      resend_(std::move(resend)) {}

std::unique_ptr<RingStream> RingStream::start(const StartStream& start, int interfaceIndex,
                                              uint16_t bufferCount,
                                              std::shared_ptr<frame::GevDevice> settings,
                                              gvsp::ResendSender resend, uint32_t& error) {
    if (start.payloadSize == 0 || start.payloadSize > frame::ImageMemory::kMaxImageSize ||
        start.packetDataSize == 0 || packetsOf(start) > kMostPackets || bufferCount == 0 ||
        bufferCount > gvsp::kMaxRingEntries || !settings) {
        error = filterdriver::kErrorInvalidParameter;
        return nullptr;
    }
    prepare(*settings, start);
    std::unique_ptr<RingStream> s;
    try {
        s.reset(new RingStream(start, settings, std::move(resend)));
    } catch (const std::bad_alloc&) {
        error = filterdriver::kErrorNotEnoughMemory;
        return nullptr;
    }
    // An entry's buffer is written only for an image whose lines must be taken apart, and then
    // in full before it is read: the others cost no memory.
    s->images_ = gvsp::ImageRing::create(bufferCount, s->index_, {}, settings->counters,
                                         gvsp::RingBuffers::Untouched);
    try {
        if (s->images_)
            s->placements_ = std::make_unique<PacketPlacements>(bufferCount, s->index_);
    } catch (const std::bad_alloc&) {
        s->placements_.reset();
    }
    if (!s->images_ || !s->placements_) {
        error = filterdriver::kErrorNotEnoughMemory;
        return nullptr;
    }
    if (!s->stop_.isValid()) {
        error = filterdriver::kErrorGeneralFailure;
        return nullptr;
    }
    s->packets_ = PacketRing::open(ringFor(start, interfaceIndex, bufferCount), error);
    if (!s->packets_)
        return nullptr;
    if (!s->thread_.start([raw = s.get()] { raw->run(); }, platform::ThreadPriority::Highest)) {
        error = filterdriver::kErrorGeneralFailure;
        return nullptr;
    }
    error = 0;
    return s;
}

RingStream::~RingStream() {
    stop();
}

void RingStream::stop() {
    settings_->acquisitionStopped = 1;
    stop_.raise();
    thread_.join();
}

void RingStream::run() {
    gvsp::BlockAssembler assembler(*settings_, *images_, index_, resend_);
    uint64_t block = 0;  // the ring block of the datagram being fed
    assembler.placePayloadsWith(
        [&](gvsp::RingEntry& entry, uint32_t packet, std::span<const uint8_t> data) {
            placements_->place(entry, packet, data, block);
        });
    const size_t longest = gvsp::kExtendedHeaderSize + size_t{index_.packetDataSize()};
    FramePacing pacing;
    const PacketRing::DatagramSink toAssembler = [&](std::span<const uint8_t> datagram,
                                                     uint64_t inBlock, int64_t receivedNs) {
        block = inBlock;
        pacing.onDatagram(datagram, receivedNs);
        if (datagram.size() <= longest) {
            assembler.onDatagram(datagram);
            return;
        }
        // Longer than any packet of the stream: datagrams a sender on this host handed to the
        // kernel in one piece (UDP segmentation), which the tap sees before they are cut apart.
        // They are cut at the stream's packet size, as the UDP stack cuts them.
        const size_t segment = (gvsp::carriesExtendedIds(datagram) ? gvsp::kExtendedHeaderSize
                                                                   : gvsp::kStandardHeaderSize) +
                               index_.packetDataSize();
        for (size_t at = 0; at < datagram.size(); at += segment)
            assembler.onDatagram(datagram.subspan(at, std::min(segment, datagram.size() - at)));
    };
    BlockWait blockWait(packets_->socket(), stop_);
    int64_t lastBlockNs = platform::monotonicNs();
    while (!stop_.raised()) {
        // Nearly every block is held for images not yet read, and the kernel may have none to
        // fill: the blocks are looked at again soon, as the reads free them.
        const bool crowded = packets_->held() + 2 > packets_->blockCount();
        (void)blockWait.wait(crowded ? kCrowded : kQuiet);
        if (stop_.raised())
            break;
        const int64_t now = platform::monotonicNs();
        if (packets_->drain(toAssembler) != 0) {
            lastBlockNs = now;
        } else if (now - lastBlockNs >= kQuietNs) {
            assembler.onTimeout();
            lastBlockNs = now;
        }
        packets_->releaseBefore(placements_->oldestNeeded(*images_, packets_->walkedEnd()));
        // In the middle of a frame: what the kernel hands over meanwhile is taken in one go
        // shortly before the trailer is due (the next wait then returns at once).
        if (!crowded) {
            const auto pause = pacing.pause(platform::realtimeNs());
            if (pause.count() > 0)
                (void)gvsp::pauseUnlessStopped(stop_, pause);
        }
    }
    assembler.finish();
}

RingStream::Delivery RingStream::read(std::span<uint8_t> dest) {
    Delivery d;
    gvsp::RingEntry* e = images_->acquireForRead(imageTimeout_);
    if (e == nullptr) {
        d.error = filterdriver::kErrorSemaphoreTimeout;
        return d;
    }
    const auto bytes = static_cast<uint32_t>(std::min<size_t>(dest.size(), index_.payloadSize()));
    if (e->sizeX == kNotAnImage) {
        placements_->gather(*e, dest.data(), std::min(e->sizeY, bytes));
    } else if (e->paddingX == 0 && e->trailerSizeY >= e->sizeY) {
        placements_->gather(*e, dest.data(), bytes);
    } else {
        // Lines to take apart: put together first, then copied as the socket path copies.
        placements_->gather(*e, e->data, index_.payloadSize());
        gvsp::copyImageData(*settings_, *e, bytes, dest.data());
    }
    gvsp::fillHeader(*e, d.header);
    d.handedOverNs = e->handedOverNs;
    d.delivered = true;
    d.error = e->status == GEV_STATUS_SUCCESS ? 0 : filterdriver::kErrorGeneralFailure;
    (void)images_->release(e);
    return d;
}

}  // namespace kavro::filterengine
