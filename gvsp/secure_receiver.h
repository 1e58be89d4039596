// The secure-transfer receiver: one block at a time, never given up for missing packets. When
// a block's trailer (or a time-out) finds packets missing, the first missing packet is asked
// for again, one packet per request, before every wait until it arrives. A ring entry for the
// next block is taken as soon as a block is complete, and the application's secure-transfer
// callback is told each time (and once at thread start).
// Resent packets flagged with status 0x0100 are used like first sends; the first datagram
// decides the id mode. A block whose leader was lost begins with its first packet that comes,
// and its leader is asked for again (as packet 0) like a missing packet.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "frame/device.h"
#include "gvsp/acquisition.h"
#include "gvsp/block_assembler.h"
#include "gvsp/block_ids.h"
#include "gvsp/image_ring.h"
#include "gvsp/wire.h"

namespace kavro::gvsp {

// Assembly of the secure-transfer receiver, fed by its thread (or by tests) with datagrams and
// time-outs. Used by one thread at a time.
class SecureAssembler {
  public:
    // Wait for a free entry at a leader, and for the next block's entry after a completed block.
    static constexpr std::chrono::milliseconds kLeaderWait{40};
    static constexpr std::chrono::milliseconds kNextBlockWait{1000};

    SecureAssembler(frame::GevDevice& device, ImageRing& ring, const PacketIndex& index,
                    ResendSender resend);

    // Thread start: calls the secure-transfer callback.
    void start();
    // Before every wait: asks again for the first missing packet of the current block.
    void beforeWait();
    void onTimeout();
    void onDatagram(std::span<const uint8_t> datagram);
    // A stop was asked and there is nothing this receiver still waits for.
    bool mayLeave() const;
    bool exitRequested() const { return exit_; }
    // Thread exit: a complete block still held is handed over; an incomplete one and the next
    // block's unused entry go back to the ring.
    void finish();

    bool extendedIds() const { return ids_.extended(); }

  private:
    void onLeader(const PacketHeader& h, std::span<const uint8_t> body);
    // `multiPart`: a packet of format 7, which starts with a part header.
    void onPayload(const PacketHeader& h, std::span<const uint8_t> data, bool multiPart);
    void onTrailer(const PacketHeader& h, std::span<const uint8_t> body);
    // The leader's fields into the entry of its block; the packets stay as they are.
    void fillGeometry(RingEntry& e, const Leader& leader, uint64_t blockId);
    // Takes an entry for block `id`, made ready with no packet received (the block before is
    // handed over when whole, else dropped); false when none is free (the block is skipped).
    bool beginBlock(uint64_t id);
    // A payload packet or trailer of a block after the last one begun, whose leader was lost:
    // the block begins, and its leader is asked for again like a missing packet.
    bool beginWithoutLeader(uint64_t id);
    // The packet belongs to the current block (begun now when its leader was lost).
    bool isCurrent(uint64_t id);
    void checkDescribedHeader(RingEntry& e, uint64_t blockId);
    void checkPayloadSize(RingEntry& e, uint64_t blockId);
    void countMissingBlocks(uint64_t blockId);
    // Hands the current block over, then takes the next block's entry.
    void complete(bool summaryLine);
    void dropCurrent();
    void callBack();
    // The first packet the current block misses (0: its leader), if any.
    std::optional<uint32_t> firstMissing() const;

    bool logs(uint8_t flag) const { return (device_.detailedLog.load() & flag) != 0; }

    frame::GevDevice& device_;
    ImageRing& ring_;
    const PacketIndex& index_;
    ResendSender resend_;

    BlockIds ids_;
    bool idModeKnown_ = false;
    RingEntry* current_ = nullptr;
    RingEntry* next_ = nullptr;
    bool resendMode_ = false;
    bool skipBlock_ = false;
    bool rangeWarning_ = false;
    bool exit_ = false;
    bool haveLastLeader_ = false;
    uint64_t lastLeaderId_ = 0;
    uint64_t lastTimestamp_ = 0;
};

// Starts the secure-transfer receiver of `acquisition` at the highest priority; false when the
// thread can't be created.
bool startSecureReceiver(const std::shared_ptr<frame::GevDevice>& device,
                         const std::shared_ptr<Acquisition>& acquisition);

}  // namespace kavro::gvsp
