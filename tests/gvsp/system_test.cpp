// Streaming as a whole system: many devices at once, multicast streams shared by a controlling
// and a listening application, lossy or reordered streams with packet resend off, and a link
// that breaks and is repaired mid-stream.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frame/device_table.h"
#include "gvcp/bootstrap.h"
#include "tests/support/stream_fixture.h"

namespace kavro::test {
namespace {

using namespace std::chrono_literals;
namespace reg = gvcp::reg;

// Both receive paths: the library's socket receiver, and the filter driver's packet-ring engine
// (which needs CAP_NET_RAW).
enum class StreamPath { kSocket, kDriver };

class ManyDevices : public ::testing::TestWithParam<StreamPath> {};

TEST_P(ManyDevices, TwentyCamerasStreamAtOnceWithEveryFrameWhole) {
    constexpr uint8_t kDevices = 20;
    constexpr uint32_t kFrames = 20;
    LogCapture::instance().clear();
    sim::StreamFormat format;
    format.extendedIds = true;
    format.width = 320;
    format.height = 120;  // 27 packets of 1452 bytes
    format.frameCount = kFrames;
    format.frameRate = 200;

    std::vector<std::unique_ptr<sim::CameraServer>> cameras;
    std::vector<std::unique_ptr<sim::StreamSource>> sources;
    for (uint8_t d = 1; d <= kDevices; ++d) {
        cameras.push_back(sim::CameraServer::startOnLoopback());
        ASSERT_NE(cameras.back(), nullptr) << "no loopback address for camera " << int{d};
        const GevConnectInfo info = loopbackConnectInfo(cameras.back()->addressNet());
        ASSERT_EQ(GEVInit(d, &info, &LogCapture::callback, 0, 1), GEV_STATUS_SUCCESS) << int{d};
        ASSERT_EQ(GEVOpenStreamChannel(d, 0, 0, 0), GEV_STATUS_SUCCESS) << int{d};
        if (GetParam() == StreamPath::kDriver && GEVInitFilterDriver(d) != GEV_STATUS_SUCCESS) {
            for (uint8_t k = 1; k <= d; ++k)
                (void)GEVClose(k);
            GTEST_SKIP() << "the packet-ring engine needs CAP_NET_RAW";
        }
        // Room for every frame: a reader slowed down by the others never costs a frame.
        ASSERT_EQ(GEVSetBufferCount(d, kFrames), GEV_STATUS_SUCCESS);
        // Sixty threads share the machine: a camera may stall mid-frame for longer than the
        // usual stream time-out, which would hand its frame over unfinished, and under the
        // sanitizers, beside other tests, its first frame may come after the usual image wait.
        GevChannelParameter p{};
        ASSERT_EQ(GEVGetChannelParameter(d, &p), GEV_STATUS_SUCCESS);
        p.streamTimeout = 1000;
        p.imageTimeout = 5000;
        ASSERT_EQ(GEVSetChannelParameter(d, &p), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVAcquisitionStartEx(d, 0, sim::blockBytes(format)), GEV_STATUS_SUCCESS);
        sources.push_back(std::make_unique<sim::StreamSource>(cameras.back()->model(),
                                                              cameras.back()->addressNet()));
    }

    for (auto& source : sources)
        ASSERT_TRUE(source->start(format));
    std::vector<std::thread> readers;
    for (uint8_t d = 1; d <= kDevices; ++d) {
        readers.emplace_back([&, d] {
            std::string fault;
            EXPECT_EQ(completeFrames(d, format, kFrames, fault), kFrames)
                << "device " << int{d} << ": " << fault;
            // Each stop waits for its receiver's next time-out: the stops overlap.
            EXPECT_EQ(GEVAcquisitionStop(d), GEV_STATUS_SUCCESS) << int{d};
            EXPECT_EQ(record(d).counters.packetsLost.load(), 0u) << int{d};
        });
    }
    for (auto& reader : readers)
        reader.join();
    sources.clear();
    for (uint8_t d = 1; d <= kDevices; ++d)
        EXPECT_EQ(GEVClose(d), GEV_STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Paths, ManyDevices,
                         ::testing::Values(StreamPath::kSocket, StreamPath::kDriver),
                         [](const auto& path) {
                             return path.param == StreamPath::kSocket ? "Socket" : "Driver";
                         });

// Whether a datagram sent to a group from one loopback address reaches a member on another.
bool loopbackMulticastWorks(uint32_t groupHostOrder, std::string& why) {
    platform::UniqueSocket member = platform::createUdpSocket(htonl(groupHostOrder), 0);
    const auto port = platform::localPort(member);
    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(groupHostOrder);
    request.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    if (!port ||
        ::setsockopt(member.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
        why = "can't join a multicast group on the loopback interface";
        return false;
    }
    const uint32_t from = htonl(0x7F000000u | 0x00FE0002u);  // 127.254.0.2
    platform::UniqueSocket sender = platform::createUdpSocket(from, 0);
    in_addr interface {};
    interface.s_addr = from;
    const int loop = 1;
    if (!sender.isValid() ||
        ::setsockopt(sender.get(), IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) !=
            0 ||
        ::setsockopt(sender.get(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0) {
        why = "can't send multicast through the loopback interface";
        return false;
    }
    const uint8_t probe[4] = {1, 2, 3, 4};
    (void)platform::sendTo(sender, probe, htonl(groupHostOrder), *port);
    if (platform::waitReadable(member, 500ms) != platform::WaitResult::Ready) {
        why = "multicast sent through the loopback interface does not come back";
        return false;
    }
    return true;
}

class MulticastStreaming : public StreamingTest {
  protected:
    static constexpr uint8_t kListener = 2;

    void SetUp() override {
        // A group of this process's own, so that parallel test processes stay apart.
        group = 0xEFFF0000u | (static_cast<uint32_t>(::getpid()) & 0xFFFFu);
        if (std::string why; !loopbackMulticastWorks(group, why))
            GTEST_SKIP() << "multicast streaming not testable here: " << why;
        controlMode = 2;  // control access: a listener may read the camera's registers
        StreamingTest::SetUp();
        format.width = 256;
        format.height = 64;
        format.frameRate = 200;
    }
    void TearDown() override {
        (void)GEVClose(kListener);
        StreamingTest::TearDown();
    }
    uint32_t group = 0;
};

TEST_F(MulticastStreaming, ControllerAndListenerBothReceiveTheGroupsFrames) {
    constexpr uint32_t kFrames = 5;
    ASSERT_EQ(GEVCloseStreamChannel(kDevice), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVOpenStreamChannel(kDevice, 0, 0, group), GEV_STATUS_SUCCESS);
    const uint16_t port = record(kDevice).streamPort;
    EXPECT_NE(port, 0);
    EXPECT_EQ(camera().model().readRegister(reg::kScda0), group);
    EXPECT_EQ(camera().model().readRegister(reg::kScp0), port);

    // A second application without control learns port and group from the camera; it listens
    // only while its acquisition runs.
    const GevConnectInfo info = loopbackConnectInfo(camera().addressNet());
    ASSERT_EQ(GEVInit(kListener, &info, &LogCapture::callback, 0, 0), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVOpenStreamChannel(kListener, 0, 0, 0), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record(kListener).streamPort, port);
    EXPECT_EQ(record(kListener).multicastGroup, group);
    EXPECT_FALSE(record(kListener).streamSocket.isValid());

    ASSERT_EQ(GEVAcquisitionStartEx(kDevice, 0, sim::blockBytes(format)), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVAcquisitionStartEx(kListener, 0, sim::blockBytes(format)), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(record(kListener).streamSocket.isValid());
    format.frameCount = kFrames;
    ASSERT_TRUE(source->start(format));
    std::string fault;
    EXPECT_EQ(completeFrames(kDevice, format, kFrames, fault), kFrames) << fault;
    EXPECT_EQ(completeFrames(kListener, format, kFrames, fault), kFrames) << fault;
    EXPECT_EQ(GEVAcquisitionStop(kListener), GEV_STATUS_SUCCESS);
    EXPECT_FALSE(record(kListener).streamSocket.isValid());
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(record(kDevice).streamSocket.isValid());
}

TEST_F(MulticastStreaming, ListenerOfAUnicastStreamIgnoresTheGroupItWasGiven) {
    const GevConnectInfo info = loopbackConnectInfo(camera().addressNet());
    ASSERT_EQ(GEVInit(kListener, &info, &LogCapture::callback, 0, 0), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVOpenStreamChannel(kListener, 0, 0, group), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record(kListener).multicastGroup, 0u);
    EXPECT_EQ(record(kListener).streamPort, record(kDevice).streamPort);
    EXPECT_TRUE(record(kListener).streamSocket.isValid());
    // Without control the close writes nothing, and says so with success.
    EXPECT_EQ(GEVCloseStreamChannel(kListener), GEV_STATUS_SUCCESS);
    EXPECT_EQ(camera().model().readRegister(reg::kScp0), record(kDevice).streamPort);
}

// Packet resend off: lost packets leave their frames incomplete, reordered ones still complete
// theirs through the pending and early blocks, and frames reach the reader in block order.
class StreamingWithoutResend : public StreamingTest {
  protected:
    void SetUp() override {
        StreamingTest::SetUp();
        ASSERT_EQ(GEVSetBufferCount(kDevice, 16), GEV_STATUS_SUCCESS);
    }
};

TEST_F(StreamingWithoutResend, LossLeavesOnlyItsFramesIncompleteAndReorderingCostsNothing) {
    constexpr uint32_t kFrames = 300;
    format.width = 100;
    format.height = 50;  // 4 packets: reordering by up to 3 often crosses into the next block
    format.frameCount = kFrames;
    format.frameRate = 1000;
    sim::StreamFaults faults;
    faults.seed = 5;
    faults.reorder = 0.05;
    faults.reorderDistance = 3;
    faults.dropPackets = {{40, 2}, {41, 4}, {200, 1}};
    source->setFaults(faults);
    play();

    std::vector<uint64_t> incomplete;
    uint32_t complete = 0;
    uint64_t lastId = 0;
    for (const TakenImage& t : takeImages(kDevice, format, kFrames)) {
        EXPECT_GT(t.blockId, lastId) << "frames out of block order";
        lastId = t.blockId;
        if (t.status == GEV_STATUS_IMAGE_INCOMPLETE) {
            EXPECT_EQ(t.missingPackets, 1u) << t.blockId;
            incomplete.push_back(t.blockId);
        } else {
            EXPECT_TRUE(t.whole) << "block " << t.blockId << " status " << t.status;
            complete += t.whole ? 1 : 0;
        }
    }
    EXPECT_EQ(incomplete, (std::vector<uint64_t>{40, 41, 200}));
    EXPECT_EQ(complete, kFrames - 3);
    ASSERT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(LogCapture::instance().contains("[INFO] - Frames: 300, Errors: 0 Lost: 0.00 %"));
    EXPECT_TRUE(LogCapture::instance().contains("[INFO] - Packets: 1200, Errors: 3 Lost: 0.25 %"));
}

// A lossy stream with resend on whose link breaks while it runs: the control socket fails and
// is rebuilt, the camera's heartbeat times out (it drops control and its stream destination),
// and the camera is power-cycled on the same address. Each time the heartbeat repairs the link;
// resend works again and every frame sent after the repair arrives whole.
class LinkRepairMidStream : public StreamingTest {
  protected:
    void SetUp() override {
        config.heartbeatTimeoutMs = 600;  // the library beats every 200 ms
        StreamingTest::SetUp();
        ASSERT_EQ(GEVSetPacketResend(kDevice, 1), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVSetBufferCount(kDevice, 16), GEV_STATUS_SUCCESS);
        format.width = 256;
        format.height = 100;  // 18 packets
        format.frameRate = 100;
        faults_.seed = 9;
        faults_.lose = 0.01;
        // Not the camera's default packet size, which a power cycle brings back.
        ASSERT_EQ(GEVWriteRegister(kDevice, reg::kScps0, 1, &kPacketSize), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVAcquisitionStartEx(kDevice, 0, sim::blockBytes(format)), GEV_STATUS_SUCCESS);
        startSource();
    }
    // The fixture's source, or after a power cycle a new one.
    void startSource() {
        if (!source)
            source = std::make_unique<sim::StreamSource>(camera().model(), camera().addressNet());
        source->setFaults(faults_);
        ASSERT_TRUE(source->start(format));
    }
    // Of the next `count` images that `later` selects (the others come from before the repair),
    // how many were whole.
    uint32_t wholeLaterFrames(const std::function<bool(uint64_t)>& later, uint32_t count,
                              std::string& fault) {
        uint32_t whole = 0;
        for (const TakenImage& t : takeImages(kDevice, format, count, later)) {
            whole += t.whole ? 1 : 0;
            if (!t.whole && fault.empty()) {
                fault = "block " + std::to_string(t.blockId) + ": status " +
                        std::to_string(t.status) + ", missing " + std::to_string(t.missingPackets);
            }
        }
        return whole;
    }
    // Block id of the last frame the camera sent.
    uint64_t lastSent() const { return format.firstBlockId + source->stats().framesSent - 1; }
    bool linkOk() {
        uint8_t status = 0xFF;
        uint8_t reserved = 0;
        return GEVGetConnectionStatus(kDevice, &status, &reserved) == GEV_STATUS_SUCCESS &&
               status == GEV_CONNECTION_OK &&
               camera().model().readRegister(reg::kScp0) == record(kDevice).streamPort &&
               (camera().model().readRegister(reg::kScps0) & 0xFFFF) == kPacketSize;
    }
    static constexpr uint32_t kPacketSize = 1000;
    sim::StreamFaults faults_;
};

TEST_F(LinkRepairMidStream, ResendWorksAgainAndEveryLaterFrameIsWhole) {
    constexpr uint32_t kFrames = 100;
    std::string fault;
    EXPECT_EQ(wholeLaterFrames([](uint64_t) { return true; }, kFrames, fault), kFrames) << fault;

    // The control socket fails (its sending side shut down) and the heartbeat rebuilds it.
    {
        std::lock_guard lock(record(kDevice).controlLock);
        ::shutdown(record(kDevice).controlSocket.get(), SHUT_WR);
    }
    ASSERT_TRUE(eventually(
        [&] { return LogCapture::instance().count("[INFO] - Control channel port: ") == 2; }));
    ASSERT_TRUE(eventually([&] { return linkOk(); }));
    uint64_t repaired = lastSent() + 2;
    EXPECT_EQ(wholeLaterFrames([&](uint64_t id) { return id > repaired; }, kFrames, fault), kFrames)
        << "after the socket rebuild: " << fault;

    // The camera hears nothing past its heartbeat time-out: it drops control and its stream
    // destination, until the heartbeat takes both back.
    camera().faults().goSilent(900ms);
    ASSERT_TRUE(eventually([&] { return camera().model().readRegister(reg::kScp0) == 0; }));
    ASSERT_TRUE(eventually([&] { return linkOk(); }));
    repaired = lastSent() + 2;
    EXPECT_EQ(wholeLaterFrames([&](uint64_t id) { return id > repaired; }, kFrames, fault), kFrames)
        << "after the heartbeat time-out: " << fault;

    // Power cycle: the camera goes away and comes back on the same address, with nobody in
    // control, no destinations, its default packet size, and block ids from 1 again. It streams
    // once the heartbeat set it up again.
    const uint64_t before = lastSent();
    const uint32_t address = camera().addressNet();
    source->stop();
    source.reset();
    camera_.reset();
    std::this_thread::sleep_for(300ms);
    camera_ = sim::CameraServer::start(config, address);
    ASSERT_NE(camera_, nullptr);
    ASSERT_TRUE(eventually([&] { return linkOk(); }));
    startSource();
    repaired = lastSent() + 2;
    EXPECT_EQ(
        wholeLaterFrames([&](uint64_t id) { return id < before && id > repaired; }, kFrames, fault),
        kFrames)
        << "after the power cycle: " << fault;
    EXPECT_GT(source->stats().packetsResent, 0u) << "resend served by the restarted camera";
}

}  // namespace
}  // namespace kavro::test
