// The ring of image buffers between a device's receiver thread (the one writer) and the
// retrieval calls (the one reader), and the packet index that places each payload packet.
//
// The writer takes only free entries (several at once when it holds a pending and an early
// block), the reader takes only filled ones, and filled entries reach the reader in the order
// they were handed over. Thread-safe; waits use the monotonic clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "frame/device.h"

namespace kavro::gvsp {

inline constexpr size_t kMaxRingEntries = 256;
// Slack after the payload in the ring's own buffers.
inline constexpr uint32_t kBufferSlack = 4096;

enum class EntryState : uint8_t { Free = 0, Writing = 1, Filled = 2, Reading = 3 };

// Per-packet state of a block.
enum PacketMark : uint8_t { kNotReceived = 0, kReceived = 1, kAskedAgain = 2 };

// Where payload packet p (1-based, as on the wire) lands and how many bytes it carries: every
// packet but the last carries the packet data size, the last the rest.
class PacketIndex {
  public:
    PacketIndex(uint32_t payloadSize, uint32_t packetDataSize);
    uint32_t packets() const { return static_cast<uint32_t>(offsets_.size()); }
    // p in 1..packets().
    uint32_t offset(uint32_t p) const { return offsets_[p - 1]; }
    uint32_t length(uint32_t p) const { return lengths_[p - 1]; }
    uint32_t payloadSize() const { return payloadSize_; }
    uint32_t packetDataSize() const { return packetDataSize_; }
    // Packets needed to carry `bytes` (at most packets()).
    uint32_t packetsFor(uint64_t bytes) const;

  private:
    uint32_t payloadSize_;
    uint32_t packetDataSize_;
    std::vector<uint32_t> offsets_;
    std::vector<uint32_t> lengths_;
};

struct RingEntry {
    // Made ready for block `id` of `layout`, before anything of it arrived: no packet
    // received, every field of the last block cleared.
    void beginBlock(uint64_t id, const PacketIndex& layout);

    uint8_t* data = nullptr;  // image buffer: the ring's own or a registered application buffer

    // Image header as the reader copies it out.
    uint64_t blockId = 0;
    uint64_t timestamp = 0;
    uint32_t pixelFormat = 0;
    uint32_t sizeX = 0;  // 0xFFFFFFFF: not an image
    uint32_t sizeY = 0;  // not an image: its byte count
    uint32_t offsetX = 0;
    uint32_t offsetY = 0;
    uint16_t paddingX = 0;
    uint16_t paddingY = 0;
    uint32_t missingPackets = 0;
    uint16_t payloadType = 0;
    uint32_t chunkLength = 0;
    uint32_t chunkLayoutId = 0;

    // 0; 0xC010 for a block handed over with packets missing or cut; 0xC020 for a multi-part
    // block, whose data is not delivered.
    uint16_t status = 0;
    EntryState state = EntryState::Free;
    uint8_t index = 0;
    int64_t handedOverNs = 0;  // monotonic time of the last hand-over to the reader
    uint64_t uses = 0;         // times the writer has taken the entry

    // Receiver bookkeeping of the block being written.
    std::unique_ptr<uint8_t[]> packetMap;  // PacketMark per packet; index p, 1..N (0 unused)
    uint32_t packetCount = 0;              // packets of this block (N, or fewer when shorter)
    uint32_t resendRequested = 0;
    uint32_t resendReceived = 0;
    uint32_t resendCount = 0;  // packets asked again, against the resend limit
    bool outOfOrder = false;
    bool leaderSeen = false;
    bool image = false;
    uint32_t trailerSizeY = 0;
    uint64_t blockBytes = 0;           // data bytes of the block, at most the payload size
    bool lengthKnown = false;          // blockBytes is exact (not only a bound)
    uint64_t validEnd = ~uint64_t{0};  // end of the data of the first packet that came short
    // Image with chunks: where the chunks start (the image's bytes) and how many bytes they
    // take (the trailer's chunk length, else up to the block's end); 0 bytes without chunks.
    uint64_t chunkOffset = 0;
    uint64_t chunkBytes = 0;
    bool multiPart = false;  // packets of a multi-part block came: refused, not assembled
    bool overlong = false;   // a payload packet carried more than its place holds

    std::unique_ptr<uint8_t[]> ownBuffer;
    uint64_t bufferReturned = 0;  // when that buffer was last given back (the ring's count)
};

// How the ring's own buffers start: cleared, or left as the system gives them, so that pages
// nobody writes cost no memory (for a user that writes every byte before reading any).
enum class RingBuffers : uint8_t { Cleared, Untouched };

class ImageRing {
  public:
    // `count` entries (1..256), each with a packet map for the index's packets and a buffer of
    // payload size + 4096 bytes, or entry i's buffer = userBuffers[i] when buffers are given
    // (then count = their number). Hand-overs update the frame-rate fields of `counters`.
    // nullptr when memory is short or the count is out of range.
    static std::unique_ptr<ImageRing> create(uint16_t count, const PacketIndex& index,
                                             std::span<void* const> userBuffers,
                                             frame::StreamCounters& counters,
                                             RingBuffers start = RingBuffers::Cleared);

    // Writer: a free entry, now being written, or null after `timeout`.
    RingEntry* acquireForWrite(std::chrono::milliseconds timeout);
    // Writer: the entry is filled and queued for the reader.
    void handOver(RingEntry* entry);
    // Writer: gives an entry back unused (its block is dropped).
    void discard(RingEntry* entry);
    // Reader: the oldest filled entry, now being read, or null after `timeout`.
    RingEntry* acquireForRead(std::chrono::milliseconds timeout);
    // Reader: the entry is free again. False when the entry is not being read.
    bool release(RingEntry* entry);
    // The entry with this index, or null.
    RingEntry* entry(size_t index);
    // The entry is being written, waits for the reader or is being read.
    bool inUse(size_t index) const;

    uint16_t size() const { return static_cast<uint16_t>(entries_.size()); }
    // Entries that hold no unread image: free or being written.
    uint16_t freeCount() const;
    // Index of the oldest unread entry and of the entry the writer takes next (for the trace).
    void positions(size_t& read, size_t& write) const;

  private:
    ImageRing(frame::StreamCounters& counters) : counters_(counters) {}

    frame::StreamCounters& counters_;
    std::vector<RingEntry> entries_;
    mutable std::mutex mutex_;
    std::condition_variable space_;
    std::condition_variable data_;
    // Filled entries in hand-over order (a circular queue of entry indexes).
    std::vector<uint16_t> filled_;
    size_t filledHead_ = 0;
    size_t filledCount_ = 0;
    size_t writeCursor_ = 0;
    size_t readCursor_ = 0;  // entry handed to the reader last, plus one
    // While the ring owns its buffers, the writer's next entry trades buffers with the free
    // entry whose buffer came back last: a reader that keeps up then leaves the writer cycling
    // through the two or three buffers that are still in the cache, not through the whole
    // ring. Entry indexes and their order do not change.
    bool ownsBuffers_ = false;
    uint64_t returns_ = 0;  // buffers given back so far

    void takeWarmBuffer(RingEntry& taken);
    void markReturned(RingEntry& freed);
};

// Frame-rate step of one hand-over at `nowTicks` (ticks of the monotonic counter): when the
// window has lasted a second, the rate of the window becomes `fps` and a new window starts.
void recordHandOver(frame::StreamCounters& counters, uint64_t nowTicks);

}  // namespace kavro::gvsp
