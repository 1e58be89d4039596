// Streaming end to end: the library's receivers, plain and secure-transfer, against the simulated
// camera's stream source over loopback.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <tuple>
#include <vector>

#include "frame/device_table.h"
#include "gvcp/wire.h"
#include "gvsp/resend_command.h"
#include "tests/support/stream_fixture.h"

namespace kavro::test {
namespace {

using namespace std::chrono_literals;

using Streaming = StreamingTest;
using Requests = std::vector<std::tuple<uint64_t, uint32_t, uint32_t>>;

// The packet resend requests among `commands`: (block id, first, last).
Requests resendRequests(const std::vector<sim::ReceivedCommand>& commands) {
    Requests out;
    for (const auto& c : commands) {
        const auto r = gvsp::parseResendPayload(
            c.flags, c.reqId, std::span<const uint8_t>(c.bytes).subspan(gvcp::kHeaderSize));
        if (r)
            out.emplace_back(r->blockId, r->firstPacket, r->lastPacket);
    }
    return out;
}

TEST_F(Streaming, PaddingIsRemovedAndShortImagesEndInZeros) {
    format.paddingX = 16;
    format.width = 100;
    format.height = 20;
    format.trailerHeight = 12;
    format.frameCount = 1;
    play();
    std::vector<uint8_t> image(sim::blockBytes(format), 0x55);
    GevImageHeader h{};
    ASSERT_EQ(GEVGetImageBuffer(kDevice, &h, image.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(h.sizeY, 12u);
    for (uint32_t y = 0; y < 12; ++y) {
        for (uint32_t x = 0; x < 100; ++x) {
            ASSERT_EQ(image[y * 100 + x], sim::frameByte(1, y * 116 + x)) << y << "," << x;
        }
    }
    for (size_t o = 1200; o < 2000; ++o)
        ASSERT_EQ(image[o], 0) << o;
}

TEST_F(Streaming, RawDataIsCopiedByItsByteCount) {
    format.payloadType = 0x0002;
    format.dataBytes = 5000;
    format.frameCount = 1;
    play(8000);
    std::vector<uint8_t> data(8000, 0x55);
    GevImageHeader h{};
    ASSERT_EQ(GEVGetImageBuffer(kDevice, &h, data.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(h.sizeX, 0xFFFFFFFFu);
    EXPECT_EQ(h.sizeY, 5000u);
    EXPECT_EQ(data[4999], sim::frameByte(1, 4999));
    EXPECT_EQ(data[5000], 0x55);
}

TEST_F(Streaming, ChunksAfterTheImageReachTheCallerAndTheChunkRecord) {
    format.payloadType = 0x4001;
    format.chunkExposureUs = 1234;
    format.chunkTemperatureRaw = -40;
    format.frameCount = 2;
    const uint32_t imageBytes = format.width * format.height;
    play();
    auto& dev = *frame::DeviceTable::instance().record(kDevice);
    std::vector<uint8_t> block(sim::blockBytes(format));
    GevImageHeader h{};
    ASSERT_EQ(GEVGetImageBuffer(kDevice, &h, block.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(h.payloadType, 0x4001);
    EXPECT_EQ(h.chunkLength, sim::kChunkBytes);
    EXPECT_EQ(h.chunkLayoutId, sim::kChunkLayoutId);
    const auto chunks = sim::chunkBytes(format, 1, imageBytes);
    EXPECT_TRUE(std::equal(chunks.begin(), chunks.end(), block.begin() + imageBytes));
    EXPECT_EQ(dev.lastChunkData.snapshot(), std::vector<uint8_t>(chunks.begin(), chunks.end()));
    // The ring-buffer call keeps them too.
    uint8_t index = 0;
    ASSERT_EQ(GEVGetImageRingBuffer(kDevice, &h, &index), GEV_STATUS_SUCCESS);
    const auto second = sim::chunkBytes(format, 2, imageBytes);
    EXPECT_EQ(dev.lastChunkData.snapshot(), std::vector<uint8_t>(second.begin(), second.end()));
    EXPECT_EQ(GEVQueueRingBuffer(kDevice, index), GEV_STATUS_SUCCESS);
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);

    // The secure-transfer receiver hands them over alike.
    source->stop();
    ASSERT_EQ(GEVSetSecureTransfer(kDevice, 1, nullptr), GEV_STATUS_SUCCESS);
    play();
    ASSERT_EQ(GEVGetImage(kDevice, &h), GEV_STATUS_SUCCESS);
    EXPECT_EQ(h.chunkLength, sim::kChunkBytes);
    EXPECT_EQ(dev.lastChunkData.snapshot(), std::vector<uint8_t>(chunks.begin(), chunks.end()));
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);

    // An image without chunks clears them.
    source->stop();
    format.payloadType = 0x0001;
    format.frameCount = 1;
    play();
    ASSERT_EQ(GEVGetImage(kDevice, nullptr), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(dev.lastChunkData.snapshot().empty());
}

// Blocks that can't be delivered as sent say so in their status.
TEST_F(Streaming, MultiPartBlocksAreRefusedAndOverlongPacketsFlagged) {
    format.payloadType = 0x000A;
    format.parts = 2;
    format.dataBytes = 4000;
    format.frameCount = 1;
    ASSERT_EQ(GEVSetDetailedLog(kDevice, 0x07), GEV_STATUS_SUCCESS);
    for (const int8_t secure : {1, 0}) {  // both receivers
        ASSERT_EQ(GEVSetSecureTransfer(kDevice, secure, nullptr), GEV_STATUS_SUCCESS);
        play(format.dataBytes);
        EXPECT_EQ(GEVGetImage(kDevice, nullptr), GEV_STATUS_NOT_SUPPORTED) << int{secure};
        EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
        source->stop();
    }
    EXPECT_TRUE(LogCapture::instance().contains(
        "[ERROR] - [BlockID 1] Multi-part block (packet format 7) is not supported: handed over "
        "without data, status 0xC020"));

    // Raw data longer than the payload size: its last packet does not fit.
    format.payloadType = 0x0002;
    format.parts = 0;
    play(format.dataBytes - 10);
    EXPECT_EQ(GEVGetImage(kDevice, nullptr), GEV_STATUS_IMAGE_INCOMPLETE);
    EXPECT_TRUE(LogCapture::instance().contains(
        "[ERROR] - [BlockID 1] Packet 3 carries 1096 bytes, its place 1086: block incomplete"));
}

// Lost leaders and a lost tail are asked for again. The secure-transfer receiver, which holds
// one block at a time, begins a block whose leader was lost with its first packet that comes:
// the first block's, one with a payload packet lost too, and one that lost its trailer as well.
TEST_F(Streaming, LostLeaderAndLostTailAreAskedForAgain) {
    format.width = 640;  // 22 packets of 1452 bytes; the trailer is packet 23
    format.frameCount = 4;
    format.frameRate = 50;
    const std::vector<std::pair<int8_t, std::set<std::pair<uint64_t, uint32_t>>>> rows = {
        {0, {{2, 0}, {3, 21}, {3, 22}, {3, 23}}},
        {1, {{1, 0}, {2, 0}, {2, 5}, {3, 0}, {3, 23}}},
    };
    for (const auto& [secure, drops] : rows) {
        SCOPED_TRACE(secure != 0 ? "secure-transfer receiver" : "receiver");
        ASSERT_EQ(GEVSetSecureTransfer(kDevice, secure, nullptr), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVSetPacketResend(kDevice, 1), GEV_STATUS_SUCCESS);
        LogCapture::instance().clear();
        sim::StreamFaults faults;
        faults.dropPackets = drops;
        source->setFaults(faults);
        play();
        std::string fault;
        EXPECT_EQ(completeFrames(kDevice, format, 4, fault), 4u) << fault;
        GevImageHeader last{};
        EXPECT_EQ(get_image_header(kDevice, &last), GEV_STATUS_SUCCESS);
        EXPECT_EQ((std::vector<uint64_t>{last.blockId, last.sizeX, last.sizeY}),
                  (std::vector<uint64_t>{4, format.width, format.height}));
        EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
        EXPECT_TRUE(LogCapture::instance().contains("[INFO] - Frames: 4, Errors: 0 Lost: 0.00 %"));
        source->stop();
    }
}

TEST_F(Streaming, StopCountsNoBlockThatNeverStarted) {
    format.frameRate = 100;  // the camera's stop aborts the frame then due
    play();
    for (int k = 0; k < 5; ++k)
        ASSERT_EQ(GEVGetImage(kDevice, nullptr), GEV_STATUS_SUCCESS);
    source->stop();
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    const uint64_t sent = source->stats().framesSent;
    const std::string frames = "[INFO] - Frames: " + std::to_string(sent);
    EXPECT_TRUE(LogCapture::instance().contains(frames + ", Errors: 0 Lost: 0.00 %")) << frames;
    EXPECT_TRUE(LogCapture::instance().contains("[INFO] - Packets: " + std::to_string(3 * sent) +
                                                ", Errors: 0 Lost: 0.00 %"));
}

// No start without a payload size or with one beyond the image memory's bound; no image within
// the time-out.
TEST_F(Streaming, NoStartWithoutAFittingPayloadSizeAndNoImageWithinTheTimeOut) {
    EXPECT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_NO_PAYLOAD_SIZE);
    EXPECT_EQ(GEVAcquisitionStartEx(kDevice, 0, (1u << 30) + 1), GEV_STATUS_OUT_OF_MEMORY);
    EXPECT_TRUE(
        LogCapture::instance().contains("[ERROR] - Can't alloc memory. PayloadSize = 1073741825"));
    GevChannelParameter p{};
    ASSERT_EQ(GEVGetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
    p.imageTimeout = 150;
    ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVAcquisitionStartEx(kDevice, 0, sim::blockBytes(format)), GEV_STATUS_SUCCESS)
        << "the refused starts left the stream lock free";
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(GEVGetImage(kDevice, nullptr), GEV_STATUS_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 140ms);
    uint32_t size = 7;
    EXPECT_EQ(grab_image(kDevice, 0, &size), GEV_STATUS_TIMEOUT);
    EXPECT_EQ(size, 0u);
}

TEST_F(Streaming, RegisteredBuffersAreFilledInOrder) {
    format.frameCount = 6;
    format.frameRate = 200;
    std::vector<std::vector<uint8_t>> buffers(4, std::vector<uint8_t>(sim::blockBytes(format)));
    for (auto& b : buffers)
        ASSERT_EQ(GEVSetRingBuffer(kDevice, 0, b.data()), GEV_STATUS_SUCCESS);
    uint16_t count = 0;
    EXPECT_EQ(GEVGetBufferCount(kDevice, &count), GEV_STATUS_SUCCESS);
    EXPECT_EQ(count, 4);
    play();
    for (uint64_t id = 1; id <= 6; ++id) {
        uint8_t index = 0xFF;
        GevImageHeader h{};
        ASSERT_EQ(GEVGetImageRingBuffer(kDevice, &h, &index), GEV_STATUS_SUCCESS);
        EXPECT_EQ(index, (id - 1) % 4);
        EXPECT_EQ(buffers[index][10], sim::frameByte(id, 10));
        EXPECT_EQ(GEVQueueRingBuffer(kDevice, index), GEV_STATUS_SUCCESS);
    }
    EXPECT_EQ(GEVQueueRingBuffer(kDevice, 0), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(GEVReleaseRingBuffer(kDevice), GEV_STATUS_SUCCESS);
    buffers[0][0] = 1;
}

// A receiver waiting in a stream time-out far longer than the stop's image time-out ends at its
// stop all the same, so the next acquisition (started at once, on the same socket) gets every
// packet of every image; for both kinds of stopped receiver.
TEST_F(Streaming, ReceiverEndsAtItsStopAndTheNextAcquisitionGetsEveryImage) {
    for (const int8_t secure : {0, 1}) {
        SCOPED_TRACE(secure != 0 ? "secure-transfer receiver stopped" : "receiver stopped");
        ASSERT_EQ(GEVSetSecureTransfer(kDevice, secure, nullptr), GEV_STATUS_SUCCESS);
        GevChannelParameter p{};
        ASSERT_EQ(GEVGetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
        p.streamTimeout = 1500;
        p.imageTimeout = 300;
        ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
        format.frameCount = 2;
        format.frameRate = 0;
        play();
        for (int k = 0; k < 2; ++k)
            ASSERT_EQ(GEVGetImage(kDevice, nullptr), GEV_STATUS_SUCCESS);
        ASSERT_TRUE(source->waitFinished(3s));
        source->stop();
        ASSERT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);

        p.imageTimeout = 3000;  // for the waits below only
        ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
        // The next acquisition never asks for lost packets again: any packet taken from it shows.
        ASSERT_EQ(GEVSetSecureTransfer(kDevice, 0, nullptr), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVSetPacketResend(kDevice, 0), GEV_STATUS_SUCCESS);
        format.frameCount = 20;
        format.frameRate = 100;
        play();
        std::string fault;
        EXPECT_EQ(completeFrames(kDevice, format, 20, fault), 20u) << fault;
        source->stop();
        ASSERT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    }
}

// A version 2 camera is asked with 64-bit block ids, a version 1 camera with 16-bit ones.
TEST_F(Streaming, ResendRequestUsesBothLayouts) {
    for (const uint8_t version : {2, 1}) {
        record(kDevice).gevVersionMajor = version;
        camera().clearReceivedCommands();
        ASSERT_EQ(GEVPacketResend(kDevice, 0, 0x0000000100000007ull, 3, 4), GEV_STATUS_SUCCESS);
        const auto sent = awaitCommands(gvsp::kPacketResendCommand, 1000ms);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].bytes.size(), version == 2 ? 28u : 20u);
        EXPECT_EQ(resendRequests(sent), (Requests{{version == 2 ? 0x100000007u : 7u, 3, 4}}));
    }
}

std::atomic<int> callbacks{0};
void countCallback(uint8_t) {
    ++callbacks;
}

// The secure-transfer receiver's thread: a version 2 camera streaming 16-bit block ids, whose
// resent packets carry its 0x0100 flag, gets every block whole; the callback comes at start and
// after each completed block but the last (the frame count ends there).
TEST_F(Streaming, SecureTransferWithShortIdsAndFlaggedResendsCompletesItsBlocks) {
    callbacks = 0;
    ASSERT_EQ(GEVSetSecureTransfer(kDevice, 1, &countCallback), GEV_STATUS_SUCCESS);
    GevChannelParameter p{};
    ASSERT_EQ(GEVGetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
    p.imageTimeout = 5000;  // generous: sanitizer builds on a loaded machine
    ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
    sim::StreamFaults faults;
    faults.resendSinglePacketsOnly = true;
    faults.dropPackets = {{1, 1}};
    source->setFaults(faults);
    format.extendedIds = false;
    format.width = 16;  // one packet a block, whatever the header size
    format.frameRate = 4.0;
    format.frameCount = 2;
    play(0, 2);
    std::string fault;
    EXPECT_EQ(completeFrames(kDevice, format, 2, fault), 2u) << fault;
    EXPECT_GE(source->stats().packetsResent, 1u);
    EXPECT_GE(callbacks, 2);
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(LogCapture::instance().contains("[INFO] - Frames: 2, Errors: 0 Lost: 0.00 %"));
}

// 1000 frames with faults: with resend on every frame arrives complete, every byte in its
// place. Faults that no resend repairs (`repairable` false: packets of the wrong size) leave
// frames incomplete, and only those.
class FaultedStreaming : public Streaming {
  protected:
    void run(const sim::StreamFaults& faults, bool repairable = true);
};

void FaultedStreaming::run(const sim::StreamFaults& faults, bool repairable) {
    ASSERT_EQ(GEVSetPacketResend(kDevice, 1), GEV_STATUS_SUCCESS);
    format.width = 256;
    format.height = 100;  // 18 packets
    format.frameCount = 1000;
    // A resent packet has about one frame time to come back before its block is handed over,
    // and the simulated camera answers resends between its own packets: on a busy machine its
    // thread falls behind, so the frame time leaves a margin of several milliseconds. Sanitizer
    // builds slow the camera's threads several times over, so they stream slower still.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    format.frameRate = 60;
#else
    format.frameRate = 150;
#endif
    format.extendedIds = true;
    ASSERT_EQ(GEVSetBufferCount(kDevice, 16), GEV_STATUS_SUCCESS);
    source->setFaults(faults);
    play();
    uint32_t complete = 0;
    uint32_t incomplete = 0;
    for (const TakenImage& t : takeImages(kDevice, format, 1000)) {
        if (t.whole) {
            ++complete;
        } else if (t.status == GEV_STATUS_IMAGE_INCOMPLETE && !repairable) {
            ++incomplete;
        } else {
            ADD_FAILURE() << "block " << t.blockId << " status " << t.status << " missing "
                          << t.missingPackets;
        }
    }
    const sim::StreamStats sent = source->stats();
    EXPECT_EQ(complete + incomplete, 1000u)
        << "camera: " << sent.packetsLost << " packets lost, " << sent.resendRequests
        << " resend requests, " << sent.packetsResent << " packets resent";
    EXPECT_GT(sent.packetsResent, 0u);
    if (!repairable) {
        EXPECT_GT(complete, 0u);
        EXPECT_GT(incomplete, 0u);
    }
    source->stop();
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
}

TEST_F(FaultedStreaming, OnePercentLossWithResendLosesNoFrame) {
    sim::StreamFaults faults;
    faults.seed = 7;
    faults.lose = 0.01;
    run(faults);
}

// Packets read straight into the place of the packet expected next: a wrong guess after a
// loss, a duplicate or a late packet aimed at a place that holds data already, and packets cut
// short or lengthened in the middle of a run of right guesses.
TEST_F(FaultedStreaming, DuplicatedReorderedAndMisSizedPacketsLandInTheirPlaces) {
    sim::StreamFaults faults;
    faults.seed = 13;
    faults.lose = 0.01;
    faults.duplicate = 0.02;
    faults.reorder = 0.02;
    faults.reorderDistance = 5;
    run(faults);
    faults.seed = 17;
    faults.wrongSize = 0.002;
    run(faults, false);
    // Handed over in runs, as by a host's receive coalescing: the first packet of a run read
    // in place, the rest cut out of it, a trailer at a run's end. Runs of four, so that reads
    // take several runs of the length they have seen.
    format.runLength = 4;
    faults.seed = 19;
    faults.wrongSize = 0.0;
    run(faults);
}

}  // namespace
}  // namespace kavro::test
