// The camera server over real UDP on loopback, and the faults it can be told to make.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

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

TEST_F(CameraServerTest, AnswersReadRegAndRecordsTheCommand) {
    const Bytes command = buildReadReg(1, reg::kCurrentIpAddress, 1);
    send(command);
    const auto ack = receive();
    EXPECT_EQ(header(ack).status, kStatusSuccess);
    EXPECT_EQ(header(ack).ackId, 1);
    EXPECT_EQ(firstValue(ack), ntohl(server->addressNet())) << "current IP is where it serves";

    ASSERT_TRUE(server->waitForCommands(1, 1000ms));
    const auto received = server->receivedCommands();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].command, kReadRegCmd);
    EXPECT_EQ(received[0].reqId, 1);
    EXPECT_EQ(received[0].bytes, command);
    EXPECT_EQ(received[0].senderPort, platform::localPort(host));
    server->clearReceivedCommands();
    EXPECT_TRUE(server->receivedCommands().empty());
}

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

TEST_F(CameraServerTest, DatagramsThatAreNotCommandsAreRecordedButNotAnswered) {
    send(Bytes{0x42, 0x01, 0x00});
    EXPECT_FALSE(receive(100ms));
    ASSERT_TRUE(server->waitForCommands(1, 1000ms));
    EXPECT_EQ(server->receivedCommands()[0].command, 0);
}

TEST_F(CameraServerTest, DroppedCommandsGetNoAnswerAndNoEffect) {
    server->faults().dropNextCommands(1);
    const uint32_t one[] = {1};
    send(buildWriteReg(1, reg::kCcp, one));
    EXPECT_FALSE(receive(150ms));
    EXPECT_EQ(server->model().readRegister(reg::kCcp), 0u);
    send(buildWriteReg(2, reg::kCcp, one));
    EXPECT_EQ(header(receive()).ackId, 2);
    EXPECT_EQ(server->model().readRegister(reg::kCcp), 1u);
    EXPECT_EQ(server->receivedCommands().size(), 2u);
}

TEST_F(CameraServerTest, DelayedAnswerDoesNotHoldUpOthers) {
    server->faults().delayNextAnswers(1, 200ms);
    const auto start = Clock::now();
    send(buildReadReg(1, reg::kVersion, 1));
    send(buildReadReg(2, reg::kVersion, 1));
    EXPECT_EQ(header(receive()).ackId, 2);
    EXPECT_EQ(header(receive()).ackId, 1);
    EXPECT_GE(Clock::now() - start, 200ms);
}

TEST_F(CameraServerTest, StaleAckComesBeforeTheRightOne) {
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

TEST_F(CameraServerTest, WrongAckCodeAndDeviceStatusReplaceTheRightOnes) {
    server->faults().wrongAckCodeNext(1, kPendingAck);
    send(buildReadReg(1, reg::kVersion, 1));
    const auto wrong = header(receive());
    EXPECT_EQ(wrong.ackCode, kPendingAck);
    EXPECT_EQ(wrong.status, kStatusSuccess);
    EXPECT_EQ(wrong.ackId, 1);

    server->faults().deviceStatusNext(1, kStatusBusy);
    send(buildReadReg(2, reg::kVersion, 1));
    const auto busy = header(receive());
    EXPECT_EQ(busy.status, kStatusBusy);
    EXPECT_EQ(busy.ackCode, kReadRegAck);
}

TEST_F(CameraServerTest, RawAnswersAreSentAsGiven) {
    const Bytes shortAck = {0x00, 0x00, 0x00, 0x81, 0x00, 0x08, 0x00, 0x00, 0x01};
    server->faults().rawAnswerNext(1, shortAck);
    send(buildReadReg(7, reg::kVersion, 2));
    Bytes patched = shortAck;
    patched[7] = 7;
    EXPECT_EQ(receive(), patched);

    server->faults().rawAnswerNext(1, {0xAB}, false);
    send(buildReadReg(8, reg::kVersion, 1));
    EXPECT_EQ(receive(), Bytes{0xAB});
}

TEST_F(CameraServerTest, SilenceEndsByItselfOrWhenCleared) {
    server->faults().goSilent(200ms);
    send(buildReadReg(1, reg::kVersion, 1));
    EXPECT_FALSE(receive(100ms));
    std::this_thread::sleep_for(150ms);
    send(buildReadReg(2, reg::kVersion, 1));
    EXPECT_EQ(header(receive()).ackId, 2);

    server->faults().goSilent(0ms);
    send(buildReadReg(3, reg::kVersion, 1));
    EXPECT_FALSE(receive(100ms));
    server->faults().clear();
    send(buildReadReg(4, reg::kVersion, 1));
    EXPECT_EQ(header(receive()).ackId, 4);
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
