// Test packets and the packet size search against the simulated camera over loopback.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "gvsp/packet_test.h"
#include "tests/support/sim_fixture.h"

namespace kavro::gvsp {
namespace {

using test::LogCapture;

class PacketTests : public test::SimCameraTest {
  protected:
    void TearDown() override {
        (void)GEVClose(kDevice);
        SimCameraTest::TearDown();
    }
    void open(sim::CameraConfig config = {}, bool streamChannel = true) {
        startCamera(config);
        const GevConnectInfo info = test::loopbackConnectInfo(camera().addressNet());
        ASSERT_EQ(GEVInit(kDevice, &info, &LogCapture::callback, 0, 1), GEV_STATUS_SUCCESS);
        if (streamChannel) {
            ASSERT_EQ(GEVOpenStreamChannel(kDevice, 0, 0, 0), GEV_STATUS_SUCCESS);
        }
        LogCapture::instance().clear();
    }
    static sim::CameraConfig withTestData() {
        sim::CameraConfig config;
        config.gvcpCapability |= gvcp::reg::kCapTestData;
        return config;
    }
};

TEST_F(PacketTests, APacketThatNeverComesGivesSizeZero) {
    open();
    camera().model().testPackets().setAnswering(false);
    uint32_t size = 7;
    EXPECT_EQ(GEVTestPacket(kDevice, &size), GEV_STATUS_SUCCESS);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(GEVTestPacket(kDevice, nullptr), GEV_STATUS_INVALID_ARGUMENT);
}

// The IP packet size is reported; the test data is checked where the camera generates it; without
// a stream channel a temporary socket receives the packet, at the port left in the camera.
TEST_F(PacketTests, ReportsTheIpPacketSizeAndChecksTheTestDataWhereGenerated) {
    const struct {
        bool generator;
        bool streamChannel;
        const char* line;
    } cases[] = {
        {true, true, "[INFO] - GEVTestPacket: data ok."},
        {false, true, "[INFO] - GEVTestPacket: LFSR generator not supported."},
        {true, false, "[INFO] - GEVTestPacket: LFSR generator supported."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        open(c.generator ? withTestData() : sim::CameraConfig{}, c.streamChannel);
        if (!c.generator)
            camera().model().testPackets().corruptDataAt(10);
        uint32_t size = 0;
        EXPECT_EQ(GEVTestPacket(kDevice, &size), GEV_STATUS_SUCCESS);
        EXPECT_EQ(size, 1500u);  // 1472 bytes of UDP payload
        EXPECT_TRUE(LogCapture::instance().contains(c.line));
        // The camera stores neither the fire bit nor anything but the size and "do not fragment".
        EXPECT_EQ(camera().model().readRegister(gvcp::reg::kScps0), kScpsDoNotFragment | 1500u);
        EXPECT_NE(camera().model().readRegister(gvcp::reg::kScp0), 0u);
        (void)GEVClose(kDevice);
        camera_.reset();
    }
}

TEST_F(PacketTests, ACorruptedByteIsReportedByItsPosition) {
    open(withTestData());
    camera().model().testPackets().corruptDataAt(10);
    TestDataSequence sequence;
    uint8_t expected = 0;
    for (int k = 0; k < 10; ++k)
        expected = sequence.next();
    char line[96];
    std::snprintf(line, sizeof line,
                  "[ERROR] - GEVTestPacket: pos->10 expected->%02X current->%02X", expected,
                  static_cast<uint8_t>(~expected));
    uint32_t size = 0;
    EXPECT_EQ(GEVTestPacket(kDevice, &size), GEV_STATUS_TEST_PACKET_DATA_ERROR);
    EXPECT_EQ(size, 1500u);
    EXPECT_TRUE(LogCapture::instance().contains(line)) << line;
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - GEVTestPacket: 1 data errors."));
    EXPECT_EQ(LogCapture::instance().count("[ERROR] - GEVTestPacket: pos->"), 1u);
}

// The largest size on the step's grid that the path passes and the camera takes (a refused
// SCPS0 write counts as failed); the size in use is restored.
TEST_F(PacketTests, SearchFindsTheLargestSizeForEveryLimitAndRestoresTheSize) {
    const struct {
        uint32_t pathMtu;
        uint32_t cameraMax;  // larger SCPS0 writes are refused with 0x8002
        uint16_t step;
        uint16_t largest;
    } cases[] = {{1000, 1500, 4, 1000}, {408, 1500, 4, 408}, {577, 1500, 4, 576},
                 {1500, 1500, 4, 1500}, {401, 1500, 3, 399}, {1500, 1100, 1, 1100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pathMtu << " " << c.cameraMax);
        sim::CameraConfig config = withTestData();
        config.pathMtu = c.pathMtu;
        config.maxPacketSize = c.cameraMax;
        config.packetSize = 1000;
        open(config);
        const uint32_t before = camera().model().readRegister(gvcp::reg::kScps0);
        uint16_t max = 0;
        EXPECT_EQ(GEVTestFindMaxPacketSize(kDevice, &max, 0, 1500, c.step), GEV_STATUS_SUCCESS);
        EXPECT_EQ(max, c.largest);
        EXPECT_EQ(camera().model().readRegister(gvcp::reg::kScps0), before);
        (void)GEVClose(kDevice);
        camera_.reset();
    }
    uint16_t max = 0;
    open(withTestData());
    EXPECT_EQ(GEVTestFindMaxPacketSize(kDevice, &max, 1600, 1500, 4), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(GEVTestFindMaxPacketSize(kDevice, nullptr, 0, 0, 4), GEV_STATUS_INVALID_ARGUMENT);
}

TEST(TestDataSequence, StartsFromAllOnesAndFollowsItsFeedback) {
    TestDataSequence s;
    // 0xFFFF -> 0x7FFF ^ 0x8016 = 0xFFE9 -> 0x7FF4 ^ 0x8016 = 0xFFE2 -> 0x7FF1 (low bit 0)
    EXPECT_EQ(s.next(), 0xFF);
    EXPECT_EQ(s.next(), 0xE9);
    EXPECT_EQ(s.next(), 0xE2);
    EXPECT_EQ(s.next(), 0xF1);
}

}  // namespace
}  // namespace kavro::gvsp
