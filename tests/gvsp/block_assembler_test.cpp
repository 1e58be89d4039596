// Block assembly from hand-made datagrams: id wrap and jumps, resend requests, early and
// pending blocks, trailer heights, statuses and hostile packets.
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>
#include <vector>

#include "gvsp/block_assembler.h"
#include "gvsp/wire.h"
#include "tests/support/sim_fixture.h"

namespace kavro::gvsp {
namespace {

using namespace std::chrono_literals;
using test::LogCapture;

constexpr uint32_t kWidth = 100;
constexpr uint32_t kHeight = 10;       // 1000 bytes of Mono8
constexpr uint32_t kPacketData = 100;  // 10 packets per block

class Assembly : public ::testing::Test {
  protected:
    explicit Assembly(uint32_t payload = kWidth * kHeight) : index(payload, kPacketData) {}

    void SetUp() override {
        LogCapture::instance().clear();
        dev.logCallback = &LogCapture::callback;
        dev.detailedLog = 0x07;
        dev.gevVersionMajor = 1;
        dev.geometry.payloadSize = index.payloadSize();
        dev.acquisitionStopped = 0;
        ring = ImageRing::create(8, index, {}, dev.counters);
        assembler = std::make_unique<BlockAssembler>(
            dev, *ring, index, [this](uint64_t id, uint32_t first, uint32_t last, bool) {
                resends.emplace_back(id, first, last);
                return true;
            });
    }

    void feed(std::vector<uint8_t> d) { assembler->onDatagram(d); }
    void leader(uint64_t id, uint32_t height = kHeight, uint16_t type = kPayloadImage) {
        Leader l{type, 1000 + id, 0x01080001, type == kPayloadRawData ? 450 : kWidth, height};
        std::vector<uint8_t> d(64);
        d.resize(writeLeader(d, {0, false, kFormatLeader, id, 0}, l));
        feed(d);
    }
    void payload(uint64_t id, uint32_t p, uint16_t status = 0, size_t size = kPacketData) {
        std::vector<uint8_t> d(8 + size);
        writeHeader(d, {status, false, kFormatPayload, id, p});
        for (size_t k = 0; k < size; ++k)
            d[8 + k] = static_cast<uint8_t>(id + p);
        feed(d);
    }
    void trailer(uint64_t id, uint32_t height = kHeight, uint16_t type = kPayloadImage) {
        std::vector<uint8_t> d(32);
        d.resize(writeTrailer(d, {0, false, kFormatTrailer, id, 11}, {type, true, height}));
        feed(d);
    }
    void block(uint64_t id, std::vector<uint32_t> skip = {}) {
        leader(id);
        for (uint32_t p = 1; p <= 10; ++p) {
            if (std::find(skip.begin(), skip.end(), p) == skip.end())
                payload(id, p);
        }
        trailer(id);
    }
    // Next handed-over entry, released at once; null when none.
    RingEntry* next() {
        RingEntry* e = ring->acquireForRead(0ms);
        if (e != nullptr)
            ring->release(e);
        return e;
    }

    frame::GevDevice dev;
    PacketIndex index;
    std::unique_ptr<ImageRing> ring;
    std::unique_ptr<BlockAssembler> assembler;
    std::vector<std::tuple<uint64_t, uint32_t, uint32_t>> resends;
};

TEST_F(Assembly, SixteenBitBlockIdWrapsWithoutLoss) {
    for (uint64_t id : {65534u, 65535u, 1u, 2u}) {
        block(id);
        RingEntry* e = next();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->blockId, id);
        EXPECT_EQ(e->status, 0);
    }
    EXPECT_EQ(dev.counters.framesLost.load(), 0u);
    EXPECT_EQ(dev.counters.framesTotal.load(), 4u);
}

TEST_F(Assembly, BlockIdJumpCountsTheSkippedFrames) {
    block(7);
    block(10);
    EXPECT_EQ(dev.counters.framesLost.load(), 2u);
    EXPECT_EQ(dev.counters.framesTotal.load(), 4u);
    EXPECT_EQ(dev.counters.packetsLost.load(), 20u);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Missing frames: 8 -> 9"));
}

TEST_F(Assembly, DuplicatedLeaderAndPacketsCountOnce) {
    leader(3);
    payload(3, 1);
    leader(3);
    for (uint32_t p = 1; p <= 10; ++p)
        payload(3, p);
    payload(3, 4);
    trailer(3);
    leader(3);  // stale copy after the block was handed over
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(next(), nullptr);
    EXPECT_EQ(dev.counters.framesTotal.load(), 1u);
    EXPECT_EQ(dev.counters.framesLost.load(), 0u);
}

TEST_F(Assembly, GapAsksForTheMissingPacketsAtOnce) {
    dev.resendEnabled = 1;
    leader(1);
    payload(1, 1);
    payload(1, 2);
    payload(1, 5);
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(resends[0], std::make_tuple(uint64_t{1}, 3u, 4u));
    payload(1, 3, kStatusResent);
    payload(1, 4, kStatusResent);
    for (uint32_t p = 6; p <= 10; ++p)
        payload(1, p);
    trailer(1);
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(e->resendRequested, 2u);
    EXPECT_EQ(e->resendReceived, 2u);
}

TEST_F(Assembly, WindowToleratesSmallGaps) {
    dev.resendEnabled = 1;
    dev.outOfOrderWindow = 4;
    leader(1);
    payload(1, 1);
    payload(1, 5);
    EXPECT_TRUE(resends.empty());
}

class LongBlocks : public Assembly {
  protected:
    LongBlocks() : Assembly(5000) {}  // 50 packets
};

TEST_F(LongBlocks, TrailerScanAsksForTheFirstMaxResendOnly) {
    dev.resendEnabled = 1;
    Leader l{kPayloadImage, 1, 0x01080001, 100, 50};
    std::vector<uint8_t> d(64);
    d.resize(writeLeader(d, {0, false, kFormatLeader, 1, 0}, l));
    feed(d);
    for (uint32_t p = 1; p <= 25; ++p)
        payload(1, p);
    std::vector<uint8_t> t(32);
    t.resize(writeTrailer(t, {0, false, kFormatTrailer, 1, 51}, {kPayloadImage, true, 50}));
    feed(t);
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(resends[0], std::make_tuple(uint64_t{1}, 26u, 35u));
}

TEST_F(Assembly, TestRangeIsAskedAgainAndCompletes) {
    dev.resendEnabled = 1;
    dev.testResendFirst = 5;
    dev.testResendCount = 3;
    leader(1);
    for (uint32_t p = 1; p <= 10; ++p)
        payload(1, p);
    ASSERT_EQ(resends.size(), 1u);
    EXPECT_EQ(resends[0], std::make_tuple(uint64_t{1}, 5u, 7u));
    trailer(1);
    EXPECT_EQ(next(), nullptr);
    for (uint32_t p = 5; p <= 7; ++p)
        payload(1, p, kStatusResent);
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(e->resendReceived, 3u);
}

TEST_F(Assembly, ShorterTrailerHeightIsCompleteWithStatusZero) {
    leader(1);
    for (uint32_t p = 1; p <= 6; ++p)
        payload(1, p);  // 6 lines of 10
    trailer(1, 6);
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(e->trailerSizeY, 6u);
    EXPECT_EQ(e->missingPackets, 0u);
}

TEST_F(Assembly, EarlyAndPendingBlocksWithResendOff) {
    leader(1);
    for (uint32_t p = 1; p <= 9; ++p)
        payload(1, p);
    payload(2, 1);  // block 2 before block 1's last packet, trailer and block 2's leader
    payload(2, 2);
    payload(1, 10);  // completes the pending block
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->blockId, 1u);
    EXPECT_EQ(e->status, 0);
    trailer(1);
    leader(2);  // the early block becomes current with its packets
    for (uint32_t p = 3; p <= 10; ++p)
        payload(2, p);
    trailer(2);
    e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->blockId, 2u);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(e->data[0], 3);  // packet 1 of block 2 kept
    EXPECT_EQ(dev.counters.framesLost.load(), 0u);
}

TEST_F(Assembly, ResentStatusIsUsedAndErrorStatusDropped) {
    leader(1);
    for (uint32_t p = 1; p <= 9; ++p)
        payload(1, p, p == 3 ? kStatusResent : 0);
    payload(1, 10, 0x8001);
    trailer(1);
    assembler->onTimeout();
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, GEV_STATUS_IMAGE_INCOMPLETE);
    EXPECT_EQ(e->missingPackets, 1u);
    EXPECT_EQ(e->packetMap[3], kReceived);
}

TEST_F(Assembly, FrameCountEndsReceptionAfterTheThirdFrame) {
    dev.geometry.frameCountLimit = 3;
    block(1);
    block(2);
    EXPECT_FALSE(assembler->exitRequested());
    block(3);
    EXPECT_TRUE(assembler->exitRequested());
    EXPECT_EQ(dev.acquisitionStopped.load(), 1u);
}

TEST_F(Assembly, StopLetsTheCurrentBlockFinish) {
    leader(1);
    payload(1, 1);
    dev.acquisitionStopped = 1;
    EXPECT_FALSE(assembler->mayLeave());
    for (uint32_t p = 2; p <= 10; ++p)
        payload(1, p);
    trailer(1);
    EXPECT_TRUE(assembler->mayLeave());
    EXPECT_NE(next(), nullptr);
}

TEST_F(Assembly, HostilePacketsAreBoundedAndDropped) {
    leader(1);
    payload(1, 0);
    payload(1, 11);
    payload(1, 0xFFFFFF);
    payload(1, 2, 0, 4000);  // longer than its slot: only the slot is written
    for (uint32_t p = 3; p <= 10; ++p)
        payload(1, p, 0, p == 3 ? 10 : kPacketData);  // 3 short
    feed({0, 0, 0, 1, 3});                            // shorter than any header
    std::vector<uint8_t> extended(12, 0);
    extended[4] = kExtendedIdFlag | kFormatPayload;  // other id mode, and short
    feed(extended);
    EXPECT_TRUE(LogCapture::instance().contains(
        "[WARNING] - [BlockID 1] Packet number is larger than maximum (11 > 10)"));
    assembler->onTimeout();
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->missingPackets, 1u);  // packet 1 never came; packet 3 left a hole
    EXPECT_EQ(e->status, GEV_STATUS_IMAGE_INCOMPLETE);
    EXPECT_EQ(e->data[2 * kPacketData + 10], 0);
}

TEST_F(Assembly, RawDataBlockIsCompleteAtItsOwnLength) {
    leader(1, 0, kPayloadRawData);  // 450 bytes: 5 packets
    for (uint32_t p = 1; p <= 4; ++p)
        payload(1, p);
    payload(1, 5, 0, 50);
    trailer(1, 0, kPayloadRawData);
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(e->sizeX, 0xFFFFFFFFu);
    EXPECT_EQ(e->sizeY, 450u);
}

}  // namespace
}  // namespace kavro::gvsp
