// Block assembly from hand-made datagrams: id wrap and jumps, resend requests, early and
// pending blocks, trailer heights, statuses and hostile packets.
#include <gtest/gtest.h>

#include "gvsp/block_assembler.h"
#include "tests/support/assembler_harness.h"

namespace kavro::gvsp {
namespace {

using test::LogCapture;

class Assembly : public test::AssemblerHarness<BlockAssembler> {
  protected:
    explicit Assembly(uint32_t payload = kWidth * kHeight) : AssemblerHarness(payload) {}
    void SetUp() override { build(8); }
    void block(uint64_t id) {
        leader(id);
        for (uint32_t p = 1; p <= 10; ++p)
            payload(id, p);
        trailer(id);
    }
};

TEST_F(Assembly, BlockIdsWrapWithoutLossAndJumpsCountTheSkippedFrames) {
    for (uint64_t id : {65534u, 65535u, 1u, 2u}) {
        block(id);
        RingEntry* e = next();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->blockId, id);
        EXPECT_EQ(e->status, 0);
    }
    EXPECT_EQ(dev.counters.framesLost.load(), 0u);
    block(5);
    EXPECT_EQ(dev.counters.framesLost.load(), 2u);
    EXPECT_EQ(dev.counters.framesTotal.load(), 7u);
    EXPECT_EQ(dev.counters.packetsLost.load(), 20u);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Missing frames: 3 -> 4"));
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

TEST_F(Assembly, GapAsksForTheMissingPacketsAtOnceBeyondTheWindow) {
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

    dev.outOfOrderWindow = 4;
    leader(2);
    payload(2, 1);
    payload(2, 5);
    EXPECT_EQ(resends.size(), 1u) << "the window tolerates small gaps";
}

class LongBlocks : public Assembly {
  protected:
    LongBlocks() : Assembly(5000) {}  // 50 packets
};

TEST_F(LongBlocks, TrailerScanAsksForTheFirstMaxResendOnly) {
    dev.resendEnabled = 1;
    leader(1, 100, 50);
    for (uint32_t p = 1; p <= 25; ++p)
        payload(1, p);
    trailer(1, 50, kPayloadImage, 51);
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

// A trailer with fewer lines, and raw data, end their blocks at their own length.
TEST_F(Assembly, BlocksEndAtTheirOwnLength) {
    leader(1);
    for (uint32_t p = 1; p <= 6; ++p)
        payload(1, p);  // 6 lines of 10
    trailer(1, 6);
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(e->trailerSizeY, 6u);
    EXPECT_EQ(e->missingPackets, 0u);

    leader(2, 450, 0, kPayloadRawData);  // 450 bytes: 5 packets
    for (uint32_t p = 1; p <= 4; ++p)
        payload(2, p);
    payload(2, 5, 0, 50);
    trailer(2, 0, kPayloadRawData);
    e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(e->sizeX, 0xFFFFFFFFu);
    EXPECT_EQ(e->sizeY, 450u);
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

// The frame count ends reception after its last frame; a stop lets the current block finish.
TEST_F(Assembly, ReceptionEndsAfterTheFrameCountAndAStopFinishesTheBlock) {
    dev.geometry.frameCountLimit = 2;
    block(1);
    EXPECT_FALSE(assembler->exitRequested());
    block(2);
    EXPECT_TRUE(assembler->exitRequested());
    EXPECT_EQ(dev.acquisitionStopped.load(), 1u);

    build(8);
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

}  // namespace
}  // namespace kavro::gvsp
