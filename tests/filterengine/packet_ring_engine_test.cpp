// The packet-ring engine behind the filter device interface, driven with the library's own
// requests against the simulated camera's stream on loopback. Needs CAP_NET_RAW; skipped without.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "filterdriver/filter_device.h"
#include "filterdriver/requests.h"
#include "filterengine/frame_pacing.h"
#include "filterengine/packet_ring_driver.h"
#include "gvsp/acquisition.h"
#include "gvsp/wire.h"
#include "tests/support/stream_fixture.h"

namespace kavro::test {
namespace {

using namespace std::chrono_literals;
using namespace filterdriver;
using Bytes = std::vector<uint8_t>;

Bytes indexed(size_t size, uint8_t device, size_t at = 0) {
    Bytes b(size);
    b[at] = device;
    return b;
}

class PacketRingEngine : public StreamingTest {
  protected:
    void SetUp() override {
        uint32_t error = 0;
        driver = filterengine::openPacketRingDriver(kDriverName, error);
        if (error == kErrorAccessDenied)
            GTEST_SKIP() << "capturing packets needs CAP_NET_RAW";
        ASSERT_NE(driver, nullptr) << error;
        StreamingTest::SetUp();
        ASSERT_EQ(sendBindAdapter(*driver, adapterDeviceName("lo")), 0u);
    }
    void TearDown() override {
        driver.reset();
        StreamingTest::TearDown();
    }
    StreamStart startFor(uint32_t payloadSize) {
        uint32_t dataSize = 0;
        EXPECT_EQ(gvsp::readPacketDataSize(record(kDevice), dataSize), GEV_STATUS_SUCCESS);
        return {.deviceAddress = camera().addressNet(),
                .streamPort = record(kDevice).streamPort,
                .destination = htonl(INADDR_LOOPBACK),
                .payloadSize = payloadSize,
                .packetDataSize = static_cast<uint16_t>(dataSize),
                .maxResend = 10,
                .imageTimeoutMs = 1000};
    }
    // Reads `frames` images through the engine, by block id; every one must come whole.
    std::map<uint64_t, Bytes> readImages(uint32_t frames, uint32_t payloadSize) {
        std::map<uint64_t, Bytes> images;
        for (uint32_t k = 0; k < frames; ++k) {
            Bytes image(payloadSize, 0x55);
            GevImageHeader h{};
            const GevStatus read = readImage(*driver, kDevice, image);
            if (read != GEV_STATUS_SUCCESS ||
                sendGetImageHeader(*driver, kDevice, h) != GEV_STATUS_SUCCESS) {
                ADD_FAILURE() << "image " << k << ": status " << read;
                break;
            }
            EXPECT_EQ(h.missingPackets, 0u) << h.blockId;
            images[h.blockId] = std::move(image);
        }
        return images;
    }

    std::unique_ptr<FilterDevice> driver;
};

// A padded stream whose trailers report fewer lines than the leaders, losing 1 % of its
// packets: the engine asks for them again through the library's control channel and delivers
// every image whole, byte for byte as the socket path delivers the same stream. The engine sees
// packets a ring block at a time (a few milliseconds; several frames when a busy machine holds
// the simulated camera back and it catches up in one burst): the frame time leaves the resent
// packets a margin of many blocks.
TEST_F(PacketRingEngine, ImagesEqualTheSocketPathsWithLossRepairedByResend) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr uint32_t kFrames = 60;
#else
    constexpr uint32_t kFrames = 100;
#endif
    format.width = 256;
    format.paddingX = 16;
    format.height = 100;
    format.trailerHeight = 90;
    format.frameCount = kFrames;
    format.frameRate = 30;
    sim::StreamFaults faults;
    faults.seed = 5;
    faults.lose = 0.01;
    const uint32_t payloadSize = sim::blockBytes(format);

    StreamStart s = startFor(payloadSize);
    s.resendEnabled = 1;
    ASSERT_EQ(sendSetBufferCount(*driver, kDevice, 16), GEV_STATUS_SUCCESS);
    ASSERT_EQ(sendStartStream(*driver, kDevice, s), GEV_STATUS_SUCCESS);
    source->setFaults(faults);
    ASSERT_TRUE(source->start(format));
    const auto viaEngine = readImages(kFrames, payloadSize);
    ASSERT_TRUE(source->waitFinished(5s));
    EXPECT_GT(source->stats().packetsResent, 0u);
    source->stop();
    ASSERT_EQ(sendStopStream(*driver, kDevice), GEV_STATUS_SUCCESS);

    DriverStatistics st;
    ASSERT_EQ(sendGetStatistics(*driver, kDevice, st), GEV_STATUS_SUCCESS);
    // Images received, images with errors, packet errors, frame intervals.
    EXPECT_EQ((std::vector<uint64_t>{st.framesReceived, st.framesWithErrors, st.packetErrors,
                                     st.intervalCount}),
              (std::vector<uint64_t>{kFrames, 0, 0, kFrames - 1}));
    EXPECT_GT(st.intervalSumMs, 0u);
    GevImageHeader header{};
    ASSERT_EQ(sendGetImageHeader(*driver, kDevice, header), GEV_STATUS_SUCCESS);
    EXPECT_EQ(header.blockId, uint64_t{kFrames});
    EXPECT_EQ(header.sizeY, format.trailerHeight) << "lines delivered";

    // The same stream through the socket path.
    ASSERT_EQ(GEVSetPacketResend(kDevice, 1), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetBufferCount(kDevice, 16), GEV_STATUS_SUCCESS);
    source->setFaults(faults);
    play();
    for (uint32_t k = 0; k < kFrames; ++k) {
        Bytes image(payloadSize, 0x55);
        GevImageHeader h{};
        ASSERT_EQ(GEVGetImageBuffer(kDevice, &h, image.data()), GEV_STATUS_SUCCESS) << k;
        const auto engine = viaEngine.find(h.blockId);
        ASSERT_NE(engine, viaEngine.end()) << h.blockId;
        ASSERT_TRUE(engine->second == image) << "block " << h.blockId;
    }
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
}

// Requests the engine can't act on are refused with the number the library maps, and a read
// with no image to give ends at the start's image time-out.
TEST_F(PacketRingEngine, RefusesMalformedRequestsAndTimesOutAReadWithoutImage) {
    struct Case {
        const char* what;
        uint32_t code;
        Bytes in;
        uint32_t error;
    };
    const Case cases[] = {
        {"start of 39 bytes", kRequestStartStream, indexed(39, kDevice, 32),
         kErrorInvalidParameter},
        {"start for index 21", kRequestStartStream, indexed(40, 21, 32), kErrorInvalidParameter},
        {"buffer count 0", kRequestSetBufferCount, {1, 0, 0, 0}, kErrorInvalidParameter},
        {"statistics for index 0", kRequestGetStatistics, indexed(32, 0), kErrorInvalidParameter},
        {"stop of an index never used", kRequestStopStream, indexed(40, 7, 32),
         kErrorInvalidHandle},
        {"header of an index never used", kRequestGetImageHeader, indexed(64, 7),
         kErrorInvalidHandle},
        {"unknown request", requestCode(0x210), indexed(4, 1), kErrorInvalidParameter},
    };
    for (const Case& c : cases) {
        Bytes out(64);
        EXPECT_EQ(driver->control(c.code, c.in, out), c.error) << c.what;
    }
    EXPECT_EQ(sendBindAdapter(*driver, adapterDeviceName("nosuchif0")), kErrorFileNotFound);
    Bytes image(sim::blockBytes(format));
    EXPECT_EQ(readImage(*driver, 21, image), GEV_STATUS_FILTER_DRIVER_INVALID_PARAMETER);

    StreamStart quick = startFor(sim::blockBytes(format));
    quick.imageTimeoutMs = 100;
    ASSERT_EQ(sendStartStream(*driver, kDevice, quick), GEV_STATUS_SUCCESS);
    EXPECT_EQ(readImage(*driver, kDevice, image), GEV_STATUS_TIMEOUT);
    EXPECT_EQ(sendStopStream(*driver, kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(readImage(*driver, kDevice, image), GEV_STATUS_TIMEOUT) << "after the stop";
}

// The engine sleeps through the middle of a frame only: until 1 ms before the trailer is due
// by the shortest recent span, and never across a trailer that may come sooner.
TEST(FramePacing, SleepsUntilShortlyBeforeTheTrailerIsDue) {
    const auto packet = [](uint8_t format) {
        Bytes d(64);
        gvsp::writeHeader(d, gvsp::PacketHeader{0, true, format, 1, 0});
        return d;
    };
    const Bytes leader = packet(gvsp::kFormatLeader);
    const Bytes trailer = packet(gvsp::kFormatTrailer);
    constexpr int64_t ms = 1000000;
    filterengine::FramePacing pacing;
    EXPECT_EQ(pacing.pause(0).count(), 0) << "no frame in progress";
    pacing.onDatagram(leader, 0);
    EXPECT_EQ(pacing.pause(2 * ms).count(), 0) << "no span known yet";
    pacing.onDatagram(trailer, 12 * ms);
    pacing.onDatagram(leader, 40 * ms);
    pacing.onDatagram(trailer, 50 * ms);  // the shortest span: 10 ms
    pacing.onDatagram(leader, 100 * ms);
    const std::vector<std::pair<int64_t, int64_t>> rows = {
        // now, pause (us)
        {100 * ms, 9000},       {102 * ms, 7000}, {107 * ms + ms / 2, 1500},
        {108 * ms + ms / 2, 0},  // nearly due
        {120 * ms, 0},           // overdue
    };
    for (const auto& [now, pause] : rows)
        EXPECT_EQ(pacing.pause(now).count(), pause) << now;
    pacing.onDatagram(trailer, 109 * ms);
    EXPECT_EQ(pacing.pause(109 * ms).count(), 0) << "frame over";
}

}  // namespace
}  // namespace kavro::test
