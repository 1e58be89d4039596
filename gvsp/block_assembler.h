// Assembly of stream datagrams into ring entries: leader, payload and trailer packets of each
// block, early and pending blocks, missing-frame and missing-packet accounting and resend
// requests. Knows nothing of sockets: the receiver thread feeds it datagrams and time-outs, and
// tests can feed it directly. Used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "frame/device.h"
#include "gvsp/block_ids.h"
#include "gvsp/image_ring.h"
#include "gvsp/wire.h"

namespace kavro::gvsp {

// Sends a resend request for packets first..last of a block; false when it could not be sent.
using ResendSender =
    std::function<bool(uint64_t blockId, uint32_t first, uint32_t last, bool extended)>;

// Puts the bytes of payload packet `packet` of an entry's block in place; `data` stays valid
// as long as the caller that fed the datagram keeps it so.
using PayloadPlacer =
    std::function<void(RingEntry& entry, uint32_t packet, std::span<const uint8_t> data)>;

class BlockAssembler {
  public:
    // Leaders of blocks this far behind the expected block are stale copies and are dropped.
    static constexpr uint64_t kStaleBlockWindow = 64;
    // Wait of the writer for a free ring entry.
    static constexpr std::chrono::milliseconds kWriteWait{40};

    BlockAssembler(frame::GevDevice& device, ImageRing& ring, const PacketIndex& index,
                   ResendSender resend);

    // Payload bytes go to `placer` instead of being copied into the entry's buffer (a receiver
    // that keeps the datagrams and copies each image out once, when it is read).
    void placePayloadsWith(PayloadPlacer placer) { placer_ = std::move(placer); }

    void onDatagram(std::span<const uint8_t> datagram);
    // A datagram read in two pieces: its header (at least the header of the stream's id mode)
    // and the bytes after it. A payload that already lies where it belongs (a scatter read into
    // payloadSlot's place) is not copied again.
    void onDatagram(std::span<const uint8_t> header, std::span<const uint8_t> body);

    // Where a payload packet `ahead` packets after the next expected one of the current block
    // would go, for a read straight into its place: only places of that block still empty.
    struct PayloadSlot {
        uint64_t blockId = 0;
        uint32_t packetId = 0;
        std::span<uint8_t> place;
    };
    std::optional<PayloadSlot> payloadSlot(uint32_t ahead) const;
    // Nothing arrived within the stream time-out: blocks in progress are handed over as they are.
    void onTimeout();
    // A stop was asked and no block is in progress: the receiver may leave before this datagram.
    bool mayLeave() const;
    // The frame count was reached.
    bool exitRequested() const { return exit_; }
    // Hands over what is still held; the receiver calls it once on its way out.
    void finish();

    bool idModeKnown() const { return idMode_ != 0; }
    bool extendedIds() const { return ids_.extended(); }

  private:
    void onLeader(const PacketHeader& h, std::span<const uint8_t> body);
    // `multiPart`: a packet of format 7, which starts with a part header.
    void onPayload(const PacketHeader& h, std::span<const uint8_t> data, bool multiPart);
    void onTrailer(const PacketHeader& h, std::span<const uint8_t> body);
    // The current block's trailer: applied, then the block is handed over or waits for resent
    // packets.
    void closeCurrent(const Trailer& trailer);
    // The next block began: the current one is handed over when complete, else it waits in
    // the pending slot (the pending block before it must be gone).
    void retireCurrent();

    RingEntry* takeEntry(uint64_t blockId);
    void setBlockBytes(RingEntry& e, uint64_t bytes, bool lengthKnown);
    void fillFromLeader(RingEntry& e, const Leader& leader, uint64_t blockId);
    // With geometry from the device description: a leader's width, height or pixel format that
    // differs is logged and replaced by the expected one (paddings then cleared).
    void holdToDescribedGeometry(RingEntry& e, uint64_t blockId);
    void applyTrailer(RingEntry& e, const Trailer& t);
    void store(RingEntry& e, uint32_t p, std::span<const uint8_t> data, bool multiPart);
    void handOver(RingEntry*& slot, int summaryLine);
    // Hands over a block in progress at a time-out or the receiver's end.
    void endBlock(RingEntry*& slot);
    // Hands over the current block when it was complete and waited only for the pending one.
    void releaseHeldCurrent();
    void dropEarly();
    void askAgain(RingEntry& e, uint32_t p);
    void resendScan(RingEntry& e);
    bool sendResend(uint64_t blockId, uint32_t first, uint32_t last);

    bool logs(uint8_t flag) const { return (device_.detailedLog.load() & flag) != 0; }

    frame::GevDevice& device_;
    ImageRing& ring_;
    const PacketIndex& index_;
    ResendSender resend_;
    PayloadPlacer placer_;

    int idMode_ = 0;  // 0 undetermined, 1 standard, 2 extended
    BlockIds ids_;
    uint64_t currentBlockId_ = 0;
    uint64_t expectedBlockId_ = 0;
    uint32_t expectedPacket_ = 1;
    // The current block's packet after the highest one seen: where the next one likely goes.
    uint32_t nextPacket_ = 1;
    uint64_t lastTimestamp_ = 0;
    RingEntry* current_ = nullptr;
    // The current block's trailer came while the pending block still waited: it waits behind
    // that block (complete, or with its own resent packets asked for).
    bool currentHeld_ = false;
    RingEntry* pending_ = nullptr;
    RingEntry* early_ = nullptr;
    // The trailer of the early block, kept while its leader is asked for again.
    std::optional<Trailer> earlyTrailer_;
    bool sizeWarning_ = false;
    bool rangeWarning_ = false;
    bool exit_ = false;
};

}  // namespace kavro::gvsp
