// The camera server over real UDP on loopback, and the faults it can be told to make that no
// library test would notice missing.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "platform/byte_order.h"
#include "platform/socket.h"
#include "sim/camera_server.h"

namespace kavro::sim {
namespace {

using namespace kavro::gvcp;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

class CameraServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server = CameraServer::startOnLoopback();
        ASSERT_NE(server, nullptr);
        host = platform::createUdpSocket(htonl(0x7F000001), 0);
        ASSERT_TRUE(host.isValid());
    }

    void send(const Bytes& datagram) {
        ASSERT_TRUE(platform::sendTo(host, datagram, server->addressNet(), kPort));
    }
    std::optional<Bytes> receive(std::chrono::milliseconds timeout = 1000ms) {
        if (platform::waitReadable(host, timeout) != platform::WaitResult::Ready) {
            return std::nullopt;
        }
        Bytes buffer(2048);
        const auto size = platform::receiveFrom(host, buffer);
        if (!size)
            return std::nullopt;
        buffer.resize(*size);
        return buffer;
    }
    static AckHeader header(const std::optional<Bytes>& ack) {
        EXPECT_TRUE(ack.has_value());
        return ack ? parseAckHeader(*ack).value_or(AckHeader{}) : AckHeader{};
    }
    static uint32_t firstValue(const std::optional<Bytes>& ack) {
        return ack && ack->size() >= 12 ? platform::loadBe32(ack->data() + 8) : 0;
    }

    std::unique_ptr<CameraServer> server;
    platform::UniqueSocket host;
};

TEST_F(CameraServerTest, LoopbackCamerasGetAddressesOfTheirOwn) {
    auto second = CameraServer::startOnLoopback();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->addressNet(), server->addressNet());
    for (const uint32_t address : {ntohl(server->addressNet()), ntohl(second->addressNet())}) {
        EXPECT_EQ(address >> 24, 127u);
        EXPECT_NE((address >> 16) & 0xFF, 0u) << "127.0.x.x stays free for gevcamsim";
    }
    // An address already served can't be bound twice.
    EXPECT_EQ(CameraServer::start({}, server->addressNet()), nullptr);
}

TEST_F(CameraServerTest, DelayedAndStaleAnswersComeAsToldAndHoldUpNoOther) {
    server->faults().delayNextAnswers(1, 200ms);
    const auto start = Clock::now();
    send(buildReadReg(1, reg::kVersion, 1));
    send(buildReadReg(2, reg::kVersion, 1));
    EXPECT_EQ(header(receive()).ackId, 2);
    EXPECT_EQ(header(receive()).ackId, 1);
    EXPECT_GE(Clock::now() - start, 200ms);

    // A stale acknowledge comes before the right one.
    server->faults().staleAckBeforeNext(2);
    send(buildReadReg(1, reg::kVersion, 1));
    EXPECT_EQ(header(receive()).ackId, 65535);
    auto right = receive();
    EXPECT_EQ(header(right).ackId, 1);
    EXPECT_EQ(firstValue(right), 0x00020000u);
    send(buildReadReg(9, reg::kVersion, 1));
    EXPECT_EQ(header(receive()).ackId, 8);
    EXPECT_EQ(header(receive()).ackId, 9);
    send(buildReadReg(10, reg::kVersion, 1));
    EXPECT_EQ(header(receive()).ackId, 10) << "the fault was used up";
}

TEST(FaultPlan, RandomDropsRepeatWithTheSeed) {
    const auto pattern = [](uint64_t seed) {
        FaultPlan plan;
        plan.seed(seed);
        plan.dropCommandsRandomly(0.5);
        std::vector<bool> drops;
        for (int i = 0; i < 64; ++i)
            drops.push_back(plan.dropCommand());
        return drops;
    };
    const auto first = pattern(42);
    EXPECT_EQ(first, pattern(42));
    EXPECT_NE(first, pattern(43));
    EXPECT_NE(std::count(first.begin(), first.end(), true), 0);
    EXPECT_NE(std::count(first.begin(), first.end(), false), 0);
}

}  // namespace
}  // namespace kavro::sim
