// The packet-ring engine behind the filter device interface, driven with request buffers built
// here, against the simulated camera's stream on loopback. Needs CAP_NET_RAW; skipped without.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "filterdriver/filter_device.h"
#include "filterengine/packet_ring_driver.h"
#include "frame/device_table.h"
#include "gvsp/acquisition.h"
#include "sim/stream_source.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {
namespace {

using namespace std::chrono_literals;
using namespace filterdriver;
using Bytes = std::vector<uint8_t>;

void putLe(Bytes& b, size_t at, uint64_t v, size_t n) {
    for (size_t i = 0; i < n; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint64_t getLe(const Bytes& b, size_t at, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v |= uint64_t{b[at + i]} << (8 * i);
    return v;
}

Bytes bindRequest(const std::string& adapter) {
    const std::string name = "\\DEVICE\\" + adapter;
    Bytes b(name.size() * 2);
    for (size_t i = 0; i < name.size(); ++i)
        putLe(b, 2 * i, static_cast<uint8_t>(name[i]), 2);
    return b;
}

struct Start {
    uint32_t deviceAddressNet = 0;
    uint16_t streamPort = 0;
    uint32_t payloadSize = 0;
    uint16_t packetDataSize = 0;
    uint8_t resend = 0;
    uint8_t device = 1;
    uint32_t imageTimeoutMs = 1000;
};

Bytes startRequest(const Start& s) {
    Bytes b(40);
    std::memcpy(&b[8], &s.deviceAddressNet, 4);  // network byte order
    putLe(b, 12, s.streamPort, 2);
    const uint32_t host = htonl(INADDR_LOOPBACK);
    std::memcpy(&b[20], &host, 4);
    putLe(b, 24, s.payloadSize, 4);
    putLe(b, 28, s.packetDataSize, 2);
    b[30] = s.resend;
    b[31] = 10;
    b[32] = s.device;
    putLe(b, 36, s.imageTimeoutMs, 4);
    return b;
}

Bytes indexed(size_t size, uint8_t device, size_t at = 0) {
    Bytes b(size);
    b[at] = device;
    return b;
}

class PacketRingEngine : public SimCameraTest {
  protected:
    void SetUp() override {
        SimCameraTest::SetUp();
        uint32_t error = 0;
        driver = filterengine::openPacketRingDriver(kDriverName, error);
        if (error == kErrorAccessDenied)
            GTEST_SKIP() << "capturing packets needs CAP_NET_RAW";
        ASSERT_NE(driver, nullptr) << error;
        startCamera();
        const GevConnectInfo info = loopbackConnectInfo(camera().addressNet());
        ASSERT_EQ(GEVInit(kDevice, &info, &LogCapture::callback, 0, 1), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVOpenStreamChannel(kDevice, 0, 0, 0), GEV_STATUS_SUCCESS);
        source = std::make_unique<sim::StreamSource>(camera().model(), camera().addressNet());
        format.extendedIds = true;
        Bytes status(4, 0xFF);
        ASSERT_EQ(driver->control(kRequestBindAdapter, bindRequest("lo"), status), 0u);
        ASSERT_EQ(getLe(status, 0, 4), 0u);
    }
    void TearDown() override {
        if (source)
            source->stop();
        source.reset();
        driver.reset();
        (void)GEVClose(kDevice);
        SimCameraTest::TearDown();
    }
    Start startFor(uint32_t payloadSize) {
        auto& dev = *frame::DeviceTable::instance().record(kDevice);
        uint32_t dataSize = 0;
        EXPECT_EQ(gvsp::readPacketDataSize(dev, dataSize), GEV_STATUS_SUCCESS);
        return {camera().addressNet(), dev.streamPort, payloadSize,
                static_cast<uint16_t>(dataSize)};
    }
    uint32_t control(uint32_t code, const Bytes& in, Bytes* out = nullptr) {
        Bytes none;
        return driver->control(code, in, out != nullptr ? *out : none);
    }
    // Reads `frames` images through the engine, by block id; every one must come whole.
    std::map<uint64_t, Bytes> readImages(uint32_t frames, uint32_t payloadSize) {
        std::map<uint64_t, Bytes> images;
        for (uint32_t k = 0; k < frames; ++k) {
            Bytes image(payloadSize, 0x55);
            image[0] = kDevice - 1;
            const uint32_t error = driver->read(image);
            EXPECT_EQ(error, 0u) << "image " << k;
            if (error != 0)
                break;
            Bytes header = indexed(64, kDevice);
            EXPECT_EQ(control(kRequestGetImageHeader, header, &header), 0u);
            EXPECT_EQ(getLe(header, 48, 4), 0u) << "missing packets";
            images[getLe(header, 8, 8)] = std::move(image);
        }
        return images;
    }

    std::unique_ptr<FilterDevice> driver;
    std::unique_ptr<sim::StreamSource> source;
    sim::StreamFormat format;
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

    Start s = startFor(payloadSize);
    s.resend = 1;
    ASSERT_EQ(control(kRequestSetBufferCount, Bytes{kDevice, 0, 16, 0}), 0u);
    ASSERT_EQ(control(kRequestStartStream, startRequest(s)), 0u);
    source->setFaults(faults);
    ASSERT_TRUE(source->start(format));
    const auto viaEngine = readImages(kFrames, payloadSize);
    ASSERT_TRUE(source->waitFinished(5s));
    EXPECT_GT(source->stats().packetsResent, 0u);
    source->stop();
    ASSERT_EQ(control(kRequestStopStream, indexed(40, kDevice, 32)), 0u);

    Bytes statistics = indexed(32, kDevice);
    ASSERT_EQ(control(kRequestGetStatistics, statistics, &statistics), 0u);
    // Images received, images with errors, packet errors, frame intervals.
    EXPECT_EQ((std::vector<uint64_t>{getLe(statistics, 4, 4), getLe(statistics, 8, 4),
                                     getLe(statistics, 12, 4), getLe(statistics, 16, 4)}),
              (std::vector<uint64_t>{kFrames, 0, 0, kFrames - 1}));
    EXPECT_GT(getLe(statistics, 24, 8), 0u);
    Bytes header = indexed(64, kDevice);
    ASSERT_EQ(control(kRequestGetImageHeader, header, &header), 0u);
    EXPECT_EQ(getLe(header, 8, 8), uint64_t{kFrames});
    EXPECT_EQ(getLe(header, 32, 4), format.trailerHeight) << "lines delivered";

    // The same stream through the socket path.
    ASSERT_EQ(GEVSetPacketResend(kDevice, 1), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetBufferCount(kDevice, 16), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVAcquisitionStartEx(kDevice, 0, payloadSize), GEV_STATUS_SUCCESS);
    source->setFaults(faults);
    ASSERT_TRUE(source->start(format));
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
    const Start s = startFor(sim::blockBytes(format));
    Bytes bad = startRequest(s);
    bad[32] = 21;
    Bytes shortStart = startRequest(s);
    shortStart.pop_back();
    struct Case {
        const char* what;
        uint32_t code;
        Bytes in;
        uint32_t error;
    };
    const Case cases[] = {
        {"start of 39 bytes", kRequestStartStream, shortStart, kErrorInvalidParameter},
        {"start for index 21", kRequestStartStream, bad, kErrorInvalidParameter},
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
        EXPECT_EQ(control(c.code, c.in, &out), c.error) << c.what;
    }
    Bytes status(4);
    ASSERT_EQ(control(kRequestBindAdapter, bindRequest("nosuchif0"), &status), 0u);
    EXPECT_EQ(getLe(status, 0, 4), kErrorFileNotFound);
    Bytes tooHigh(16, 0);
    tooHigh[0] = 20;
    EXPECT_EQ(driver->read(tooHigh), kErrorInvalidParameter);

    Start quick = s;
    quick.imageTimeoutMs = 100;
    ASSERT_EQ(control(kRequestStartStream, startRequest(quick)), 0u);
    Bytes image(s.payloadSize);
    image[0] = kDevice - 1;
    EXPECT_EQ(driver->read(image), kErrorSemaphoreTimeout);
    EXPECT_EQ(control(kRequestStopStream, indexed(40, kDevice, 32)), 0u);
    EXPECT_EQ(driver->read(image), kErrorSemaphoreTimeout) << "after the stop";
}

}  // namespace
}  // namespace kavro::test
