// Discovery answers, Force IP and the persistent IP registers of a simulated camera.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "gvcp/wire_discovery.h"
#include "platform/byte_order.h"
#include "platform/socket.h"
#include "sim/camera_server.h"

namespace kavro::sim {
namespace {

using namespace kavro::gvcp;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

const Peer kHost{htonl(0x7F000001), 50000};

std::string text(const Bytes& ack, size_t offset, size_t size) {
    const char* start = reinterpret_cast<const char*>(ack.data() + offset);
    return std::string(start, strnlen(start, size));
}

TEST(NetworkConfig, DiscoveryFieldsStandAtTheirOffsetsAndPersistentIpFollowsTheCapability) {
    CameraConfig config;
    config.gevVersion = 0x00010002;
    config.userName = "left";
    CameraModel model(config);
    model.setCurrentAddress(htonl(0xC0A8010A), htonl(0xFFFFFF00), htonl(0xC0A80101));
    model.takeControlAsOtherHost(reg::kCcpExclusiveAccess);  // discovery answers anyway

    Peer replyTo;
    const auto ack = model.handleCommand(buildDiscovery(false, 9), kHost, &replyTo);
    ASSERT_TRUE(ack);
    ASSERT_EQ(ack->size(), 256u);
    const Bytes header(ack->begin(), ack->begin() + 8);
    EXPECT_EQ(header, (Bytes{0x00, 0x00, 0x00, 0x03, 0x00, 0xF8, 0x00, 0x09}));
    const uint8_t* a = ack->data();
    EXPECT_EQ(platform::loadBe16(a + 8), 1) << "version major";
    EXPECT_EQ(platform::loadBe16(a + 10), 2) << "version minor";
    EXPECT_EQ(platform::loadBe32(a + 12), 0x80000000u) << "device mode";
    EXPECT_EQ(Bytes(a + 18, a + 24), (Bytes{0x00, 0x0C, 0x4B, 0x10, 0x20, 0x30}));
    EXPECT_EQ(platform::loadBe32(a + 24), 0x7u) << "IP configuration options";
    EXPECT_EQ(platform::loadBe32(a + 28), 0x6u) << "IP configuration current";
    EXPECT_EQ(platform::loadBe32(a + 44), 0xC0A8010Au);
    EXPECT_EQ(platform::loadBe32(a + 60), 0xFFFFFF00u);
    EXPECT_EQ(platform::loadBe32(a + 76), 0xC0A80101u);
    EXPECT_EQ(text(*ack, 80, 32), config.manufacturer);
    EXPECT_EQ(text(*ack, 112, 32), config.model);
    EXPECT_EQ(text(*ack, 144, 32), config.deviceVersion);
    EXPECT_EQ(text(*ack, 176, 48), config.manufacturerInfo);
    EXPECT_EQ(text(*ack, 224, 16), config.serialNumber);
    EXPECT_EQ(text(*ack, 240, 16), "left");
    EXPECT_EQ(replyTo, kHost);

    // Asked for a broadcast answer, it goes to everyone at the host's port.
    ASSERT_TRUE(model.handleCommand(buildDiscovery(true), kHost, &replyTo));
    EXPECT_EQ(replyTo, (Peer{INADDR_BROADCAST, kHost.port}));

    // The persistent IP configuration bits follow the capability.
    config.enforceControlPrivilege = false;
    CameraModel persistent(config);
    const uint32_t persistentOnly[] = {0x1};
    EXPECT_EQ(persistent.readRegister(reg::kNetworkInterfaceCapability), 0x7u);
    ASSERT_TRUE(persistent.handleCommand(
        buildWriteReg(1, reg::kNetworkInterfaceConfiguration, persistentOnly), kHost));
    EXPECT_EQ(persistent.readRegister(reg::kNetworkInterfaceConfiguration), 0x5u)
        << "link-local stays on";
    EXPECT_EQ(persistent.persistentIpSettings(), std::nullopt) << "no address stored yet";
    const uint32_t settings[] = {0xC0A8010B};
    ASSERT_TRUE(
        persistent.handleCommand(buildWriteReg(2, reg::kPersistentIpAddress, settings), kHost));
    ASSERT_TRUE(persistent.persistentIpSettings());
    EXPECT_EQ(persistent.persistentIpSettings()->addressNet, htonl(0xC0A8010B));

    config.supportsPersistentIp = false;
    CameraModel without(config);
    EXPECT_EQ(without.readRegister(reg::kNetworkInterfaceCapability), 0x6u);
    ASSERT_TRUE(without.handleCommand(
        buildWriteReg(1, reg::kNetworkInterfaceConfiguration, persistentOnly), kHost));
    EXPECT_EQ(without.readRegister(reg::kNetworkInterfaceConfiguration), 0x4u);
}

// Force IP over loopback, where every 127.x.y.z address is local: the camera really moves.
class ForceIpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        camera = CameraServer::startOnLoopback();
        ASSERT_NE(camera, nullptr);
        started = camera->addressNet();
        host = platform::createUdpSocket(htonl(0x7F000001), 0);
        ASSERT_TRUE(host.isValid());
    }
    // Sends FORCEIP to the camera's current address; returns the answer and who sent it.
    std::optional<AckHeader> force(uint32_t address, std::array<uint8_t, 6> targetMac,
                                   platform::Sender* from = nullptr) {
        auto command = buildForceIp({targetMac, address, 0xFF000000, 0});
        command[1] = kFlagAckRequired;  // also for address 0, to see the outcome
        EXPECT_TRUE(platform::sendTo(host, command, camera->addressNet(), kPort));
        if (platform::waitReadable(host, 300ms) != platform::WaitResult::Ready)
            return std::nullopt;
        Bytes buffer(64);
        const auto size = platform::receiveFrom(host, buffer, from);
        return size ? parseAckHeader(std::span(buffer).first(*size)) : std::nullopt;
    }
    uint32_t nextAddress(uint32_t offset) const {
        return ntohl(started) + offset;  // host order, still in 127/8
    }

    std::unique_ptr<CameraServer> camera;
    uint32_t started = 0;
    platform::UniqueSocket host;
    const std::array<uint8_t, 6> mac_ = CameraConfig{}.mac;
};

TEST_F(ForceIpTest, MatchingMacMovesTheCameraAndItAnswersFromThere) {
    const uint32_t target = nextAddress(97);
    platform::Sender from;
    const auto ack = force(target, mac_, &from);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->status, kStatusSuccess);
    EXPECT_EQ(ack->ackCode, kForceIpAck);
    EXPECT_EQ(from.addressNet, htonl(target)) << "answered from the new address";
    EXPECT_EQ(camera->addressNet(), htonl(target));
    EXPECT_EQ(camera->model().readRegister(reg::kCurrentIpAddress), target);
    EXPECT_EQ(camera->model().readRegister(reg::kCurrentSubnetMask), 0xFF000000u);

    // Address 0 without persistent IP goes back to where the camera started.
    ASSERT_EQ(force(0, mac_)->status, kStatusSuccess);
    EXPECT_EQ(camera->addressNet(), started);
    // With persistent IP enabled, to the persistent address.
    camera->model().writeRegister(reg::kNetworkInterfaceConfiguration, 0x5);
    camera->model().writeRegister(reg::kPersistentIpAddress, nextAddress(98));
    camera->model().writeRegister(reg::kPersistentSubnetMask, 0xFF000000);
    ASSERT_EQ(force(0, mac_)->status, kStatusSuccess);
    EXPECT_EQ(camera->addressNet(), htonl(nextAddress(98)));
}

TEST_F(ForceIpTest, OtherMacsAreIgnoredAndATakenAddressIsRefused) {
    auto other = mac_;
    other[5] ^= 0xFF;
    EXPECT_FALSE(force(nextAddress(97), other));
    EXPECT_EQ(camera->addressNet(), started);

    // Where another camera serves, this one can't: it stays and says so.
    auto neighbour = CameraServer::startOnLoopback();
    ASSERT_NE(neighbour, nullptr);
    const auto ack = force(ntohl(neighbour->addressNet()), mac_);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->status, kStatusError);
    EXPECT_EQ(camera->addressNet(), started);

    // A camera another host controls is not moved from under it.
    camera->model().takeControlAsOtherHost(reg::kCcpControlAccess);
    EXPECT_EQ(force(nextAddress(97), mac_)->status, kStatusAccessDenied);
    EXPECT_EQ(camera->addressNet(), started);
}

}  // namespace
}  // namespace kavro::sim
