#include "sim/test_packets.h"

#include <arpa/inet.h>

#include <vector>

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "gvsp/packet_test.h"
#include "gvsp/wire.h"

namespace kavro::sim {

namespace reg = gvcp::reg;

namespace {
constexpr uint32_t kIpUdpHeaders = 28;
}

TestPackets::TestPackets(const CameraConfig& config)
    : maxPacketSize_(config.maxPacketSize),
      testData_((config.gvcpCapability & reg::kCapTestData) != 0),
      pathMtu_(config.pathMtu) {}

void TestPackets::setPathMtu(uint32_t mtu) {
    std::lock_guard lock(mutex_);
    pathMtu_ = mtu;
}

void TestPackets::setAnswering(bool answering) {
    std::lock_guard lock(mutex_);
    answering_ = answering;
}

void TestPackets::corruptDataAt(uint32_t position) {
    std::lock_guard lock(mutex_);
    corruptAt_ = position;
}

uint64_t TestPackets::sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

uint16_t TestPackets::onScpsWrite(DeviceMemory& memory, RegisterWriteRequest& request) {
    const uint32_t size = request.value & gvsp::kScpsSizeMask;
    if (maxPacketSize_ != 0 && size > maxPacketSize_)
        return gvcp::kStatusInvalidParameter;
    const bool fire = (request.value & gvsp::kScpsFireTestPacket) != 0;
    request.value &= ~gvsp::kScpsFireTestPacket;
    if (fire)
        send(memory, size, (request.value & gvsp::kScpsDoNotFragment) != 0);
    return gvcp::kStatusSuccess;
}

void TestPackets::send(const DeviceMemory& memory, uint32_t size, bool doNotFragment) {
    std::lock_guard lock(mutex_);
    if (!answering_ || size < kIpUdpHeaders + gvsp::kStandardHeaderSize)
        return;
    if (doNotFragment && pathMtu_ != 0 && size > pathMtu_)
        return;
    const uint32_t destination = memory.value(reg::kScda0);
    const uint16_t port = static_cast<uint16_t>(memory.value(reg::kScp0) & 0xFFFF);
    if (destination == 0 || port == 0)
        return;
    if (!socket_.isValid()) {
        // Sent from the camera's own address when it can be bound.
        socket_ = platform::createUdpSocket(htonl(memory.value(reg::kCurrentIpAddress)), 0);
        if (!socket_.isValid())
            socket_ = platform::createUdpSocket(0, 0);
        if (!socket_.isValid())
            return;
    }
    // A header of zeros (block id 0), then the data.
    std::vector<uint8_t> datagram(size - kIpUdpHeaders, 0);
    const std::span<uint8_t> data(datagram.data() + gvsp::kStandardHeaderSize,
                                  datagram.size() - gvsp::kStandardHeaderSize);
    if (testData_)
        gvsp::TestDataSequence().fill(data);
    if (corruptAt_ != 0 && corruptAt_ <= data.size())
        data[corruptAt_ - 1] = static_cast<uint8_t>(~data[corruptAt_ - 1]);
    if (platform::sendTo(socket_, datagram, htonl(destination), port))
        ++sent_;
}

}  // namespace kavro::sim
