#include "gvsp/secure_receiver.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "frame/log.h"
#include "gvsp/payload_admission.h"
#include "gvsp/receiver.h"
#include "gvsp/stream_wait.h"
#include "platform/clock.h"

namespace kavro::gvsp {

namespace {
constexpr uint8_t kLogInfo = GEV_LOG_PROTOCOL;
constexpr uint8_t kLogWarning = GEV_LOG_STREAM_WARNINGS;
constexpr uint8_t kLogError = GEV_LOG_STREAM_ERRORS;
constexpr uint32_t kNotAnImage = 0xFFFFFFFF;

// All payload packets and the leader came.
bool whole(const RingEntry& e) {
    return e.missingPackets == 0 && e.leaderSeen;
}

// A block is complete here when all its packets came; what it carries may still be refused
// (multi-part) or cut (a packet longer than its place).
uint16_t blockStatus(const RingEntry& e) {
    if (e.multiPart)
        return GEV_STATUS_NOT_SUPPORTED;
    return e.overlong ? GEV_STATUS_IMAGE_INCOMPLETE : GEV_STATUS_SUCCESS;
}
}  // namespace

SecureAssembler::SecureAssembler(frame::GevDevice& device, ImageRing& ring,
                                 const PacketIndex& index, ResendSender resend)
    : device_(device), ring_(ring), index_(index), resend_(std::move(resend)) {
    // Until the first datagram tells the id mode, the device's version suggests it.
    ids_.setExtended(device.gevVersionMajor >= 2);
}

void SecureAssembler::callBack() {
    if (const GevSecureTransferCallback callback = device_.secureCallback.load())
        callback(device_.deviceIndex);
}

void SecureAssembler::start() {
    callBack();
}

bool SecureAssembler::mayLeave() const {
    return device_.acquisitionStopped.load() != 0 && (current_ == nullptr || rangeWarning_);
}

std::optional<uint32_t> SecureAssembler::firstMissing() const {
    if (current_ == nullptr)
        return std::nullopt;
    if (!current_->leaderSeen)
        return 0;  // the leader is asked for as packet 0
    for (uint32_t p = 1; p <= current_->packetCount; ++p) {
        if (current_->packetMap[p] == kNotReceived)
            return p;
    }
    return std::nullopt;
}

void SecureAssembler::beforeWait() {
    // After a stop nothing more is asked: a camera that keeps answering would otherwise keep
    // the receiver from ever seeing the quiet time-out that ends it.
    if (current_ == nullptr || !resendMode_ || whole(*current_) ||
        device_.acquisitionStopped.load() != 0) {
        return;
    }
    const auto missing = firstMissing();
    if (!missing)
        return;
    const uint32_t p = *missing;
    const uint64_t id = current_->blockId;
    if (resend_ && resend_(id, p, p, ids_.extended())) {
        ++current_->resendRequested;
    } else if (logs(kLogError)) {
        frame::gevLog(device_, "[ERROR] - Can't send packet resend command");
    }
    if (logs(kLogInfo)) {
        frame::gevLogf(device_, "[INFO] - Packet resend [BlockID %lld] -> %d",
                       static_cast<long long>(id), static_cast<int>(p));
    }
}

void SecureAssembler::onTimeout() {
    if (current_ == nullptr)
        return;
    if (!whole(*current_)) {
        resendMode_ = true;
    } else {
        complete(true);
    }
    if (logs(kLogWarning))
        frame::gevLog(device_, "[WARNING] - Trailer is missing.");
}

void SecureAssembler::onDatagram(std::span<const uint8_t> datagram) {
    if (datagram.size() < kStandardHeaderSize)
        return;
    // Status 0 and the resent-packet status pass, as on the normal path.
    const uint16_t status = static_cast<uint16_t>((datagram[0] << 8) | datagram[1]);
    if ((status & kStatusIgnoredBits) != 0)
        return;
    // The first datagram fixes the id mode (a camera may stream 16-bit ids whatever its
    // version); later datagrams of the other form would be read at the wrong offsets: dropped.
    if (!idModeKnown_) {
        ids_.setExtended(carriesExtendedIds(datagram));
        idModeKnown_ = true;
    }
    const auto header = parseHeader(datagram, ids_.extended());
    if (!header)
        return;
    const auto body = datagram.subspan(header->size());
    switch (header->format) {
        case kFormatLeader:
            onLeader(*header, body);
            break;
        case kFormatTrailer:
            onTrailer(*header, body);
            break;
        case kFormatPayload:
            onPayload(*header, body, false);
            break;
        case kFormatPayloadMultiPart:
            onPayload(*header, body, true);
            break;
        default:
            break;
    }
}

void SecureAssembler::countMissingBlocks(uint64_t id) {
    if (!haveLastLeader_)
        return;
    const uint64_t expected = ids_.next(lastLeaderId_);
    // Nothing skipped, or behind: a late or repeated leader.
    if (!ids_.isAhead(expected, id))
        return;
    const uint64_t gap = ids_.distance(expected, id);
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(gap, 0xFFFFFFFFu));
    auto& c = device_.counters;
    c.framesTotal += n;
    c.framesLost += n;
    c.packetsLost +=
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t{n} * index_.packets(), 0xFFFFFFFFu));
    if (!logs(kLogError))
        return;
    if (n == 1) {
        frame::gevLogf(device_, "[ERROR] - Missing block: %lld", static_cast<long long>(expected));
    } else {
        frame::gevLogf(device_, "[ERROR] - Missing blocks: %lld -> %lld",
                       static_cast<long long>(expected),
                       static_cast<long long>((id - 1) & ids_.mask()));
    }
}

void SecureAssembler::onLeader(const PacketHeader& h, std::span<const uint8_t> body) {
    const auto leader = parseLeader(body);
    if (!leader)
        return;
    const uint64_t id = h.blockId & ids_.mask();
    // The leader of a block begun without it: its packets stay, its geometry comes now.
    if (current_ != nullptr && !current_->leaderSeen && id == current_->blockId) {
        fillGeometry(*current_, *leader, id);
        // Packets that came before the leader count; a raw block's shorter length may leave
        // some of them beyond its end.
        if (current_->missingPackets != 0) {
            current_->missingPackets = static_cast<uint32_t>(
                std::count(current_->packetMap.get() + 1,
                           current_->packetMap.get() + current_->packetCount + 1, kNotReceived));
        }
        if (resendMode_)
            ++current_->resendReceived;
        if (resendMode_ && whole(*current_))
            complete(true);
        return;
    }
    // A repeated leader must not restart the block it belongs to, nor a late one (asked for
    // again before its block was replaced) the block after it.
    if (haveLastLeader_ && ids_.distance(id, lastLeaderId_) <= BlockAssembler::kStaleBlockWindow) {
        return;
    }
    if (!beginBlock(id))
        return;
    fillGeometry(*current_, *leader, id);
    if (leader->timestamp <= lastTimestamp_ && lastTimestamp_ != 0 && logs(kLogWarning)) {
        frame::gevLog(device_,
                      "[WARNING] - Current image timestamp is smaller or equal as last one");
    }
    lastTimestamp_ = leader->timestamp;
}

bool SecureAssembler::beginBlock(uint64_t id) {
    auto& counters = device_.counters;
    if (counters.fpsWindowStart.load() == 0)
        counters.fpsWindowStart = static_cast<uint64_t>(platform::monotonicNs());
    skipBlock_ = false;
    countMissingBlocks(id);
    lastLeaderId_ = id;
    haveLastLeader_ = true;

    // The block before: complete but its trailer never came, or replaced while incomplete.
    if (current_ != nullptr) {
        if (whole(*current_)) {
            complete(false);
        } else {
            dropCurrent();
        }
    }
    rangeWarning_ = false;
    resendMode_ = false;
    RingEntry* e = next_;
    next_ = nullptr;
    if (e == nullptr)
        e = ring_.acquireForWrite(kLeaderWait);
    if (e == nullptr) {
        counters.framesTotal += 1;
        counters.framesLost += 1;
        counters.packetsLost += index_.packets();
        if (logs(kLogWarning))
            frame::gevLog(device_, "[WARNING] - Can't get buffer for writing. Read too slow");
        skipBlock_ = true;
        return false;
    }
    current_ = e;
    e->beginBlock(id, index_);
    return true;
}

bool SecureAssembler::beginWithoutLeader(uint64_t id) {
    // Only a block after the last one begun (or skipped): packets of a block replaced or
    // dropped before are late, not the start of another.
    if (haveLastLeader_ && !ids_.isAhead(lastLeaderId_, id))
        return false;
    if (!beginBlock(id))
        return false;
    RingEntry& e = *current_;
    if (logs(kLogWarning)) {
        frame::gevLogf(device_, "[WARNING] - [BlockID %lld] Leader is missing, asked again.",
                       static_cast<long long>(id));
    }
    // Asked for once now; if the block's trailer (or a time-out) still finds it missing, it is
    // asked for again before every wait, like any missing packet.
    if (resend_ && resend_(id, 0, 0, ids_.extended())) {
        ++e.resendRequested;
    } else if (logs(kLogError)) {
        frame::gevLog(device_, "[ERROR] - Can't send packet resend command");
    }
    return true;
}

void SecureAssembler::fillGeometry(RingEntry& e, const Leader& l, uint64_t blockId) {
    const uint32_t n = index_.packets();
    const uint32_t payloadSize = index_.payloadSize();
    e.blockId = blockId;
    e.status = 0;
    e.timestamp = l.timestamp;
    e.payloadType = l.payloadType;
    e.pixelFormat = e.offsetX = e.offsetY = 0;
    e.paddingX = e.paddingY = 0;
    e.chunkLength = e.chunkLayoutId = 0;
    e.packetCount = n;
    e.missingPackets = n;
    e.blockBytes = payloadSize;
    e.lengthKnown = false;
    e.leaderSeen = true;
    e.chunkOffset = e.chunkBytes = 0;
    e.image = isImagePayload(l.payloadType);
    if (e.image) {
        e.pixelFormat = l.pixelFormat;
        e.sizeX = l.sizeX;
        e.sizeY = l.sizeY;
        e.trailerSizeY = l.sizeY;
        e.offsetX = l.offsetX;
        e.offsetY = l.offsetY;
        e.paddingX = l.paddingX;
        e.paddingY = l.paddingY;
        if (device_.geometry.fromDescription) {
            checkDescribedHeader(e, blockId);
        } else if (l.payloadType != kPayloadImageWithChunks) {
            checkPayloadSize(e, blockId);
        }
        if (l.payloadType == kPayloadImageWithChunks) {
            // The chunks follow the image, up to the block's end or the trailer's chunk length.
            const uint64_t line = uint64_t{e.sizeX} * bytesPerPixel(e.pixelFormat);
            e.chunkOffset = (line + e.paddingX) * e.sizeY;
            e.chunkBytes = payloadSize > e.chunkOffset ? payloadSize - e.chunkOffset : 0;
        }
        return;
    }
    // Blocks that are not images carry no geometry to check.
    e.sizeX = kNotAnImage;
    e.trailerSizeY = 0;
    switch (l.payloadType) {
        case kPayloadRawData:
            // A raw block of fewer bytes than the payload size needs fewer packets.
            e.sizeY = std::min(l.sizeX, payloadSize);
            e.blockBytes = e.sizeY;
            e.packetCount = index_.packetsFor(e.sizeY);
            e.missingPackets = e.packetCount;
            break;
        case kPayloadChunkData:
        case kPayloadExtendedChunk:
        case kPayloadDeviceSpecific:
        case kPayloadDeviceSpecificChunks:
            e.sizeY = payloadSize;
            break;
        default:
            // A type this library does not describe: complete with whatever arrives.
            e.sizeX = e.sizeY = 0;
            e.missingPackets = 0;
            break;
    }
}

void SecureAssembler::checkDescribedHeader(RingEntry& e, uint64_t blockId) {
    const auto& g = device_.geometry;
    if (e.sizeX == g.imageWidth && e.sizeY == g.imageHeight && e.pixelFormat == g.imagePixelFormat)
        return;
    if (logs(kLogError)) {
        frame::gevLogf(device_,
                       "[ERROR] - Stream header wrong (%lld):", static_cast<long long>(blockId));
        frame::gevLogf(device_, "[ERROR] - Width expected -> %d, actual -> %d",
                       static_cast<int>(g.imageWidth), static_cast<int>(e.sizeX));
        frame::gevLogf(device_, "[ERROR] - Height expected -> %d, actual -> %d",
                       static_cast<int>(g.imageHeight), static_cast<int>(e.sizeY));
        frame::gevLogf(device_, "[ERROR] - Pixelformat expected -> 0x%08X, actual -> 0x%08X",
                       g.imagePixelFormat, e.pixelFormat);
        frame::gevLogf(device_, "[ERROR] - Padding X actual -> %d", static_cast<int>(e.paddingX));
        frame::gevLogf(device_, "[ERROR] - Padding Y actual -> %d", static_cast<int>(e.paddingY));
    }
    e.sizeX = g.imageWidth;
    e.sizeY = g.imageHeight;
    e.pixelFormat = g.imagePixelFormat;
    e.paddingX = 0;
    e.paddingY = 0;
}

void SecureAssembler::checkPayloadSize(RingEntry& e, uint64_t blockId) {
    // Without a device description only the payload size is known: the leader's geometry must
    // fill it (with or without its paddings).
    const uint32_t payloadSize = index_.payloadSize();
    const uint64_t line = uint64_t{e.sizeX} * bytesPerPixel(e.pixelFormat);
    const uint64_t plain = line * e.sizeY;
    const uint64_t padded = (line + e.paddingX) * e.sizeY;
    if (plain == payloadSize || padded == payloadSize || padded + e.paddingY == payloadSize)
        return;
    if (logs(kLogError)) {
        frame::gevLogf(device_,
                       "[ERROR] - Stream header wrong (%lld):", static_cast<long long>(blockId));
        frame::gevLogf(device_, "[ERROR] - Payload size expected -> %d, actual -> %d",
                       static_cast<int>(payloadSize), static_cast<int>(plain));
    }
    e.paddingX = 0;
    e.paddingY = 0;
}

void SecureAssembler::onTrailer(const PacketHeader& h, std::span<const uint8_t> body) {
    if (!isCurrent(h.blockId & ids_.mask()))
        return;
    const auto trailer = parseTrailer(body);
    if (trailer && trailer->hasChunk && current_->chunkOffset != 0) {
        current_->chunkLength = trailer->chunkLength;
        current_->chunkLayoutId = trailer->chunkLayoutId;
        current_->chunkBytes = std::min<uint64_t>(current_->chunkBytes, trailer->chunkLength);
    }
    if (!whole(*current_)) {
        resendMode_ = true;
        return;
    }
    complete(false);
}

bool SecureAssembler::isCurrent(uint64_t id) {
    if (current_ != nullptr && id == current_->blockId)
        return !skipBlock_;
    // A packet of a block whose leader was lost begins it.
    return beginWithoutLeader(id);
}

void SecureAssembler::onPayload(const PacketHeader& h, std::span<const uint8_t> data,
                                bool multiPart) {
    if (!isCurrent(h.blockId & ids_.mask()))
        return;
    RingEntry& e = *current_;
    const uint32_t n = index_.packets();
    const uint32_t p = h.packetId;
    if (p == 0)
        return;
    if (p > n) {
        if (!rangeWarning_) {
            if (logs(kLogWarning)) {
                frame::gevLogf(device_,
                               "[WARNING] - [BlockID %lld] Packet number is larger than maximum "
                               "(%d > %d)",
                               static_cast<long long>(e.blockId), static_cast<int>(p),
                               static_cast<int>(n));
            }
            rangeWarning_ = true;
        }
        return;
    }
    if (e.packetMap[p] != kNotReceived)
        return;  // already stored: a duplicate counts once
    // Only the bytes that arrived, at most the packet's slot; the rest of the slot is cleared.
    const uint32_t slot = index_.length(p);
    data = admitPayload(device_, e, p, slot, data, multiPart);
    const size_t copied = std::min<size_t>(data.size(), slot);
    uint8_t* dst = e.data + index_.offset(p);
    if (copied != 0)
        std::memcpy(dst, data.data(), copied);
    if (copied < slot)
        std::memset(dst + copied, 0, slot - copied);
    e.packetMap[p] = kReceived;
    if (p <= e.packetCount && e.missingPackets != 0)
        --e.missingPackets;
    if (resendMode_)
        ++e.resendReceived;
    if (resendMode_ && whole(e))
        complete(true);
}

void SecureAssembler::complete(bool summaryLine) {
    RingEntry* e = current_;
    current_ = nullptr;
    if (e == nullptr)
        return;
    e->status = blockStatus(*e);
    auto& counters = device_.counters;
    counters.framesTotal += 1;
    if (summaryLine && logs(kLogInfo)) {
        frame::gevLogf(device_,
                       "[INFO] - Packet resend [BlockID %lld] -> requested: %d, received: %d "
                       "packets",
                       static_cast<long long>(e->blockId), static_cast<int>(e->resendRequested),
                       static_cast<int>(e->resendReceived));
    }
    ring_.handOver(e);
    resendMode_ = true;
    // Every completed block counts against the frame count, however it was completed.
    const uint32_t limit = device_.geometry.frameCountLimit;
    if (limit != 0 && counters.framesTotal.load() >= limit) {
        device_.acquisitionStopped = 1;
        exit_ = true;
        return;
    }
    if (next_ != nullptr)
        return;
    next_ = ring_.acquireForWrite(kNextBlockWait);
    if (next_ != nullptr) {
        callBack();
    } else if (logs(kLogError)) {
        frame::gevLog(device_, "[ERROR] - Can't get buffer for writing.");
    }
}

void SecureAssembler::dropCurrent() {
    // Replaced by the next leader while packets were still missing: never handed over, but
    // counted as lost, and its entry goes back to the ring for later blocks.
    RingEntry* e = current_;
    current_ = nullptr;
    if (e == nullptr)
        return;
    auto& counters = device_.counters;
    counters.framesTotal += 1;
    counters.framesLost += 1;
    counters.packetsLost += e->missingPackets;
    ring_.discard(e);
}

void SecureAssembler::finish() {
    if (current_ != nullptr && whole(*current_)) {
        RingEntry* e = current_;
        current_ = nullptr;
        e->status = blockStatus(*e);
        device_.counters.framesTotal += 1;
        ring_.handOver(e);
    }
    ring_.discard(current_);
    current_ = nullptr;
    ring_.discard(next_);
    next_ = nullptr;
}

namespace {

void receiveSecure(frame::GevDevice& device, Acquisition& acquisition) {
    const uint32_t timeoutMs = std::max<uint32_t>(device.streamTimeout.load(), 1);
    const auto timeout = std::chrono::microseconds(int64_t{timeoutMs} * 1000);
    std::vector<uint8_t> buffer(size_t{acquisition.index.packetDataSize()} + 100);
    SecureAssembler assembler(device, *acquisition.ring, acquisition.index,
                              [&](uint64_t blockId, uint32_t first, uint32_t last, bool extended) {
                                  return sendPacketResend(device, extended, 0, blockId, first,
                                                          last) == GEV_STATUS_SUCCESS;
                              });
    assembler.start();
    const StopSignal& stop = acquisition.stop;
    const platform::UniqueSocket& socket = acquisition.socket;
    // Until the stop, every wait also watches the stop signal; after it, the block in progress
    // may still complete within the stop's grace.
    StopGrace grace;
    while (!assembler.exitRequested()) {
        assembler.beforeWait();
        StreamWait ready =
            stop.raised() ? StreamWait::Stopped : waitForDatagram(socket, stop, timeout);
        if (ready == StreamWait::Stopped) {
            const auto wait = grace.nextWait(timeout);
            if (assembler.mayLeave() || wait.count() == 0)
                break;
            switch (platform::waitReadable(socket, wait)) {
                case platform::WaitResult::Ready:
                    ready = StreamWait::Datagram;
                    break;
                case platform::WaitResult::TimedOut:
                    ready = StreamWait::TimedOut;
                    break;
                case platform::WaitResult::Failed:
                    ready = StreamWait::Failed;
                    break;
            }
        }
        if (ready != StreamWait::Datagram) {
            assembler.onTimeout();
            if (stop.raised())
                break;
            if (ready == StreamWait::Failed)
                (void)pauseUnlessStopped(stop, timeout);
            continue;
        }
        const auto n = platform::tryReceiveFrom(socket, buffer);
        if (stop.raised() && assembler.mayLeave())
            break;
        if (n)
            assembler.onDatagram(std::span<const uint8_t>(buffer.data(), *n));
    }
    assembler.finish();
}

}  // namespace

bool startSecureReceiver(const std::shared_ptr<frame::GevDevice>& device,
                         const std::shared_ptr<Acquisition>& acquisition) {
    return acquisition->receiver.start(
        [device, acquisition] { receiveSecure(*device, *acquisition); },
        platform::ThreadPriority::Highest);
}

}  // namespace kavro::gvsp
