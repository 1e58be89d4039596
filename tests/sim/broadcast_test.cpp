// Broadcast DISCOVERY and FORCEIP reach a camera only through a real link: this test builds a
// private network of two namespaces joined by a veth pair (198.19.7.0/24, never routed anywhere)
// and skips when the machine does not allow that.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "gvcp/bootstrap.h"
#include "gvcp/wire_discovery.h"
#include "platform/socket.h"
#include "sim/camera_server.h"
#include "sim/link_setup.h"
#include "tests/support/netns_lab.h"

namespace kavro::sim {
namespace {

using namespace kavro::gvcp;
using namespace std::chrono_literals;

TEST(Broadcast, DiscoveryAndForceIpReachTheCameraAndAnswerByBroadcast) {
    std::string why;
    auto network =
        test::NetnsLab::create({{"kvsh", "kvsc", "198.19.7.1/24", {"198.19.7.2/24"}}}, why);
    if (!network)
        GTEST_SKIP() << "broadcast test skipped: " << why;
    CameraConfig config;
    config.broadcastInterface = "kvsc";
    std::unique_ptr<CameraServer> camera;
    network->inCameraNamespace(
        [&] { camera = CameraServer::start(config, platform::parseIpv4("198.19.7.2")); });
    ASSERT_NE(camera, nullptr);

    // A broadcast answer reaches only sockets bound to no address: listen on the link itself.
    platform::SocketOptions options;
    options.broadcast = true;
    auto host = platform::createUdpSocket(0, 0, options);
    ASSERT_TRUE(host.isValid());
    ASSERT_TRUE(restrictToInterface(host, "kvsh"));
    const auto receive = [&](platform::Sender& from) -> std::vector<uint8_t> {
        if (platform::waitReadable(host, 1s) != platform::WaitResult::Ready)
            return {};
        std::vector<uint8_t> buffer(512);
        const auto size = platform::receiveFrom(host, buffer, &from);
        buffer.resize(size.value_or(0));
        return buffer;
    };

    // A veth link that has just come up may still drop the first broadcast on a busy machine.
    platform::Sender from;
    std::optional<DiscoveryAck> found;
    for (int attempt = 0; attempt < 3 && !found; ++attempt) {
        ASSERT_TRUE(platform::sendTo(host, buildDiscovery(true), INADDR_BROADCAST, kPort));
        found = parseDiscoveryAck(receive(from));
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(found->currentIp, 0xC6130702u);
    EXPECT_EQ(from.addressNet, platform::parseIpv4("198.19.7.2"));

    // The link takes the forced address and the camera answers from it.
    auto command = buildForceIp({config.mac, 0xC6130709, 0xFFFFFF00, 0});
    command[1] |= kFlagBroadcastAck;
    ASSERT_TRUE(platform::sendTo(host, command, INADDR_BROADCAST, kPort));
    const auto ack = receive(from);
    ASSERT_TRUE(parseAckHeader(ack));
    EXPECT_EQ(parseAckHeader(ack)->ackCode, kForceIpAck);
    EXPECT_EQ(parseAckHeader(ack)->status, kStatusSuccess);
    EXPECT_EQ(from.addressNet, platform::parseIpv4("198.19.7.9"));
    EXPECT_EQ(camera->model().readRegister(reg::kCurrentIpAddress), 0xC6130709u);
    camera.reset();
}

}  // namespace
}  // namespace kavro::sim
