#include "gvsp/image_ring.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "platform/clock.h"

namespace kavro::gvsp {

PacketIndex::PacketIndex(uint32_t payloadSize, uint32_t packetDataSize)
    : payloadSize_(payloadSize), packetDataSize_(packetDataSize) {
    if (packetDataSize == 0)
        return;
    const uint32_t n =
        static_cast<uint32_t>((uint64_t{payloadSize} + packetDataSize - 1) / packetDataSize);
    offsets_.resize(n);
    lengths_.resize(n);
    for (uint32_t k = 0; k < n; ++k) {
        offsets_[k] = k * packetDataSize;
        lengths_[k] = std::min(packetDataSize, payloadSize - k * packetDataSize);
    }
}

uint32_t PacketIndex::packetsFor(uint64_t bytes) const {
    if (packetDataSize_ == 0)
        return 0;
    const uint64_t n = (bytes + packetDataSize_ - 1) / packetDataSize_;
    return static_cast<uint32_t>(std::min<uint64_t>(n, packets()));
}

void RingEntry::beginBlock(uint64_t id, const PacketIndex& layout) {
    const uint32_t n = layout.packets();
    std::memset(packetMap.get(), 0, size_t{n} + 1);
    blockId = id;
    timestamp = 0;
    pixelFormat = sizeX = sizeY = offsetX = offsetY = 0;
    paddingX = paddingY = 0;
    payloadType = 0;
    chunkLength = chunkLayoutId = 0;
    status = 0;
    packetCount = n;
    missingPackets = n;
    blockBytes = layout.payloadSize();
    lengthKnown = false;
    resendRequested = resendReceived = resendCount = 0;
    outOfOrder = false;
    leaderSeen = false;
    image = false;
    trailerSizeY = 0;
    validEnd = ~uint64_t{0};
    chunkOffset = chunkBytes = 0;
    multiPart = overlong = false;
}

std::unique_ptr<ImageRing> ImageRing::create(uint16_t count, const PacketIndex& index,
                                             std::span<void* const> userBuffers,
                                             frame::StreamCounters& counters, RingBuffers start) {
    if (!userBuffers.empty())
        count = static_cast<uint16_t>(std::min(userBuffers.size(), kMaxRingEntries));
    if (count == 0 || count > kMaxRingEntries)
        return nullptr;
    try {
        std::unique_ptr<ImageRing> ring(new ImageRing(counters));
        ring->entries_.resize(count);
        ring->filled_.resize(count);
        ring->ownsBuffers_ = userBuffers.empty();
        const size_t bufferSize = size_t{index.payloadSize()} + kBufferSlack;
        for (uint16_t i = 0; i < count; ++i) {
            RingEntry& e = ring->entries_[i];
            e.index = static_cast<uint8_t>(i);
            if (!userBuffers.empty()) {
                e.data = static_cast<uint8_t*>(userBuffers[i]);
            } else {
                e.ownBuffer.reset(start == RingBuffers::Cleared ? new uint8_t[bufferSize]()
                                                                : new uint8_t[bufferSize]);
                e.data = e.ownBuffer.get();
            }
            e.packetMap.reset(new uint8_t[size_t{index.packets()} + 1]());
        }
        return ring;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

RingEntry* ImageRing::acquireForWrite(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const size_t n = entries_.size();
    RingEntry* found = nullptr;
    const auto freeEntry = [&] {
        // Round robin from the cursor, so that entries (and application buffers) are used in
        // order while the reader keeps up.
        for (size_t k = 0; k < n; ++k) {
            RingEntry& e = entries_[(writeCursor_ + k) % n];
            if (e.state == EntryState::Free) {
                found = &e;
                return true;
            }
        }
        return false;
    };
    if (!space_.wait_for(lock, timeout, freeEntry))
        return nullptr;
    takeWarmBuffer(*found);
    found->state = EntryState::Writing;
    found->outOfOrder = false;
    ++found->uses;
    writeCursor_ = (found->index + 1u) % n;
    return found;
}

void ImageRing::handOver(RingEntry* entry) {
    if (entry == nullptr)
        return;
    {
        std::lock_guard lock(mutex_);
        if (entry->state != EntryState::Writing)
            return;
        entry->state = EntryState::Filled;
        filled_[(filledHead_ + filledCount_) % filled_.size()] = entry->index;
        ++filledCount_;
        entry->handedOverNs = platform::monotonicNs();
        recordHandOver(counters_, static_cast<uint64_t>(entry->handedOverNs));
    }
    data_.notify_all();
}

void ImageRing::discard(RingEntry* entry) {
    if (entry == nullptr)
        return;
    {
        std::lock_guard lock(mutex_);
        if (entry->state != EntryState::Writing)
            return;
        entry->state = EntryState::Free;
        markReturned(*entry);
    }
    space_.notify_all();
}

RingEntry* ImageRing::acquireForRead(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!data_.wait_for(lock, timeout, [&] { return filledCount_ != 0; }))
        return nullptr;
    RingEntry& e = entries_[filled_[filledHead_]];
    filledHead_ = (filledHead_ + 1) % filled_.size();
    --filledCount_;
    e.state = EntryState::Reading;
    readCursor_ = (e.index + 1u) % entries_.size();
    return &e;
}

bool ImageRing::release(RingEntry* entry) {
    if (entry == nullptr)
        return false;
    {
        std::lock_guard lock(mutex_);
        if (entry->state != EntryState::Reading)
            return false;
        entry->state = EntryState::Free;
        markReturned(*entry);
    }
    space_.notify_all();
    return true;
}

void ImageRing::takeWarmBuffer(RingEntry& taken) {
    if (!ownsBuffers_)
        return;
    // Free entries hold no pointer anyone uses, so their buffers may change hands.
    RingEntry* warmest = &taken;
    for (RingEntry& e : entries_) {
        if (e.state == EntryState::Free && e.bufferReturned > warmest->bufferReturned)
            warmest = &e;
    }
    if (warmest == &taken)
        return;
    std::swap(warmest->ownBuffer, taken.ownBuffer);
    std::swap(warmest->data, taken.data);
    std::swap(warmest->bufferReturned, taken.bufferReturned);
}

void ImageRing::markReturned(RingEntry& freed) {
    freed.bufferReturned = ++returns_;
}

RingEntry* ImageRing::entry(size_t index) {
    return index < entries_.size() ? &entries_[index] : nullptr;
}

bool ImageRing::inUse(size_t index) const {
    std::lock_guard lock(mutex_);
    return index < entries_.size() && entries_[index].state != EntryState::Free;
}

uint16_t ImageRing::freeCount() const {
    std::lock_guard lock(mutex_);
    const auto busy = std::count_if(entries_.begin(), entries_.end(), [](const RingEntry& e) {
        return e.state == EntryState::Filled || e.state == EntryState::Reading;
    });
    return static_cast<uint16_t>(entries_.size() - static_cast<size_t>(busy));
}

void ImageRing::positions(size_t& read, size_t& write) const {
    std::lock_guard lock(mutex_);
    read = filledCount_ != 0 ? filled_[filledHead_] : readCursor_;
    write = writeCursor_;
}

void recordHandOver(frame::StreamCounters& c, uint64_t nowTicks) {
    const uint64_t start = c.fpsWindowStart.load();
    const uint64_t ticks = nowTicks >= start ? nowTicks - start : 0;
    c.fpsWindowTicks = ticks;
    const uint32_t frames = c.fpsWindowFrames.load() + 1;
    c.fpsWindowFrames = frames;
    const double frequency = static_cast<double>(c.fpsFrequency.load());
    if (frequency <= 0.0)
        return;
    if (static_cast<double>(ticks) / frequency * 1000.0 >= 1000.0) {
        const double msPerFrame = static_cast<double>(ticks) / frames / frequency * 1000.0;
        c.fps = msPerFrame == 0.0 ? 0.0 : 1000.0 / msPerFrame;
        c.fpsWindowFrames = 0;
        c.fpsWindowStart = nowTicks;
    }
}

}  // namespace kavro::gvsp
