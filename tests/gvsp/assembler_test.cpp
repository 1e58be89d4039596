// Block assembly of both receivers from hand-made datagrams: what they share (id wrap and jumps,
// hostile and repeated packets, the frame count), then each receiver's own ways: the plain
// receiver's resend window, early and pending blocks and trailer heights; the secure-transfer
// receiver's callback, one request per turn, time-outs and header checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <type_traits>
#include <vector>

#include "gvsp/block_assembler.h"
#include "gvsp/secure_receiver.h"
#include "tests/support/assembler_harness.h"

namespace kavro::gvsp {
namespace {

using test::LogCapture;

std::atomic<int> callbacks{0};
std::atomic<int> callbackDevice{0};
void countCallback(uint8_t device) {
    ++callbacks;
    callbackDevice = device;
}

template <class Assembler>
class Assembly : public test::AssemblerHarness<Assembler> {
  protected:
    static constexpr bool kSecure = std::is_same_v<Assembler, SecureAssembler>;

    explicit Assembly(uint32_t payload = 1000) : test::AssemblerHarness<Assembler>(payload) {}
    void SetUp() override {
        callbacks = 0;
        this->dev.deviceIndex = 3;
        this->dev.secureCallback = &countCallback;
        rebuild();
    }
    void rebuild() {
        this->build(4);
        if constexpr (kSecure)
            this->assembler->start();
    }
    // The turn a receiver thread makes before each wait.
    void turn() {
        if constexpr (kSecure)
            this->assembler->beforeWait();
    }
    // Leader, payload packets but those in `skip`, trailer; a turn before each datagram.
    void block(uint64_t id, const std::vector<uint32_t>& skip = {}) {
        turn();
        this->leader(id);
        for (uint32_t p = 1; p <= 10; ++p) {
            turn();
            if (std::find(skip.begin(), skip.end(), p) == skip.end())
                this->payload(id, p);
        }
        turn();
        this->trailer(id);
    }
};

using Assemblers = ::testing::Types<BlockAssembler, SecureAssembler>;
TYPED_TEST_SUITE(Assembly, Assemblers);

TYPED_TEST(Assembly, BlockIdsWrapWithoutLossAndJumpsCountTheSkippedBlocks) {
    for (uint64_t id : {65534u, 65535u, 1u, 2u}) {
        this->block(id);
        RingEntry* e = this->next();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->blockId, id);
        EXPECT_EQ(e->status, 0);
    }
    EXPECT_EQ(this->dev.counters.framesLost.load(), 0u);
    this->block(5);
    EXPECT_EQ(this->dev.counters.framesLost.load(), 2u);
    EXPECT_EQ(this->dev.counters.framesTotal.load(), 7u);
    EXPECT_EQ(this->dev.counters.packetsLost.load(), 20u);
    EXPECT_TRUE(LogCapture::instance().contains(TestFixture::kSecure
                                                    ? "[ERROR] - Missing blocks: 3 -> 4"
                                                    : "[ERROR] - Missing frames: 3 -> 4"));
}

TYPED_TEST(Assembly, HostileAndRepeatedDatagramsAreDropped) {
    this->leader(1);
    this->feed({0, 0, 0, 1, 3});  // shorter than any header
    std::vector<uint8_t> extended(12, 0);
    extended[4] = kExtendedIdFlag | kFormatPayload;  // other id mode, and short
    this->feed(extended);
    for (uint32_t p : {0u, 11u, 12u, 0xFFFFFFu})  // no such packet; one warning a block
        this->payload(1, p);
    this->payload(1, 2);
    this->payload(1, 1, 0, 3 * this->kPacketData);  // longer than its slot: cut to it
    this->payload(1, 1);                            // a repeat counts once
    this->leader(1);                                // a repeated leader does not restart
    for (uint32_t p = 3; p <= 10; ++p)
        this->payload(1, p);
    this->trailer(1);
    this->leader(1);  // stale copy after the block was handed over
    RingEntry* e = this->next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, GEV_STATUS_IMAGE_INCOMPLETE) << "flagged by the overlong packet";
    EXPECT_EQ(e->missingPackets, 0u);
    EXPECT_EQ(e->data[99], 2);
    EXPECT_EQ(e->data[100], 3) << "packet 2, not the overlong packet 1";
    EXPECT_EQ(this->next(), nullptr);
    EXPECT_EQ(this->dev.counters.framesTotal.load(), 1u);
    EXPECT_EQ(this->dev.counters.framesLost.load(), 0u);
    EXPECT_EQ(LogCapture::instance().count("[WARNING] - [BlockID 1] Packet number is larger than "
                                           "maximum (11 > 10)"),
              1u);
    EXPECT_EQ(LogCapture::instance().count("[WARNING] - [BlockID 1] Packet number"), 1u);
}

// The frame count ends reception after its last frame; a stop lets the current block finish.
TYPED_TEST(Assembly, ReceptionEndsAfterTheFrameCountAndAStopFinishesTheBlock) {
    this->dev.geometry.frameCountLimit = 2;
    this->block(1);
    EXPECT_FALSE(this->assembler->exitRequested());
    this->block(2);
    EXPECT_TRUE(this->assembler->exitRequested());
    EXPECT_EQ(this->dev.acquisitionStopped.load(), 1u);

    this->rebuild();
    this->leader(1);
    this->payload(1, 1);
    this->dev.acquisitionStopped = 1;
    EXPECT_FALSE(this->assembler->mayLeave());
    for (uint32_t p = 2; p <= 10; ++p)
        this->payload(1, p);
    this->trailer(1);
    EXPECT_TRUE(this->assembler->mayLeave());
    EXPECT_NE(this->next(), nullptr);
}

using BlockAssembly = Assembly<BlockAssembler>;

TEST_F(BlockAssembly, GapAsksForTheMissingPacketsAtOnceBeyondTheWindow) {
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

class LongBlocks : public BlockAssembly {
  protected:
    LongBlocks() : BlockAssembly(5000) {}  // 50 packets
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

TEST_F(BlockAssembly, TestRangeIsAskedAgainAndCompletes) {
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
TEST_F(BlockAssembly, BlocksEndAtTheirOwnLength) {
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

TEST_F(BlockAssembly, EarlyAndPendingBlocksWithResendOff) {
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

// A block waiting for resent packets is not given up when the next block's trailer finds that
// one incomplete too: both wait, in order, until their packets come.
TEST_F(BlockAssembly, TwoBlocksWaitForTheirResentPacketsInOrder) {
    dev.resendEnabled = 1;
    for (const uint64_t id : {1u, 2u}) {
        leader(id);
        for (uint32_t p = 1; p <= 9; ++p)
            payload(id, p);  // packet 10 lost
        trailer(id);
    }
    EXPECT_EQ(next(), nullptr) << "neither is given up";
    payload(1, 10, kStatusResent);
    payload(2, 10, kStatusResent);
    for (const uint64_t id : {1u, 2u}) {
        RingEntry* e = next();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(std::make_pair(e->blockId, e->status), std::make_pair(id, uint16_t{0}));
    }
}

TEST_F(BlockAssembly, ResentStatusIsUsedAndErrorStatusDropped) {
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

using SecureAssembly = Assembly<SecureAssembler>;

TEST_F(SecureAssembly, CallbackAtStartAndAfterEachCompletedBlock) {
    EXPECT_EQ(callbacks, 1);
    EXPECT_EQ(callbackDevice, 3);
    block(1);
    EXPECT_EQ(callbacks, 2);
    block(2);
    EXPECT_EQ(callbacks, 3);
    for (uint64_t id = 1; id <= 2; ++id) {
        RingEntry* e = next();
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->blockId, id);
        EXPECT_EQ(e->data[150], static_cast<uint8_t>(id + 2));
    }
    EXPECT_TRUE(resends.empty());
}

TEST_F(SecureAssembly, AsksForTheFirstMissingPacketAloneUntilItCame) {
    block(1, {7, 9});
    EXPECT_TRUE(resends.empty());  // nothing is asked before the trailer
    EXPECT_EQ(next(), nullptr);
    assembler->beforeWait();
    assembler->beforeWait();
    EXPECT_EQ(resends, (std::vector<Request>{{1, 7, 7}, {1, 7, 7}}));
    payload(1, 7);
    assembler->beforeWait();
    EXPECT_EQ(resends.back(), (Request{1, 9, 9}));
    EXPECT_EQ(callbacks, 1);
    payload(1, 9);
    EXPECT_EQ(callbacks, 2);
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(e->data[6 * kPacketData], static_cast<uint8_t>(1 + 7));
    EXPECT_TRUE(LogCapture::instance().contains("[INFO] - Packet resend [BlockID 1] -> 7"));
    EXPECT_TRUE(LogCapture::instance().contains(
        "[INFO] - Packet resend [BlockID 1] -> requested: 3, received: 2 packets"));
    // Nothing more is asked once the block is complete.
    const size_t asked = resends.size();
    assembler->beforeWait();
    EXPECT_EQ(resends.size(), asked);
}

TEST_F(SecureAssembly, UnsentRequestsAreLoggedAndNotCounted) {
    sendWorks = false;
    block(1, {4});
    assembler->beforeWait();
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Can't send packet resend command"));
    payload(1, 4);
    EXPECT_TRUE(LogCapture::instance().contains(
        "[INFO] - Packet resend [BlockID 1] -> requested: 0, received: 1 packets"));
}

TEST_F(SecureAssembly, TimeOutsCompleteOrStartResending) {
    // All packets but no trailer: the time-out hands the block over.
    leader(1);
    for (uint32_t p = 1; p <= 10; ++p)
        payload(1, p);
    EXPECT_EQ(next(), nullptr);
    assembler->onTimeout();
    EXPECT_NE(next(), nullptr);
    EXPECT_EQ(LogCapture::instance().count("[WARNING] - Trailer is missing."), 1u);
    EXPECT_EQ(callbacks, 2);
    // Packets missing and no trailer: the time-out starts the requests.
    leader(2);
    payload(2, 1);
    assembler->onTimeout();
    assembler->beforeWait();
    EXPECT_EQ(resends, (std::vector<Request>{{2, 2, 2}}));
    EXPECT_EQ(LogCapture::instance().count("[WARNING] - Trailer is missing."), 2u);
    // Without a block there is nothing to miss.
    LogCapture::instance().clear();
    assembler->finish();
    assembler->onTimeout();
    EXPECT_EQ(LogCapture::instance().count("[WARNING]"), 0u);
}

// An incomplete block replaced by the next leader is counted and its entry reused.
TEST_F(SecureAssembly, ReplacedBlocksAreCountedAndTheirEntriesReused) {
    // More replaced blocks than ring entries: none may keep its entry.
    for (uint64_t id = 1; id <= 6; ++id) {
        leader(id);
        payload(id, 1);
    }
    block(7);
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->blockId, 7u);
    EXPECT_EQ(next(), nullptr);
    EXPECT_EQ(dev.counters.framesTotal.load(), 7u);
    EXPECT_EQ(dev.counters.framesLost.load(), 6u);
    EXPECT_EQ(dev.counters.packetsLost.load(), 6u * 9);
}

// Without a description the leader must fill the payload size; with one, it must match it.
TEST_F(SecureAssembly, HeadersAreHeldToThePayloadSizeOrTheDescribedGeometry) {
    leader(1);
    EXPECT_TRUE(LogCapture::instance().lines().empty());
    leader(3, 90);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Stream header wrong (3):"));
    EXPECT_TRUE(
        LogCapture::instance().contains("[ERROR] - Payload size expected -> 1000, actual -> 900"));

    rebuild();
    dev.geometry.fromDescription = true;
    dev.geometry.imageWidth = kWidth;
    dev.geometry.imageHeight = kHeight;
    dev.geometry.imagePixelFormat = 0x01080001;
    leader(1, 96);
    const auto lines = LogCapture::instance().lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "[ERROR] - Stream header wrong (1):");
    EXPECT_EQ(lines[1], "[ERROR] - Width expected -> 100, actual -> 96");
    EXPECT_EQ(lines[2], "[ERROR] - Height expected -> 10, actual -> 10");
    EXPECT_EQ(lines[3], "[ERROR] - Pixelformat expected -> 0x01080001, actual -> 0x01080001");
    for (uint32_t p = 1; p <= 10; ++p)
        payload(1, p);
    trailer(1);
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->sizeX, kWidth);
}

TEST_F(SecureAssembly, FrameCountEndsReceptionAlsoAfterAResentPacket) {
    dev.geometry.frameCountLimit = 1;
    block(1, {3});
    EXPECT_FALSE(assembler->exitRequested());
    assembler->beforeWait();
    payload(1, 3);
    EXPECT_TRUE(assembler->exitRequested());
    EXPECT_EQ(dev.acquisitionStopped.load(), 1u);
}

}  // namespace
}  // namespace kavro::gvsp
