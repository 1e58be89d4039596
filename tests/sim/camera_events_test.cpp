// Events on the message channel of a camera served over loopback. (Its heartbeat supervision
// is seen end to end by the link repair test.)
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>

#include "gvcp/bootstrap.h"
#include "gvcp/wire_events.h"
#include "platform/socket.h"
#include "sim/camera_server.h"

namespace kavro::sim {
namespace {

using namespace kavro::gvcp;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

class CameraEventsTest : public ::testing::Test {
  protected:
    void start(const CameraConfig& config = {}) {
        server = CameraServer::startOnLoopback(config);
        ASSERT_NE(server, nullptr);
        host = platform::createUdpSocket(htonl(0x7F000001), 0);
        ASSERT_TRUE(host.isValid());
    }
    void pointMessageChannelAtHost() {
        server->model().writeRegister(reg::kMcda, 0x7F000001);
        server->model().writeRegister(reg::kMcp, *platform::localPort(host));
    }
    std::optional<Bytes> receive(platform::Sender* from = nullptr) {
        if (platform::waitReadable(host, 1000ms) != platform::WaitResult::Ready)
            return std::nullopt;
        Bytes buffer(2048);
        const auto size = platform::receiveFrom(host, buffer, from);
        if (!size)
            return std::nullopt;
        buffer.resize(*size);
        return buffer;
    }

    std::unique_ptr<CameraServer> server;
    platform::UniqueSocket host;
};

// Sending an event and taking its acknowledge are read end to end by the message channel tests.
TEST_F(CameraEventsTest, UnacknowledgedEventIsSentAgainAsTheRetryCountSays) {
    start();
    pointMessageChannelAtHost();
    server->model().writeRegister(reg::kMctt, 50);
    server->model().writeRegister(reg::kMcrc, 2);
    EventToSend event;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(server->sendEvent(event));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);

    std::vector<uint16_t> reqIds;
    while (const auto datagram = receive()) {
        reqIds.push_back(parseEvents(*datagram).at(0).header.reqId);
        if (reqIds.size() == 3)
            break;
    }
    ASSERT_EQ(reqIds.size(), 3u);
    EXPECT_EQ(reqIds[0], reqIds[2]) << "a repeat keeps its req_id";
}

}  // namespace
}  // namespace kavro::sim
