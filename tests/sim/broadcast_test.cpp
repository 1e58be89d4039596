// Broadcast DISCOVERY and FORCEIP reach a camera only through a real link: this test builds two
// network namespaces of its own joined by a veth pair (198.19.7.0/24, never routed anywhere)
// and skips when the machine does not allow that.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "gvcp/bootstrap.h"
#include "gvcp/wire_discovery.h"
#include "platform/socket.h"
#include "sim/camera_server.h"
#include "sim/link_setup.h"

namespace kavro::sim {
namespace {

using namespace kavro::gvcp;
using namespace std::chrono_literals;

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The calling thread moves into the host namespace; the camera namespace is entered on demand.
class VethPair {
  public:
    bool create(std::string& why) {
        if (::geteuid() != 0 || !run("command -v ip")) {
            why = "needs root and the ip command";
            return false;
        }
        const std::string tag = std::to_string(::getpid());
        host_ = "kvsimh" + tag;
        camera_ = "kvsimc" + tag;
        const std::string inHost = "ip netns exec " + host_ + " ";
        const std::string inCamera = "ip netns exec " + camera_ + " ";
        const bool ok =
            run("ip netns add " + host_) && run("ip netns add " + camera_) &&
            run("ip link add kvsh netns " + host_ + " type veth peer name kvsc netns " + camera_) &&
            run(inHost + "ip addr add 198.19.7.1/24 dev kvsh") &&
            run(inHost + "ip link set kvsh up") &&
            run(inCamera + "ip addr add 198.19.7.2/24 dev kvsc") &&
            run(inCamera + "ip link set kvsc up");
        original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        cameraFd_ = ::open(("/run/netns/" + camera_).c_str(), O_RDONLY | O_CLOEXEC);
        hostFd_ = ::open(("/run/netns/" + host_).c_str(), O_RDONLY | O_CLOEXEC);
        if (!ok || original_ < 0 || cameraFd_ < 0 || hostFd_ < 0 ||
            ::setns(hostFd_, CLONE_NEWNET) != 0) {
            why = "could not build the namespaces";
            return false;
        }
        return true;
    }
    ~VethPair() {
        if (original_ >= 0) {
            (void)::setns(original_, CLONE_NEWNET);
            ::close(original_);
        }
        for (const int fd : {cameraFd_, hostFd_}) {
            if (fd >= 0)
                ::close(fd);
        }
        for (const auto& ns : {host_, camera_}) {
            if (!ns.empty())
                run("ip netns del " + ns);
        }
    }
    // Starts a camera inside the camera namespace; its server thread stays there.
    std::unique_ptr<CameraServer> startCamera(const CameraConfig& config, const char* address) {
        if (::setns(cameraFd_, CLONE_NEWNET) != 0)
            return nullptr;
        auto camera = CameraServer::start(config, platform::parseIpv4(address));
        (void)::setns(hostFd_, CLONE_NEWNET);
        return camera;
    }

  private:
    std::string host_, camera_;
    int original_ = -1, cameraFd_ = -1, hostFd_ = -1;
};

TEST(Broadcast, DiscoveryAndForceIpReachTheCameraAndAnswerByBroadcast) {
    VethPair network;
    std::string why;
    if (!network.create(why))
        GTEST_SKIP() << "broadcast test skipped: " << why;
    CameraConfig config;
    config.broadcastInterface = "kvsc";
    auto camera = network.startCamera(config, "198.19.7.2");
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
