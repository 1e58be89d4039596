// The secure-transfer receiver end to end against the simulated camera: one request per turn,
// flagged resends, chunks and refused multi-part blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <tuple>
#include <vector>

#include "frame/device_table.h"
#include "gvcp/wire.h"
#include "gvsp/resend_command.h"
#include "tests/support/stream_fixture.h"

namespace kavro::gvsp {
namespace {

using namespace std::chrono_literals;
using test::LogCapture;

std::atomic<int> callbacks{0};
void countCallback(uint8_t) {
    ++callbacks;
}

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
