// The secure-transfer receiver: from hand-made datagrams (callback moments, one request per turn,
// time-outs, flagged resends, hostile packets) and end to end against the simulated camera.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <tuple>
#include <vector>

#include "frame/device_table.h"
#include "gvcp/wire.h"
#include "gvsp/resend_command.h"
#include "gvsp/secure_receiver.h"
#include "tests/support/assembler_harness.h"
#include "tests/support/stream_fixture.h"

namespace kavro::gvsp {
namespace {

using namespace std::chrono_literals;
using test::LogCapture;

std::atomic<int> callbacks{0};
std::atomic<int> callbackDevice{0};
void countCallback(uint8_t device) {
    ++callbacks;
    callbackDevice = device;
}

class SecureAssembly : public test::AssemblerHarness<SecureAssembler> {
  protected:
    void SetUp() override {
        callbacks = 0;
        dev.deviceIndex = 3;
        dev.secureCallback = &countCallback;
        build(4);
        assembler->start();
    }
    // Leader, payload packets but those in `skip`, trailer; a wait turn before each datagram as
    // the thread makes.
    void block(uint64_t id, std::vector<uint32_t> skip = {}) {
        assembler->beforeWait();
        leader(id);
        for (uint32_t p = 1; p <= 10; ++p) {
            assembler->beforeWait();
            if (std::find(skip.begin(), skip.end(), p) == skip.end())
                payload(id, p);
        }
        assembler->beforeWait();
        trailer(id);
    }
};

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
        EXPECT_EQ(e->status, 0);
        EXPECT_EQ(e->missingPackets, 0u);
        EXPECT_EQ(e->data[150], static_cast<uint8_t>(id + 2));
    }
    EXPECT_TRUE(resends.empty());
    EXPECT_EQ(dev.counters.framesTotal.load(), 2u);
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

TEST_F(SecureAssembly, HostileAndRepeatedDatagramsAreDropped) {
    leader(1);
    feed({0, 0, 0, 1, 3, 0, 0});        // shorter than its header
    payload(1, 11);                     // beyond N
    payload(1, 12);                     // the warning is given once per block
    payload(1, 0);                      // packet 0 does not exist
    payload(1, 1, 0, kPacketData * 3);  // longer than its slot: cut to it
    payload(1, 1, 0, 10);               // a repeat does not overwrite nor count again
    leader(1);                          // a repeated leader does not restart the block
    for (uint32_t p = 2; p <= 10; ++p)
        payload(1, p);
    trailer(1);
    RingEntry* e = next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->missingPackets, 0u);
    EXPECT_EQ(e->data[99], static_cast<uint8_t>(2));
    EXPECT_EQ(e->data[100], static_cast<uint8_t>(3));  // packet 2, not the overlong packet 1
    EXPECT_EQ(LogCapture::instance().count("[WARNING] - [BlockID 1] Packet number is larger than "
                                           "maximum (11 > 10)"),
              1u);
    EXPECT_EQ(LogCapture::instance().count("[WARNING] - [BlockID 1] Packet number"), 1u);
}

// An incomplete block replaced by the next leader is counted and its entry reused, and so are
// block ids skipped.
TEST_F(SecureAssembly, ReplacedAndSkippedBlocksAreCountedAndTheirEntriesReused) {
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
    block(10);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Missing blocks: 8 -> 9"));
    EXPECT_EQ(dev.counters.framesLost.load(), 8u);
    EXPECT_EQ(dev.counters.framesTotal.load(), 10u);
}

// Without a description the leader must fill the payload size; with one, it must match it.
TEST_F(SecureAssembly, HeadersAreHeldToThePayloadSizeOrTheDescribedGeometry) {
    leader(1);
    EXPECT_TRUE(LogCapture::instance().lines().empty());
    leader(3, 90);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Stream header wrong (3):"));
    EXPECT_TRUE(
        LogCapture::instance().contains("[ERROR] - Payload size expected -> 1000, actual -> 900"));

    build(4);
    assembler->start();
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

// End to end: the library's secure-transfer receiver against the simulated camera.
class SecureStreaming : public test::StreamingTest {
  protected:
    void SetUp() override {
        callbacks = 0;
        StreamingTest::SetUp();
        ASSERT_EQ(GEVSetDetailedLog(kDevice, 0x07), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVSetSecureTransfer(kDevice, 1, &countCallback), GEV_STATUS_SUCCESS);
        GevChannelParameter p{};
        ASSERT_EQ(GEVGetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
        p.imageTimeout = 5000;  // generous: sanitizer builds on a loaded machine
        ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
        format.width = 640;  // 22 packets of 1452 bytes
        format.frameRate = 4.0;
    }
    // Packet resend commands the camera received: (block id, first, last).
    std::vector<std::tuple<uint64_t, uint32_t, uint32_t>> requests() const {
        std::vector<std::tuple<uint64_t, uint32_t, uint32_t>> out;
        for (const auto& c : commands(kPacketResendCommand)) {
            const auto r = parseResendPayload(
                c.flags, c.reqId, std::span<const uint8_t>(c.bytes).subspan(gvcp::kHeaderSize));
            if (r)
                out.emplace_back(r->blockId, r->firstPacket, r->lastPacket);
        }
        return out;
    }
    // Streams `frames` blocks with `faults` and expects each whole.
    void streamWhole(const sim::StreamFaults& faults, uint32_t frames) {
        source->setFaults(faults);
        format.frameCount = frames;
        ASSERT_EQ(start(format, frames), GEV_STATUS_SUCCESS);
        ASSERT_TRUE(source->start(format));
        std::string fault;
        EXPECT_EQ(test::completeFrames(kDevice, format, frames, fault), frames) << fault;
    }
};

TEST_F(SecureStreaming, LostPacketsArriveWhenAskedOneAtATime) {
    sim::StreamFaults faults;
    faults.flagResentPackets = false;
    faults.resendSinglePacketsOnly = true;
    faults.dropPackets = {{2, 7}, {2, 9}};
    streamWhole(faults, 3);
    const auto asked = requests();
    ASSERT_FALSE(asked.empty());
    bool sawNine = false;
    for (const auto& [block, first, last] : asked) {
        EXPECT_EQ(block, 2u);
        EXPECT_EQ(first, last);
        // Packet 7 is asked for until it came; only then packet 9.
        if (first == 9)
            sawNine = true;
        else
            EXPECT_FALSE(sawNine) << "packet " << first << " asked for after packet 9";
        EXPECT_TRUE(first == 7 || first == 9) << first;
    }
    EXPECT_TRUE(sawNine);
    // Once at start, then after each completed block but the last (the frame count ends there).
    EXPECT_GE(callbacks, 3);
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(LogCapture::instance().contains("[INFO] - Frames: 3, Errors: 0 Lost: 0.00 %"));
}

TEST_F(SecureStreaming, AVersionTwoCameraWithShortIdsAndFlaggedResendsCompletesItsBlocks) {
    sim::StreamFaults faults;
    faults.resendSinglePacketsOnly = true;  // resent packets carry the camera's 0x0100 flag
    faults.dropPackets = {{1, 1}};
    format.extendedIds = false;  // a version 2 device streaming 16-bit block ids
    format.width = 16;           // one packet a block, whatever the header size
    streamWhole(faults, 2);
    EXPECT_GE(source->stats().packetsResent, 1u);
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
}

TEST_F(SecureStreaming, ChunksReachTheChunkRecordAndMultiPartBlocksAreRefused) {
    format.payloadType = 0x4001;
    format.chunkExposureUs = 777;
    format.frameCount = 1;
    ASSERT_EQ(GEVAcquisitionStartEx(kDevice, 1, sim::blockBytes(format)), GEV_STATUS_SUCCESS);
    ASSERT_TRUE(source->start(format));
    GevImageHeader h{};
    ASSERT_EQ(GEVGetImage(kDevice, &h), GEV_STATUS_SUCCESS);
    EXPECT_EQ(h.chunkLength, sim::kChunkBytes);
    const auto chunks = sim::chunkBytes(format, 1, format.width * format.height);
    EXPECT_EQ(frame::DeviceTable::instance().record(kDevice)->lastChunkData.snapshot(),
              std::vector<uint8_t>(chunks.begin(), chunks.end()));
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);

    source->stop();
    format.payloadType = 0x000A;
    format.parts = 2;
    format.dataBytes = 4000;
    ASSERT_EQ(GEVAcquisitionStartEx(kDevice, 1, 4000), GEV_STATUS_SUCCESS);
    ASSERT_TRUE(source->start(format));
    EXPECT_EQ(GEVGetImage(kDevice, nullptr), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
}

}  // namespace
}  // namespace kavro::gvsp
