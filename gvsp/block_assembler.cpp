#include "gvsp/block_assembler.h"

#include <algorithm>
#include <cstring>

#include "frame/log.h"
#include "gvsp/payload_admission.h"
#include "platform/clock.h"

namespace kavro::gvsp {

namespace {
constexpr uint8_t kLogInfo = GEV_LOG_PROTOCOL;
constexpr uint8_t kLogWarning = GEV_LOG_STREAM_WARNINGS;
constexpr uint8_t kLogError = GEV_LOG_STREAM_ERRORS;
constexpr uint32_t kNotAnImage = 0xFFFFFFFF;
}  // namespace

BlockAssembler::BlockAssembler(frame::GevDevice& device, ImageRing& ring, const PacketIndex& index,
                               ResendSender resend)
    : device_(device), ring_(ring), index_(index), resend_(std::move(resend)) {
    ids_.setExtended(device.gevVersionMajor >= 2);
}

bool BlockAssembler::mayLeave() const {
    return device_.acquisitionStopped.load() != 0 &&
           (current_ == nullptr || rangeWarning_ || currentHeld_);
}

void BlockAssembler::onDatagram(std::span<const uint8_t> datagram) {
    if (datagram.size() < kStandardHeaderSize)
        return;
    const size_t headerSize = carriesExtendedIds(datagram) && datagram.size() >= kExtendedHeaderSize
                                  ? kExtendedHeaderSize
                                  : kStandardHeaderSize;
    onDatagram(datagram.first(headerSize), datagram.subspan(headerSize));
}

std::optional<BlockAssembler::PayloadSlot> BlockAssembler::payloadSlot(uint32_t ahead) const {
    if (current_ == nullptr || currentHeld_ || current_->multiPart)
        return std::nullopt;
    const uint64_t p = uint64_t{nextPacket_} + ahead;
    if (p > current_->packetCount || current_->packetMap[p] == kReceived)
        return std::nullopt;
    const uint32_t packet = static_cast<uint32_t>(p);
    return PayloadSlot{
        currentBlockId_, packet, {current_->data + index_.offset(packet), index_.length(packet)}};
}

void BlockAssembler::onDatagram(std::span<const uint8_t> header, std::span<const uint8_t> body) {
    if (header.size() < kStandardHeaderSize)
        return;
    const auto datagram = header;
    const uint16_t status = static_cast<uint16_t>((datagram[0] << 8) | datagram[1]);
    if ((status & kStatusIgnoredBits) != 0)
        return;
    if (idMode_ == 0) {
        ids_.setExtended(carriesExtendedIds(datagram));
        idMode_ = ids_.extended() ? 2 : 1;
        if (idMode_ != device_.gevVersionMajor && logs(kLogWarning)) {
            frame::gevLogf(device_,
                           "[WARNING] - Version mismatch. GEV Version: %d, GVSP Version (Extended "
                           "ID): %d",
                           device_.gevVersionMajor, idMode_);
        }
    }
    // A datagram of the other id mode would be read at the wrong offsets: dropped.
    const auto parsed = parseHeader(datagram, ids_.extended());
    if (!parsed || datagram.size() != parsed->size())
        return;
    switch (parsed->format) {
        case kFormatLeader:
            onLeader(*parsed, body);
            break;
        case kFormatTrailer:
            onTrailer(*parsed, body);
            break;
        case kFormatPayload:
            onPayload(*parsed, body, false);
            break;
        case kFormatPayloadMultiPart:
            onPayload(*parsed, body, true);
            break;
        default:
            break;
    }
}

RingEntry* BlockAssembler::takeEntry(uint64_t blockId) {
    RingEntry* e = ring_.acquireForWrite(kWriteWait);
    if (e == nullptr)
        return nullptr;
    e->beginBlock(blockId, index_);
    return e;
}

void BlockAssembler::setBlockBytes(RingEntry& e, uint64_t bytes, bool lengthKnown) {
    e.blockBytes = std::min<uint64_t>(bytes, index_.payloadSize());
    e.lengthKnown = lengthKnown;
    e.packetCount = index_.packetsFor(e.blockBytes);
    uint32_t missing = 0;
    for (uint32_t p = 1; p <= e.packetCount; ++p)
        missing += e.packetMap[p] != kReceived ? 1 : 0;
    e.missingPackets = missing;
}

void BlockAssembler::holdToDescribedGeometry(RingEntry& e, uint64_t blockId) {
    const auto& g = device_.geometry;
    const bool log = logs(kLogError);
    bool differed = false;
    if (e.sizeX != g.imageWidth) {
        if (log) {
            frame::gevLogf(
                device_, "[ERROR] - Stream header wrong (%lld): Width expected -> %d, actual -> %d",
                static_cast<long long>(blockId), static_cast<int>(g.imageWidth),
                static_cast<int>(e.sizeX));
        }
        e.sizeX = g.imageWidth;
        differed = true;
    }
    if (e.sizeY != g.imageHeight) {
        if (log) {
            frame::gevLogf(
                device_,
                "[ERROR] - Stream header wrong (%lld): Height expected -> %d, actual -> %d",
                static_cast<long long>(blockId), static_cast<int>(g.imageHeight),
                static_cast<int>(e.sizeY));
        }
        e.sizeY = g.imageHeight;
        e.trailerSizeY = g.imageHeight;
        differed = true;
    }
    if (e.pixelFormat != g.imagePixelFormat) {
        if (log) {
            frame::gevLogf(device_,
                           "[ERROR] - Stream header wrong (%lld): Pixelformat expected -> 0x%08X, "
                           "actual -> 0x%08X",
                           static_cast<long long>(blockId), g.imagePixelFormat, e.pixelFormat);
        }
        e.pixelFormat = g.imagePixelFormat;
        differed = true;
    }
    if (differed) {
        e.paddingX = 0;
        e.paddingY = 0;
    }
}

void BlockAssembler::fillFromLeader(RingEntry& e, const Leader& l, uint64_t blockId) {
    const uint32_t payloadSize = index_.payloadSize();
    e.blockId = blockId;
    e.timestamp = l.timestamp;
    e.payloadType = l.payloadType;
    e.leaderSeen = true;
    if (isImagePayload(l.payloadType)) {
        e.pixelFormat = l.pixelFormat;
        e.sizeX = l.sizeX;
        e.sizeY = l.sizeY;
        e.trailerSizeY = l.sizeY;
        e.offsetX = l.offsetX;
        e.offsetY = l.offsetY;
        e.paddingX = l.paddingX;
        e.paddingY = l.paddingY;
        e.image = true;
        if (device_.geometry.fromDescription)
            holdToDescribedGeometry(e, blockId);
        if (l.payloadType == kPayloadImageWithChunks) {
            // The chunks follow the image; their length comes with the trailer, until then the
            // payload size bounds the block.
            const uint64_t line = uint64_t{e.sizeX} * bytesPerPixel(e.pixelFormat);
            e.chunkOffset = (line + e.paddingX) * e.sizeY;
            setBlockBytes(e, payloadSize, false);
            return;
        }
        if (device_.geometry.fromDescription) {
            const uint64_t line = uint64_t{e.sizeX} * bytesPerPixel(e.pixelFormat);
            const uint64_t padded = (line + e.paddingX) * e.sizeY;
            setBlockBytes(e, padded, padded <= payloadSize);
            return;
        }
        const uint64_t line = uint64_t{l.sizeX} * bytesPerPixel(l.pixelFormat);
        const uint64_t plain = line * l.sizeY;
        const uint64_t padded = (line + l.paddingX) * l.sizeY;
        if (plain == payloadSize || padded == payloadSize || padded + l.paddingY == payloadSize) {
            setBlockBytes(e, padded, true);
        } else {
            if (logs(kLogError)) {
                frame::gevLogf(device_, "[ERROR] - Stream header wrong (%lld):",
                               static_cast<long long>(blockId));
                frame::gevLogf(device_, "[ERROR] - Payload size expected -> %d, actual -> %d",
                               static_cast<int>(payloadSize), static_cast<int>(plain));
            }
            e.paddingX = 0;
            e.paddingY = 0;
            setBlockBytes(e, plain, plain <= payloadSize);
        }
    } else {
        e.image = false;
        e.pixelFormat = e.offsetX = e.offsetY = 0;
        e.paddingX = e.paddingY = 0;
        e.chunkLength = e.chunkLayoutId = 0;
        switch (l.payloadType) {
            case kPayloadRawData:
                e.sizeX = kNotAnImage;
                e.sizeY = l.sizeX;
                setBlockBytes(e, l.sizeX, l.sizeX <= payloadSize);
                break;
            case kPayloadChunkData:
            case kPayloadExtendedChunk:
            case kPayloadDeviceSpecific:
            case kPayloadDeviceSpecificChunks:
                // The length comes with the trailer; until then the payload size bounds it.
                e.sizeX = kNotAnImage;
                e.sizeY = payloadSize;
                setBlockBytes(e, payloadSize, false);
                break;
            default:
                // A type this library does not describe: whatever arrives is delivered as it is.
                e.sizeX = e.sizeY = 0;
                setBlockBytes(e, payloadSize, false);
                e.missingPackets = 0;
                break;
        }
    }
}

void BlockAssembler::onLeader(const PacketHeader& h, std::span<const uint8_t> body) {
    const auto leader = parseLeader(body);
    if (!leader)
        return;
    auto& counters = device_.counters;
    if (counters.fpsWindowStart.load() == 0) {
        counters.fpsWindowStart = static_cast<uint64_t>(platform::monotonicNs());
    }
    const uint64_t id = h.blockId & ids_.mask();

    if (expectedBlockId_ != 0) {
        // A copy of a leader already seen (a duplicate, or one overtaken by later blocks).
        const uint64_t behind = ids_.distance(id, expectedBlockId_);
        if (behind >= 1 && behind <= kStaleBlockWindow)
            return;
    }
    // Packets of a block whose own leader never came: that block can't be described.
    if (early_ != nullptr && early_->blockId != id)
        dropEarly();

    if (expectedBlockId_ != 0 && ids_.isAhead(expectedBlockId_, id)) {
        const uint64_t n = ids_.distance(expectedBlockId_, id);
        const uint32_t n32 = static_cast<uint32_t>(std::min<uint64_t>(n, 0xFFFFFFFFu));
        counters.framesTotal += n32;
        counters.framesLost += n32;
        counters.packetsLost += static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t{n32} * index_.packets(), 0xFFFFFFFFu));
        if (logs(kLogError)) {
            if (n == 1) {
                frame::gevLogf(device_, "[ERROR] - Missing frame: %lld",
                               static_cast<long long>(expectedBlockId_));
            } else {
                frame::gevLogf(device_, "[ERROR] - Missing frames: %lld -> %lld",
                               static_cast<long long>(expectedBlockId_),
                               static_cast<long long>((id - 1) & ids_.mask()));
            }
        }
    }
    currentBlockId_ = id;
    expectedBlockId_ = ids_.next(id);

    // The block before keeps a chance to complete from late or resent packets: it waits in the
    // pending slot while it still misses packets, until the trailer of this block.
    if (current_ != nullptr) {
        if (pending_ != nullptr)
            handOver(pending_, 0);
        retireCurrent();
    } else if (pending_ != nullptr && ids_.next(pending_->blockId) != id) {
        handOver(pending_, 0);
    }
    const bool fromEarly = early_ != nullptr;
    if (fromEarly) {
        current_ = early_;
        early_ = nullptr;
        if (current_->packetMap[0] == kAskedAgain)
            ++current_->resendReceived;
    }
    if (current_ == nullptr) {
        current_ = takeEntry(id);
        if (current_ == nullptr) {
            counters.framesTotal += 1;
            counters.framesLost += 1;
            if (logs(kLogWarning)) {
                frame::gevLog(device_, "[WARNING] - Can't get buffer for writing. Read too slow");
            }
            return;
        }
    }
    fillFromLeader(*current_, *leader, id);

    if (leader->timestamp <= lastTimestamp_ && lastTimestamp_ != 0 && logs(kLogWarning)) {
        frame::gevLog(device_,
                      "[WARNING] - Current image timestamp is smaller or equal as last one");
    }
    lastTimestamp_ = leader->timestamp;
    rangeWarning_ = false;
    expectedPacket_ = 1;
    nextPacket_ = 1;
    if (!fromEarly) {
        current_->resendRequested = current_->resendReceived = current_->resendCount = 0;
        return;
    }
    // Its packets so far came before it: gaps are judged from the last of them on.
    for (uint32_t p = current_->packetCount; p >= 1; --p) {
        if (current_->packetMap[p] == kReceived) {
            expectedPacket_ = nextPacket_ = p + 1;
            break;
        }
    }
    if (earlyTrailer_) {
        const Trailer trailer = *earlyTrailer_;
        earlyTrailer_.reset();
        closeCurrent(trailer);
    }
}

void BlockAssembler::store(RingEntry& e, uint32_t p, std::span<const uint8_t> data,
                           bool multiPart) {
    if (p > e.packetCount)
        return;
    const uint8_t mark = e.packetMap[p];
    if (mark == kReceived)
        return;  // a duplicate: counted once
    const uint32_t slot = index_.length(p);
    data = admitPayload(device_, e, p, slot, data, multiPart);
    const uint64_t start = uint64_t{p - 1} * index_.packetDataSize();
    const uint64_t want =
        e.lengthKnown ? std::min<uint64_t>(slot, e.blockBytes > start ? e.blockBytes - start : 0)
                      : 0;
    // A packet shorter than the block says it must be leaves a hole, unless the trailer later
    // shortens the block to where the data ends; the hand-over decides.
    if (data.size() < want && !multiPart)
        e.validEnd = std::min<uint64_t>(e.validEnd, start + data.size());
    const size_t n = std::min<size_t>(data.size(), slot);
    if (placer_) {
        placer_(e, p, data.first(n));
    } else {
        uint8_t* dst = e.data + index_.offset(p);
        // A payload read straight into its place is there already.
        if (n != 0 && data.data() != dst)
            std::memmove(dst, data.data(), n);
        if (n < slot)
            std::memset(dst + n, 0, slot - n);
    }
    if (mark == kAskedAgain && device_.resendEnabled.load() != 0)
        ++e.resendReceived;
    e.packetMap[p] = kReceived;
    if (e.missingPackets != 0)
        --e.missingPackets;
}

void BlockAssembler::onPayload(const PacketHeader& h, std::span<const uint8_t> data,
                               bool multiPart) {
    const uint32_t n = index_.packets();
    const uint32_t p = h.packetId;
    const uint64_t id = h.blockId & ids_.mask();
    if (p == 0 || p > n) {
        if (p > n && !rangeWarning_) {
            if (logs(kLogWarning)) {
                frame::gevLogf(device_,
                               "[WARNING] - [BlockID %lld] Packet number is larger than maximum "
                               "(%d > %d)",
                               static_cast<long long>(currentBlockId_), static_cast<int>(p),
                               static_cast<int>(n));
            }
            rangeWarning_ = true;
        }
        return;
    }
    if (!multiPart && p != n && current_ != nullptr && current_->image &&
        data.size() != index_.packetDataSize() && !sizeWarning_) {
        if (logs(kLogError)) {
            frame::gevLogf(device_,
                           "[ERROR] -  [BlockID %lld] Packet size is not equal as the stream "
                           "channel packet size (SCPS). %d -> %d, %d",
                           static_cast<long long>(id), static_cast<int>(data.size()),
                           static_cast<int>(index_.packetDataSize()), static_cast<int>(p));
        }
        sizeWarning_ = true;
    }
    const bool resendOn = device_.resendEnabled.load() != 0;

    // Packets of the next block before its leader: the leader is late or lost. The block is
    // kept in the early slot; with resend on its leader (packet 0) is asked for at once.
    if (id == ids_.next(currentBlockId_)) {
        if (early_ == nullptr) {
            if (pending_ != nullptr)
                handOver(pending_, 0);
            retireCurrent();
            early_ = takeEntry(id);
            if (early_ == nullptr) {
                if (logs(kLogWarning)) {
                    frame::gevLog(device_,
                                  "[WARNING] - Can't get buffer for writing (1). Read too slow");
                }
                return;
            }
            if (resendOn && sendResend(id, 0, 0)) {
                early_->packetMap[0] = kAskedAgain;
                ++early_->resendCount;
                ++early_->resendRequested;
            }
        }
        store(*early_, p, data, multiPart);
        return;
    }

    if (pending_ != nullptr && id == pending_->blockId) {
        store(*pending_, p, data, multiPart);
        if (pending_->missingPackets == 0) {
            handOver(pending_, 2);
            releaseHeldCurrent();
        }
        return;
    }
    if (current_ == nullptr || id != currentBlockId_)
        return;
    nextPacket_ = std::max(nextPacket_, p + 1);

    if (resendOn && current_->packetMap[p] == kNotReceived) {
        const uint32_t first = device_.testResendFirst.load();
        const uint32_t count = device_.testResendCount.load();
        if (first != 0 && p >= first && p < first + count) {
            // Resend test: the packet is treated as lost and asked again.
            current_->packetMap[p] = kAskedAgain;
            ++current_->resendCount;
            ++current_->resendRequested;
            if (p == first + count - 1)
                (void)sendResend(current_->blockId, first, p);
            expectedPacket_ = std::max(expectedPacket_, p + 1);
            return;
        }
        askAgain(*current_, p);
        expectedPacket_ = std::max(expectedPacket_, p + 1);
    }
    store(*current_, p, data, multiPart);
}

void BlockAssembler::retireCurrent() {
    if (current_ == nullptr)
        return;
    if (current_->missingPackets == 0) {
        handOver(current_, 0);
        return;
    }
    // Its trailer did not come (or it waited behind the block before, its requests out): the
    // packets after the last one seen, lost with it, are asked for now.
    if (device_.resendEnabled.load() != 0 && !current_->outOfOrder)
        resendScan(*current_);
    currentHeld_ = false;
    pending_ = current_;
    current_ = nullptr;
}

void BlockAssembler::askAgain(RingEntry& e, uint32_t p) {
    const uint32_t window = device_.outOfOrderWindow.load();
    const uint32_t maxResend = device_.maxResend.load();
    const uint32_t expected = expectedPacket_;
    if (p > expected + window && e.resendCount < maxResend) {
        const uint32_t room = maxResend - e.resendCount;
        const uint32_t last = p - expected > room ? expected + room : p;  // one past the range
        if (sendResend(e.blockId, expected, last - 1)) {
            e.resendCount += last - expected;
            for (uint32_t q = expected; q < last; ++q) {
                if (e.packetMap[q] == kNotReceived) {
                    e.packetMap[q] = kAskedAgain;
                    ++e.resendRequested;
                }
            }
        }
    } else if (expected > window && p < expected - window) {
        if (logs(kLogWarning))
            frame::gevLog(device_, "[WARNING] - Packets out of order");
        e.outOfOrder = true;
    }
}

void BlockAssembler::resendScan(RingEntry& e) {
    const uint32_t maxResend = device_.maxResend.load();
    uint32_t first = 0;
    uint32_t last = 0;
    bool open = false;
    bool growing = false;
    const auto sendRun = [&] {
        if (e.resendCount < maxResend && sendResend(e.blockId, first, last)) {
            e.resendCount += last - first + 1;
            e.resendRequested += last - first + 1;
        }
        open = false;
    };
    for (uint32_t p = 1; p <= e.packetCount; ++p) {
        if (e.packetMap[p] == kNotReceived) {
            e.packetMap[p] = kAskedAgain;
            if (!open) {
                open = true;
                growing = true;
                first = last = p;
            } else if (growing && e.resendCount + (last - first + 1) < maxResend) {
                last = p;
            } else {
                growing = false;
            }
        } else if (open) {
            sendRun();
        }
    }
    if (open)
        sendRun();
}

bool BlockAssembler::sendResend(uint64_t blockId, uint32_t first, uint32_t last) {
    if (resend_ && resend_(blockId, first, last, ids_.extended()))
        return true;
    if (logs(kLogError))
        frame::gevLog(device_, "[ERROR] - Can't send packet resend command");
    return false;
}

void BlockAssembler::applyTrailer(RingEntry& e, const Trailer& t) {
    if (isImagePayload(t.payloadType) && e.image) {
        if (t.hasSizeY) {
            e.trailerSizeY = t.sizeY;
            if (t.sizeY < e.sizeY) {
                // A shorter image: the lines after its end are not part of the block.
                const uint64_t line = uint64_t{e.sizeX} * bytesPerPixel(e.pixelFormat) + e.paddingX;
                setBlockBytes(e, line * t.sizeY, e.lengthKnown);
                sizeWarning_ = true;
            }
        }
        if (t.payloadType == kPayloadImageWithChunks && e.chunkOffset != 0) {
            if (t.hasSizeY && t.sizeY < e.sizeY) {
                const uint64_t line = uint64_t{e.sizeX} * bytesPerPixel(e.pixelFormat) + e.paddingX;
                e.chunkOffset = line * t.sizeY;
            }
            if (t.hasChunk) {
                // The block ends after its chunks.
                e.chunkLength = t.chunkLength;
                e.chunkLayoutId = t.chunkLayoutId;
                const uint64_t end = e.chunkOffset + t.chunkLength;
                setBlockBytes(e, end, end <= index_.payloadSize());
            } else {
                setBlockBytes(e, index_.payloadSize(), false);
            }
        }
    } else if ((t.payloadType == kPayloadChunkData || t.payloadType == kPayloadExtendedChunk) &&
               t.hasSizeY && !e.image) {
        e.sizeY = t.sizeY;
        if (t.payloadType == kPayloadChunkData)
            e.chunkLength = t.sizeY;
        setBlockBytes(e, t.sizeY, t.sizeY <= index_.payloadSize());
    }
}

void BlockAssembler::onTrailer(const PacketHeader& h, std::span<const uint8_t> body) {
    sizeWarning_ = false;
    const auto trailer = parseTrailer(body);
    if (!trailer)
        return;
    const uint64_t id = h.blockId & ids_.mask();
    const bool resendOn = device_.resendEnabled.load() != 0;

    if (pending_ != nullptr && id == pending_->blockId) {
        applyTrailer(*pending_, *trailer);
        if (pending_->missingPackets == 0) {
            handOver(pending_, 3);
            releaseHeldCurrent();
        } else if (resendOn && !pending_->outOfOrder) {
            resendScan(*pending_);
        }
        return;
    }
    if (pending_ != nullptr && pending_->missingPackets == 0 &&
        ids_.isAhead(pending_->blockId, id)) {
        handOver(pending_, 3);
        releaseHeldCurrent();
    }
    if (early_ != nullptr && id == early_->blockId) {
        // Its leader was asked for again: the trailer waits for it.
        if (early_->packetMap[0] == kAskedAgain) {
            earlyTrailer_ = *trailer;
            return;
        }
        dropEarly();
        return;
    }
    if (current_ == nullptr || id != currentBlockId_)
        return;
    closeCurrent(*trailer);
}

void BlockAssembler::closeCurrent(const Trailer& trailer) {
    const bool resendOn = device_.resendEnabled.load() != 0;
    applyTrailer(*current_, trailer);
    if (current_->missingPackets == 0) {
        // Blocks reach the reader in block order. The block before still waits for late or
        // resent packets until the next leader: this one waits behind it, complete.
        if (pending_ != nullptr) {
            currentHeld_ = true;
            return;
        }
        handOver(current_, 7);
        return;
    }
    if (resendOn && !current_->outOfOrder)
        resendScan(*current_);
    // The block before still waits for its resent packets: this one, with its own requests
    // out, waits behind it until the block before completes or the next block begins. Handing
    // the block before over now would give up packets the camera may still be sending.
    if (pending_ != nullptr) {
        currentHeld_ = true;
        return;
    }
    pending_ = current_;
    current_ = nullptr;
}

void BlockAssembler::releaseHeldCurrent() {
    if (!currentHeld_ || pending_ != nullptr)
        return;
    if (current_->missingPackets == 0) {
        handOver(current_, 7);
        return;
    }
    // Still waiting for its own resent packets, now first in line.
    currentHeld_ = false;
    pending_ = current_;
    current_ = nullptr;
}

void BlockAssembler::handOver(RingEntry*& slot, int summaryLine) {
    if (&slot == &current_)
        currentHeld_ = false;
    RingEntry* e = slot;
    slot = nullptr;
    if (e == nullptr)
        return;
    if (e->lengthKnown && e->validEnd < e->blockBytes && e->missingPackets == 0) {
        e->missingPackets = 1;
    }
    e->status =
        e->missingPackets != 0 || e->overlong ? GEV_STATUS_IMAGE_INCOMPLETE : GEV_STATUS_SUCCESS;
    if (e->multiPart)
        e->status = GEV_STATUS_NOT_SUPPORTED;
    // The chunks after the image, as far as the block reaches.
    if (e->chunkOffset != 0 && e->blockBytes > e->chunkOffset)
        e->chunkBytes = e->blockBytes - e->chunkOffset;
    auto& counters = device_.counters;
    counters.framesTotal += 1;
    counters.packetsLost += e->missingPackets;
    if (summaryLine != 0 && logs(kLogInfo) && (e->resendRequested != 0 || e->resendReceived != 0)) {
        frame::gevLogf(device_,
                       "[INFO] - Packet resend (%d) [BlockID %lld] -> requested: %d, received: %d "
                       "packets",
                       summaryLine, static_cast<long long>(e->blockId),
                       static_cast<int>(e->resendRequested), static_cast<int>(e->resendReceived));
    }
    ring_.handOver(e);
    const uint32_t limit = device_.geometry.frameCountLimit;
    if (limit != 0 && counters.framesTotal.load() >= limit) {
        device_.acquisitionStopped = 1;
        exit_ = true;
    }
}

void BlockAssembler::dropEarly() {
    RingEntry* e = early_;
    early_ = nullptr;
    earlyTrailer_.reset();
    if (e == nullptr)
        return;
    auto& counters = device_.counters;
    counters.framesTotal += 1;
    counters.framesLost += 1;
    counters.packetsLost += index_.packets();
    // Counted here; the next leader must not count it again.
    if (ids_.isAhead(expectedBlockId_, ids_.next(e->blockId)) || expectedBlockId_ == e->blockId) {
        expectedBlockId_ = ids_.next(e->blockId);
    }
    ring_.discard(e);
}

void BlockAssembler::endBlock(RingEntry*& slot) {
    if (slot == nullptr)
        return;
    // After a stop, a block of which no data came never started (a camera that aborted the
    // frame it announced): not a frame, not a loss.
    if (device_.acquisitionStopped.load() != 0) {
        const bool started =
            std::any_of(slot->packetMap.get() + 1, slot->packetMap.get() + slot->packetCount + 1,
                        [](uint8_t mark) { return mark == kReceived; });
        if (!started) {
            if (&slot == &current_)
                currentHeld_ = false;
            ring_.discard(slot);
            slot = nullptr;
            return;
        }
    }
    handOver(slot, 0);
}

void BlockAssembler::onTimeout() {
    endBlock(pending_);
    endBlock(current_);
    if (early_ != nullptr)
        dropEarly();
}

void BlockAssembler::finish() {
    endBlock(pending_);
    endBlock(current_);
    if (early_ != nullptr) {
        ring_.discard(early_);
        early_ = nullptr;
        earlyTrailer_.reset();
    }
}

}  // namespace kavro::gvsp
