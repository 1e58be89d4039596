// Opening and closing devices against simulated cameras: control, heartbeat supervision, the
// shared message channel, events, action commands and channel timing.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>

#include "frame/device_table.h"
#include "gvcp/bootstrap.h"
#include "gvcp/message_channel.h"
#include "gvcp/wire.h"
#include "gvcp/wire_events.h"
#include "platform/socket.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {
namespace {

using namespace std::chrono_literals;
namespace reg = gvcp::reg;

class DeviceOpen : public SimCameraTest {
  protected:
    void TearDown() override {
        for (uint8_t d = 1; d <= 3; ++d)
            (void)GEVClose(d);
        SimCameraTest::TearDown();
    }

    GevStatus open(uint8_t controlMode = 1, uint8_t device = kDevice) {
        const GevConnectInfo info = loopbackConnectInfo(camera().addressNet());
        return GEVInit(device, &info, &LogCapture::callback, 0, controlMode);
    }
    frame::GevDevice& record() { return test::record(kDevice); }
    uint8_t status() {
        uint8_t s = 0xFF;
        uint8_t reserved = 0xFF;
        EXPECT_EQ(GEVGetConnectionStatus(kDevice, &s, &reserved), GEV_STATUS_SUCCESS);
        EXPECT_EQ(reserved, 0);
        return s;
    }
    // Short heartbeats (and transactions), so that supervision runs in fractions of a second.
    void openFastCamera(bool fastTransactions) {
        sim::CameraConfig config;
        config.heartbeatTimeoutMs = 300;  // heartbeat every 100 ms
        startCamera(config);
        ASSERT_EQ(open(), GEV_STATUS_SUCCESS);
        if (fastTransactions) {
            ASSERT_EQ(GEVSetReadWriteParameter(kDevice, 40, 1), GEV_STATUS_SUCCESS);
        }
    }
};

TEST_F(DeviceOpen, CameraOutsideTheHostSubnetIsRefusedWithoutTrafficAndFixedPortsAreUsed) {
    startCamera();
    GevConnectInfo info = loopbackConnectInfo(camera().addressNet());
    info.subnetMask = htonl(0xFFFFFF00);
    info.hostAddress = htonl(0x7F000001);
    info.deviceAddress = htonl(0x7F000101);
    EXPECT_EQ(GEVInit(kDevice, &info, &LogCapture::callback, 0, 1), GEV_STATUS_NOT_IN_SUBNET);
    EXPECT_EQ(debug_info(kDevice), GEV_STATUS_DEVICE_NOT_OPEN);
    EXPECT_TRUE(LogCapture::instance().lines().empty());

    // A fixed control port is used and logged.
    auto probe = platform::createUdpSocket(htonl(INADDR_LOOPBACK), 0);
    const uint16_t port = platform::localPort(probe).value();
    probe.reset();
    info = loopbackConnectInfo(camera().addressNet());
    info.controlPort = port;
    ASSERT_EQ(GEVInit(kDevice, &info, &LogCapture::callback, 0, 1), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(
        LogCapture::instance().contains("[INFO] - Control channel port: " + std::to_string(port)));
    EXPECT_EQ(camera().receivedCommands().at(0).senderPort, port);
}

TEST_F(DeviceOpen, OpenWithControlTakesTheCameraAndReportsWhatItFound) {
    startCamera();
    ASSERT_EQ(open(), GEV_STATUS_SUCCESS);
    EXPECT_EQ(status(), GEV_CONNECTION_OK);
    EXPECT_EQ(camera().model().readRegister(reg::kCcp) & 3u, 1u);
    EXPECT_EQ(camera().model().readRegister(reg::kMcda), 0x7F000001u);
    EXPECT_EQ(camera().model().readRegister(reg::kMcp), gvcp::MessageChannel::instance().port());
    EXPECT_EQ(record().packetDataSize, 1452u);
    double tick = 0;
    ASSERT_EQ(GEVGetTimeOneTick(kDevice, &tick), GEV_STATUS_SUCCESS);
    EXPECT_DOUBLE_EQ(tick, 1.0);

    EXPECT_EQ(record().heartbeatPeriodMs, 1000u) << "a third of the camera's time-out";

    auto& log = LogCapture::instance();
    for (const char* line :
         {"[INFO] - Open control port.", "[INFO] - Start heartbeat thread.",
          "[INFO] - Message channel is available.", "[INFO] - Open message channel port.",
          "[INFO] - GEV Version: 2.0", "[INFO] - Stream channel is available."}) {
        EXPECT_TRUE(log.contains(line)) << line;
    }
    EXPECT_EQ(log.count("[INFO] - KavroGigEVisionLib Version: "), 1u);
    EXPECT_EQ(log.count("[INFO] - Init device time: "), 1u);

    EXPECT_EQ(open(), GEV_STATUS_DEVICE_ALREADY_OPEN);
    EXPECT_EQ(status(), GEV_CONNECTION_OK);

    ASSERT_EQ(GEVClose(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(camera().model().readRegister(reg::kCcp), 0u) << "control is released";
    EXPECT_EQ(camera().model().readRegister(reg::kMcp), 0u);
    EXPECT_EQ(log.count("[INFO] - Close device time: "), 1u);
    EXPECT_EQ(debug_info(kDevice), GEV_STATUS_DEVICE_NOT_OPEN);
}

// Takes CAP_NET_ADMIN out of the calling thread's effective set while it lives, as for a user
// without privileges: the receive buffer is then capped by net.core.rmem_max.
class WithoutNetAdmin {
  public:
    WithoutNetAdmin() {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (::syscall(SYS_capget, &header, saved_) != 0)
            return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~(1u << CAP_NET_ADMIN);
        dropped_ = ::syscall(SYS_capset, &header, reduced) == 0;
    }
    ~WithoutNetAdmin() {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (dropped_)
            (void)::syscall(SYS_capset, &header, saved_);
    }
    WithoutNetAdmin(const WithoutNetAdmin&) = delete;
    WithoutNetAdmin& operator=(const WithoutNetAdmin&) = delete;

  private:
    __user_cap_data_struct saved_[2]{};
    bool dropped_ = false;
};

size_t systemReceiveBufferLimit() {
    std::ifstream limit("/proc/sys/net/core/rmem_max");
    size_t bytes = 0;
    limit >> bytes;
    return bytes;
}

TEST_F(DeviceOpen, StreamAndMessageSocketsSendFirstAndTakeTheBufferTheKernelGrants) {
    startCamera();
    WithoutNetAdmin unprivileged;
    ASSERT_EQ(open(), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVOpenStreamChannel(kDevice, 0, 0, 0), GEV_STATUS_SUCCESS);

    // One datagram from each socket reached the camera, and it is no command it acts on.
    const auto datagramsFrom = [&](uint16_t port) {
        std::vector<sim::ReceivedCommand> from;
        for (const auto& c : camera().receivedCommands()) {
            if (c.senderPort == port)
                from.push_back(c);
        }
        return from;
    };
    const uint16_t fromPorts[] = {gvcp::MessageChannel::instance().port(), record().streamPort};
    for (const uint16_t port : fromPorts) {
        EXPECT_TRUE(eventually([&] { return !datagramsFrom(port).empty(); })) << port;
        const auto from = datagramsFrom(port);
        ASSERT_EQ(from.size(), 1u) << "from port " << port;
        EXPECT_EQ(from[0].command, 0) << "from port " << port;
    }

    const size_t wanted = size_t{16} << 20;
    const size_t granted = std::min(wanted, systemReceiveBufferLimit());
    const std::string warning =
        "[WARNING] - Stream socket receive buffer: " + std::to_string(granted) +
        " bytes granted of " + std::to_string(wanted) + " wanted; net.core.rmem_max limits it";
    EXPECT_EQ(LogCapture::instance().count(warning), granted < wanted ? 1u : 0u) << warning;
}

TEST_F(DeviceOpen, PacketDataSizeFollowsTheVersionAndPacketSize) {
    sim::CameraConfig config;
    config.gevVersion = 0x00010002;
    startCamera(config);
    ASSERT_EQ(open(), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record().packetDataSize, 1464u);
    EXPECT_TRUE(LogCapture::instance().contains("[INFO] - GEV Version: 1.2"));
}

TEST_F(DeviceOpen, WithoutControlNothingIsWrittenAndNoThreadStarts) {
    startCamera();
    ASSERT_EQ(open(0), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(commands(gvcp::kWriteRegCmd).empty());
    EXPECT_FALSE(record().heartbeatThread.running());
    EXPECT_FALSE(gvcp::MessageChannel::instance().running());
    EXPECT_EQ(GEVSetMessageChannelCallback(kDevice, nullptr), GEV_STATUS_NOT_SUPPORTED);
    ASSERT_EQ(GEVClose(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(commands(gvcp::kWriteRegCmd).empty());
}

// A camera held by another host refuses the read of its control register; a wrong address
// never answers. Both give 0xC02B, and a second line tells the two apart.
TEST_F(DeviceOpen, CameraHeldElsewhereOrSilentIsReportedAndLeftAlone) {
    startCamera();
    char address[16];
    platform::formatIpv4(camera().addressNet(), address);
    const std::string refused = std::string("[ERROR] - The camera at ") + address +
                                " refused to read its control register: GEV_STATUS_";
    const std::string silent = std::string("[ERROR] - No answer from ") + address +
                               " (3 tries of 200 ms): wrong address, or the camera is off or "
                               "out of reach.";
    for (const bool answers : {true, false}) {
        LogCapture::instance().clear();
        if (answers) {
            camera().faults().deviceStatusNext(1, GEV_STATUS_ACCESS_DENIED);
        } else {
            camera().faults().goSilent(5s);
        }
        EXPECT_EQ(open(), GEV_STATUS_DEVICE_IN_USE);
        camera().faults().clear();
        const auto lines = LogCapture::instance().lines();
        const auto first = std::find(lines.begin(), lines.end(), "[INFO] - Device already opened.");
        ASSERT_NE(first, lines.end());
        ASSERT_NE(first + 1, lines.end());
        if (answers) {
            EXPECT_EQ((first + 1)->rfind(refused, 0), 0u) << *(first + 1);
        } else {
            EXPECT_EQ(*(first + 1), silent);
        }
        EXPECT_EQ(debug_info(kDevice), GEV_STATUS_DEVICE_NOT_OPEN);
        EXPECT_TRUE(commands(gvcp::kWriteRegCmd).empty());
    }
}

TEST_F(DeviceOpen, TwoIndexesShareOneMessageChannelUntilTheLastClose) {
    startCamera();
    auto second = sim::CameraServer::startOnLoopback();
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(open(1, 1), GEV_STATUS_SUCCESS);
    const GevConnectInfo info = loopbackConnectInfo(second->addressNet());
    ASSERT_EQ(GEVInit(2, &info, nullptr, 0, 1), GEV_STATUS_SUCCESS);
    const uint16_t port = gvcp::MessageChannel::instance().port();
    EXPECT_NE(port, 0);
    EXPECT_EQ(second->model().readRegister(reg::kMcp), port);
    EXPECT_EQ(camera().model().readRegister(reg::kMcp), port);

    ASSERT_EQ(GEVClose(1), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(gvcp::MessageChannel::instance().running());
    ASSERT_EQ(GEVClose(2), GEV_STATUS_SUCCESS);
    EXPECT_FALSE(gvcp::MessageChannel::instance().running());
}

// A camera silent for a while is lost and reconnected; one that stays silent is declared failed.
TEST_F(DeviceOpen, SilentCameraIsLostThenReconnectedOrDeclaredFailed) {
    openFastCamera(true);
    const uint16_t port = record().controlPort;
    camera().faults().goSilent(250ms);
    ASSERT_TRUE(eventually([&] { return status() == GEV_CONNECTION_LOST; }));
    EXPECT_TRUE(LogCapture::instance().contains("[WARNING] - CCP lost."));
    ASSERT_TRUE(
        eventually([&] { return LogCapture::instance().contains("[INFO] - CCP reconnection."); }));
    EXPECT_TRUE(eventually([&] { return status() == GEV_CONNECTION_OK; }));
    EXPECT_FALSE(LogCapture::instance().contains("[ERROR] - CCP connection failure"));

    camera().faults().goSilent(0ms);
    ASSERT_TRUE(eventually([&] { return status() == GEV_CONNECTION_LOST; }));
    ASSERT_TRUE(eventually([&] { return status() == GEV_CONNECTION_FAILED; }));
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - CCP connection failure"));
    EXPECT_EQ(record().controlPort, port) << "time-outs do not rebuild the socket";

    camera().clearReceivedCommands();
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, &value), GEV_STATUS_ACCESS_DENIED);
    EXPECT_EQ(GEVSetActionCommand(kDevice, 1, 1, 1, 0), GEV_STATUS_ACCESS_DENIED);
    EXPECT_TRUE(camera().receivedCommands().empty());

    // A failed index may be opened again directly.
    camera().faults().clear();
    EXPECT_EQ(open(), GEV_STATUS_SUCCESS);
    EXPECT_EQ(status(), GEV_CONNECTION_OK);
}

TEST_F(DeviceOpen, SocketErrorRebuildsTheControlSocketOnTheSamePort) {
    openFastCamera(false);
    const uint16_t oldPort = record().controlPort;
    {
        // Sends on a socket whose sending side is shut down fail: a socket error, not silence.
        std::lock_guard lock(record().controlLock);
        ::shutdown(record().controlSocket.get(), SHUT_WR);
    }
    ASSERT_TRUE(eventually(
        [&] { return LogCapture::instance().count("[INFO] - Control channel port: ") == 2; }));
    EXPECT_EQ(record().controlPort, oldPort) << "the camera ties control to the host's port";
    EXPECT_TRUE(LogCapture::instance().contains("[WARNING] - CCP lost."));
    EXPECT_EQ(LogCapture::instance().count("[ERROR] - Can't set mode in ccp register."), 0u);
    EXPECT_TRUE(eventually([&] { return status() == GEV_CONNECTION_OK; }));
    uint32_t value = 0;
    EXPECT_EQ(GEVReadRegister(kDevice, reg::kVersion, 1, &value), GEV_STATUS_SUCCESS);
}

TEST_F(DeviceOpen, LostAccessIsTakenBackAndTheMessageChannelRestored) {
    openFastCamera(false);
    const uint32_t port = camera().model().readRegister(reg::kMcp);
    // What a camera does when another host took over and left: control and destinations gone.
    camera().model().writeRegister(reg::kCcp, 0);
    camera().model().writeRegister(reg::kMcp, 0);
    camera().model().writeRegister(reg::kMcda, 0);
    ASSERT_TRUE(eventually([&] {
        return LogCapture::instance().contains("[WARNING] - CCP access lost. Access mode reset.");
    }));
    EXPECT_TRUE(eventually([&] { return camera().model().readRegister(reg::kMcp) == port; }));
    EXPECT_EQ(camera().model().readRegister(reg::kCcp) & 3u, 1u);
    EXPECT_EQ(camera().model().readRegister(reg::kMcda), 0x7F000001u);
}

TEST_F(DeviceOpen, HeartbeatRateSetsAThirdOfTheTimeoutAsPeriod) {
    startCamera();
    ASSERT_EQ(open(), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetHeartbeatRate(kDevice, 5000), GEV_STATUS_SUCCESS);
    uint32_t timeout = 0;
    ASSERT_EQ(GEVGetHeartbeatRate(kDevice, &timeout), GEV_STATUS_SUCCESS);
    EXPECT_EQ(timeout, 5000u);
    EXPECT_EQ(record().heartbeatPeriodMs, 1666u);

    GevChannelParameter p{4000, 150, 2, 300, 7, 900};
    ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record().heartbeatPeriodMs, 4000u);
    EXPECT_EQ(record().waitMicroseconds, 150000u);

    // A period beyond the camera's time-out is clamped below it.
    ASSERT_EQ(GEVSetHeartbeatRate(kDevice, 3000), GEV_STATUS_SUCCESS);
    p.heartbeatPeriodMs = 5000;
    ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record().heartbeatPeriodMs, 2800u);

    // Disabled: the camera's bit is set and the thread stops.
    ASSERT_EQ(GEVDisableHeartbeat(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(camera().model().readRegister(reg::kGvcpConfiguration) & 1u, 1u);
    EXPECT_FALSE(record().heartbeatThread.running());
}

// ---- events ----------------------------------------------------------------------------

struct SeenEvent {
    uint8_t device = 0;
    GevEventInfo info{};
    std::vector<uint8_t> data;
};
std::mutex g_eventMutex;
std::vector<SeenEvent> g_events;
std::vector<std::string> g_traces;

void onEvent(uint8_t device, const GevEventInfo* info) {
    std::lock_guard lock(g_eventMutex);
    SeenEvent e{device, *info, {}};
    if (info->data != nullptr)
        e.data.assign(info->data, info->data + info->dataLength);
    g_events.push_back(e);
}
void onTrace(const char* text) {
    std::lock_guard lock(g_eventMutex);
    g_traces.emplace_back(text);
}

class MessageChannelEvents : public DeviceOpen {
  protected:
    void SetUp() override {
        DeviceOpen::SetUp();
        {
            std::lock_guard lock(g_eventMutex);
            g_events.clear();
            g_traces.clear();
        }
        GEVSetDebugTraceCallback(&onTrace);
        startCamera();
        ASSERT_EQ(open(), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVSetMessageChannelCallback(kDevice, &onEvent), GEV_STATUS_SUCCESS);
        // Events come from the camera's address, like a camera's own message channel.
        sender_ = platform::createUdpSocket(camera().addressNet(), 0);
        ASSERT_TRUE(sender_.isValid());
    }
    void TearDown() override {
        GEVSetDebugTraceCallback(nullptr);
        DeviceOpen::TearDown();
    }
    void send(const gvcp::EventToSend& event, platform::UniqueSocket* from = nullptr) {
        const auto bytes = gvcp::buildEvent(event);
        ASSERT_TRUE(platform::sendTo(from ? *from : sender_, bytes, htonl(INADDR_LOOPBACK),
                                     gvcp::MessageChannel::instance().port()));
    }
    size_t eventCount() {
        std::lock_guard lock(g_eventMutex);
        return g_events.size();
    }
    platform::UniqueSocket sender_;
};

// An event asking for an acknowledge gets it; one with data hands the data over.
TEST_F(MessageChannelEvents, EventsAreAcknowledgedTracedAndHandedOverWithTheirData) {
    send({.reqId = 77,
          .eventId = 0x0002,
          .streamChannel = 0x0001,
          .blockId = 0x1234,
          .timestamp = 0x0102030405060708ull,
          .data = {}});
    ASSERT_TRUE(platform::waitReadable(sender_, 2s) == platform::WaitResult::Ready);
    uint8_t ack[16];
    const auto n = platform::receiveFrom(sender_, ack);
    ASSERT_EQ(n, 8u);
    EXPECT_EQ(std::vector<uint8_t>(ack, ack + 8),
              (std::vector<uint8_t>{0, 0, 0x00, 0xC1, 0, 0, 0, 77}));

    std::vector<uint8_t> data(40);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    send({.eventData = true,
          .extended = true,
          .ackRequired = false,
          .reqId = 7,
          .eventId = 0x9001,
          .blockId = 0x1122334455667788ull,
          .timestamp = 99,
          .data = data});
    ASSERT_TRUE(eventually([&] { return eventCount() == 2; }));
    std::lock_guard lock(g_eventMutex);
    EXPECT_EQ(g_events[0].device, kDevice);
    EXPECT_EQ(g_events[0].info.eventId, 0x0002);
    EXPECT_EQ(g_events[0].info.streamChannel, htons(1)) << "kept as it stands in the packet";
    EXPECT_EQ(g_events[0].info.blockId, 0x1234u);
    EXPECT_EQ(g_events[0].info.timestamp, 0x0102030405060708ull);
    EXPECT_EQ(g_events[0].info.data, nullptr);
    EXPECT_EQ(g_events[0].info.dataLength, 0);
    EXPECT_EQ(g_events[1].info.dataLength, 40);
    EXPECT_EQ(g_events[1].data, data);
    EXPECT_EQ(g_events[1].info.blockId, 0x1122334455667788ull);
    EXPECT_EQ(g_events[1].info.timestamp, 99u);
    EXPECT_EQ(g_traces, (std::vector<std::string>{
                            "[INFO] - Message Channel Device 1 -> (ack) trigger event\r\n",
                            "[INFO] - Message Channel Device 1 -> device-specific event: 0x9001, "
                            "req_Id: 7\r\n"}));
    EXPECT_EQ(platform::waitReadable(sender_, 100ms), platform::WaitResult::TimedOut)
        << "no acknowledge was asked for";
}

TEST_F(MessageChannelEvents, EveryEventOfAnExtendedDatagramFromTheCameraIsHandedOver) {
    const gvcp::EventRecord more[] = {{0x0003, 0, 0x100000002ull, 20},
                                      {0x0004, 0, 0x100000003ull, 30}};
    ASSERT_TRUE(camera().sendEvent({.extended = true,
                                    .eventId = 0x0002,
                                    .blockId = 0x100000001ull,
                                    .timestamp = 10,
                                    .data = {},
                                    .following = more}))
        << "acknowledged once";
    ASSERT_TRUE(eventually([&] { return eventCount() == 3; }));
    std::lock_guard lock(g_eventMutex);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(g_events[i].info.eventId, 0x0002 + i);
        EXPECT_EQ(g_events[i].info.blockId, 0x100000001ull + i);
        EXPECT_EQ(g_events[i].info.timestamp, 10u * (i + 1));
    }
    EXPECT_EQ(camera().receivedEventAcks().size(), 1u);
}

TEST_F(MessageChannelEvents, StrangersAndMalformedDatagramsAreIgnoredWithoutStoppingTheChannel) {
    auto stranger = platform::createUdpSocket(htonl(INADDR_LOOPBACK), 0);
    send({.eventId = 0x0003, .data = {}}, &stranger);
    const std::vector<uint8_t> junk = {0x42, 0x01, 0x00, 0x80, 0, 0, 0, 1};
    ASSERT_TRUE(platform::sendTo(sender_, junk, htonl(INADDR_LOOPBACK),
                                 gvcp::MessageChannel::instance().port()));
    const std::vector<uint8_t> shortEvent = {0x42, 0x00, 0x00, 0xC0, 0, 16, 0, 1, 0, 0};
    ASSERT_TRUE(platform::sendTo(sender_, shortEvent, htonl(INADDR_LOOPBACK),
                                 gvcp::MessageChannel::instance().port()));
    // An EVENTDATA whose length field claims more than arrived gets only what arrived.
    auto lying =
        gvcp::buildEvent({.eventData = true, .ackRequired = false, .eventId = 0x8000, .data = {}});
    lying[4] = 0x02;
    ASSERT_TRUE(platform::sendTo(sender_, lying, htonl(INADDR_LOOPBACK),
                                 gvcp::MessageChannel::instance().port()));
    send({.ackRequired = false, .eventId = 0x8001, .data = {}});
    ASSERT_TRUE(eventually([&] { return eventCount() == 2; }));
    std::lock_guard lock(g_eventMutex);
    EXPECT_EQ(g_events[0].info.eventId, 0x8000);
    EXPECT_EQ(g_events[0].info.dataLength, 0);
    EXPECT_EQ(g_events[1].info.eventId, 0x8001);
    EXPECT_EQ(g_traces.at(0), "[INFO] - Message Channel Device 1 -> unknown event\r\n");
    EXPECT_EQ(g_traces.at(1), "[INFO] - Message Channel Device 1 -> error event\r\n");
}

// ---- action command ----------------------------------------------------------------------

TEST(ActionWire, ImmediateAndScheduledLayouts) {
    const auto now = gvcp::buildAction({5, 1, 1, 0xFFFFFFFF, std::nullopt});
    EXPECT_EQ(now, (std::vector<uint8_t>{0x42, 0x01, 0x01, 0x00, 0x00, 0x0C, 0x00, 0x05, 0,   0, 0,
                                         1,    0,    0,    0,    1,    0xFF, 0xFF, 0xFF, 0xFF}));
    const auto later = gvcp::buildAction({6, 1, 2, 3, 0x0102030405060708ull});
    ASSERT_EQ(later.size(), 28u);
    EXPECT_EQ(later[1], 0x81);
    EXPECT_EQ(later[5], 20);
    EXPECT_EQ(gvcp::parseAction(later)->actionTimeNs, 0x0102030405060708ull);
}

TEST_F(DeviceOpen, ActionCommandIsSentOnceAndWaitedForOnce) {
    startCamera();
    ASSERT_EQ(open(), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetReadWriteParameter(kDevice, 100, 3), GEV_STATUS_SUCCESS);
    camera().faults().goSilent(0ms);
    camera().clearReceivedCommands();
    EXPECT_EQ(GEVSetActionCommand(kDevice, 1, 1, 0xFFFFFFFF, 0), GEV_STATUS_TIMEOUT);
    const auto actions = commands(gvcp::kActionCmd);
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0].bytes.size(), 20u);
    EXPECT_EQ(actions[0].flags, 0x01);
}

}  // namespace
}  // namespace kavro::test
