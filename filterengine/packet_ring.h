// A receive ring of packet blocks shared with the kernel (TPACKET_V3) on one adapter, holding
// only the packets of one camera's stream. The kernel fills a block with many packets and hands
// it over when it is full or when its retire time-out ends, so one wake-up of the reader
// carries many packets, and nothing is copied between the adapter and the ring but once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "filterengine/udp_datagram.h"
#include "platform/socket.h"

namespace kavro::filterengine {

struct PacketRingSettings {
    int interfaceIndex = 0;
    StreamEndpoint endpoint;
    uint32_t blockSize = 0;  // a multiple of the page size
    uint32_t blockCount = 0;
    uint32_t retireTimeoutMs = 0;
};

class PacketRing final {
  public:
    // The ring, or null with `error` set to an error number of the filter device interface:
    // access denied without the right to capture, not enough memory for the ring, not found
    // when the adapter is gone.
    static std::unique_ptr<PacketRing> open(const PacketRingSettings& settings, uint32_t& error);
    ~PacketRing();
    PacketRing(const PacketRing&) = delete;
    PacketRing& operator=(const PacketRing&) = delete;

    // Readable when the kernel has handed over a block.
    const platform::UniqueSocket& socket() const { return socket_; }

    // Walks the blocks the kernel has handed over since the last call, in order, handing the
    // UDP payload of each stream packet to `onDatagram` with the sequence number of its block
    // and the time the kernel received it (wall clock, in nanoseconds).
    // The blocks stay with the caller, and the payloads valid, until released. Returns the
    // number of blocks walked.
    using DatagramSink =
        std::function<void(std::span<const uint8_t> datagram, uint64_t block, int64_t receivedNs)>;
    size_t drain(const DatagramSink& onDatagram);
    // Gives every walked block before sequence number `block` back to the kernel.
    void releaseBefore(uint64_t block);
    // Sequence number of the next block to walk: every block before it was walked.
    uint64_t walkedEnd() const { return walked_; }
    // Blocks walked and not yet released, and all the ring has.
    uint64_t held() const { return walked_ - released_; }
    uint32_t blockCount() const { return settings_.blockCount; }

  private:
    PacketRing(platform::UniqueSocket socket, uint8_t* map, const PacketRingSettings& settings)
        : socket_(std::move(socket)), map_(map), settings_(settings) {}

    // Every packet of the block, each checked against the block's bounds.
    void walk(const uint8_t* block, uint64_t sequence, const DatagramSink& onDatagram) const;
    uint8_t* blockAt(uint64_t sequence) const {
        return map_ + (sequence % settings_.blockCount) * settings_.blockSize;
    }

    platform::UniqueSocket socket_;
    uint8_t* map_;
    PacketRingSettings settings_;
    uint64_t walked_ = 0;    // blocks walked
    uint64_t released_ = 0;  // blocks given back to the kernel
};

}  // namespace kavro::filterengine
