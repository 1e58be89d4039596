#include "gvsp/packet_test.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "frame/api_guard.h"
#include "frame/log.h"
#include "gvcp/bootstrap.h"
#include "gvcp/register_access.h"
#include "gvsp/wire.h"
#include "platform/adapters.h"
#include "platform/socket.h"

namespace kavro::gvsp {

namespace reg = gvcp::reg;
using frame::GevDevice;
using frame::gevLog;
using frame::gevLogf;

namespace {

constexpr auto kFlushWait = std::chrono::milliseconds(10);
constexpr size_t kTemporaryReceiveBuffer = size_t{1} << 20;
// IP and UDP headers, and what a packet of SCPS bytes carries beyond the test data at most.
constexpr uint32_t kIpUdpHeaders = 28;
constexpr uint32_t kTestOverhead = 48;
constexpr uint32_t kTestSlack = 64;
// Position lines are written for the first errors only.
constexpr uint32_t kMaxPositionLines = 9;

constexpr uint32_t kDefaultMtu = 1500;
constexpr int32_t kDefaultUpper = 20000;
constexpr int32_t kDefaultStep = 4;
constexpr auto kSearchLimit = std::chrono::milliseconds(5000);

// The socket the test packet arrives on: a handle of the open stream channel's socket, or a
// temporary socket of its own. Either is closed without a shutdown of the stream socket.
class TestSocket {
  public:
    TestSocket() = default;
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;
    ~TestSocket() {
        if (socket_.isValid() && borrowed_)
            ::close(socket_.release());
    }

    // A handle of the device's stream socket; false when none is open.
    bool borrowStreamSocket(GevDevice& dev) {
        std::lock_guard lock(dev.controlLock);
        if (!dev.streamSocket.isValid())
            return false;
        socket_ = platform::UniqueSocket(::fcntl(dev.streamSocket.get(), F_DUPFD_CLOEXEC, 0));
        borrowed_ = socket_.isValid();
        return borrowed_;
    }
    void own(platform::UniqueSocket socket) { socket_ = std::move(socket); }
    const platform::UniqueSocket& get() const { return socket_; }

  private:
    platform::UniqueSocket socket_;
    bool borrowed_ = false;
};

void flush(GevDevice& dev, const platform::UniqueSocket& socket) {
    const size_t size = size_t{dev.packetDataSize} + (dev.gevVersionMajor >= 2 ? 48 : 36);
    std::vector<uint8_t> buffer(std::max<size_t>(size, 64));
    uint64_t total = 0;
    while (platform::waitReadable(socket, kFlushWait) == platform::WaitResult::Ready) {
        const auto n = platform::tryReceiveFrom(socket, buffer);
        if (!n)
            break;
        total += *n;
        std::this_thread::yield();
    }
    if (total != 0 && (dev.detailedLog.load() & GEV_LOG_PROTOCOL) != 0)
        gevLogf(dev, "[INFO] - Flush stream channel socket [%d].", static_cast<int>(total));
}

// A temporary socket on the host address whose port the camera streams to from now on.
GevStatus openTemporarySocket(GevDevice& dev, TestSocket& out) {
    platform::SocketOptions options;
    options.receiveBuffer = kTemporaryReceiveBuffer;
    platform::UniqueSocket socket = platform::createUdpSocket(dev.hostAddress, 0, options);
    if (!socket.isValid())
        return GEV_STATUS_SOCKET_ERROR;
    const auto port = platform::localPort(socket);
    if (!port)
        return GEV_STATUS_MULTICAST_ERROR;
    out.own(std::move(socket));
    if (const GevStatus s = gvcp::writeRegister(dev, reg::kScp0, *port))
        return s;
    // A camera that was never given a stream destination would send the packet nowhere.
    uint32_t destination = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kScda0, destination))
        return s;
    if (destination == 0) {
        if (const GevStatus s = gvcp::writeRegister(dev, reg::kScda0, ntohl(dev.hostAddress)))
            return s;
    }
    return GEV_STATUS_SUCCESS;
}

// Checks the data after the test packet's header against the test data sequence.
uint32_t checkTestData(GevDevice& dev, std::span<const uint8_t> data) {
    TestDataSequence sequence;
    uint32_t errors = 0;
    for (size_t k = 0; k < data.size(); ++k) {
        const uint8_t expected = sequence.next();
        if (data[k] == expected)
            continue;
        ++errors;
        if (errors <= kMaxPositionLines) {
            gevLogf(dev, "[ERROR] - GEVTestPacket: pos->%d expected->%02X current->%02X",
                    static_cast<int>(k + 1), expected, data[k]);
        }
    }
    return errors;
}

// MTU of the adapter that holds the host address; 1500 when it can't be learnt.
uint32_t hostMtu(const GevDevice& dev) {
    const auto adapters = platform::listAdapters();
    if (!adapters)
        return kDefaultMtu;
    for (const auto& adapter : *adapters) {
        for (const auto& address : adapter.addresses) {
            if (address.addressNet == dev.hostAddress && adapter.mtu != 0)
                return adapter.mtu;
        }
    }
    return kDefaultMtu;
}

}  // namespace

GevStatus testPacket(GevDevice& dev, uint32_t& packetSize) {
    packetSize = 0;
    TestSocket socket;
    if (dev.streamPort != 0 && socket.borrowStreamSocket(dev)) {
        flush(dev, socket.get());
    } else if (const GevStatus s = openTemporarySocket(dev, socket)) {
        return s;
    }

    uint32_t scps = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kScps0, scps))
        return s;
    if (const GevStatus s = gvcp::writeRegister(dev, reg::kScps0,
                                                scps | kScpsFireTestPacket | kScpsDoNotFragment)) {
        return s;
    }

    const auto wait = std::chrono::seconds(dev.waitSeconds.load()) +
                      std::chrono::microseconds(dev.waitMicroseconds.load());
    if (platform::waitReadable(socket.get(), wait) != platform::WaitResult::Ready)
        return GEV_STATUS_SUCCESS;

    // Room for the whole datagram of SCPS bytes (and more, so that a longer one shows).
    const uint32_t size = scps & kScpsSizeMask;
    const uint32_t expectedData = size > kTestOverhead ? size - kTestOverhead : 0;
    std::vector<uint8_t> buffer(size_t{expectedData} + kTestSlack);
    uint32_t errors = 0;
    const auto n = platform::receiveFrom(socket.get(), buffer);
    if (!n) {
        gevLog(dev, "[ERROR] - GEVTestPacket: No data received.");
        errors = expectedData;
    } else {
        const size_t length = std::min(*n, buffer.size());
        const size_t data = length > kStandardHeaderSize ? length - kStandardHeaderSize : 0;
        if (length >= 4 && (buffer[2] != 0 || buffer[3] != 0))
            gevLog(dev, "[ERROR] - GEVTestPacket: BlockID != 0.");
        packetSize = static_cast<uint32_t>(data) + kIpUdpHeaders + kStandardHeaderSize;
        uint32_t capability = 0;
        if (const GevStatus s = gvcp::readRegister(dev, reg::kGvcpCapability, capability))
            return s;
        if ((capability & reg::kCapTestData) != 0) {
            gevLog(dev, "[INFO] - GEVTestPacket: LFSR generator supported.");
            errors = checkTestData(
                dev, std::span<const uint8_t>(buffer.data() + kStandardHeaderSize, data));
            if (errors != 0) {
                gevLogf(dev, "[ERROR] - GEVTestPacket: %d data errors.", static_cast<int>(errors));
            } else {
                gevLog(dev, "[INFO] - GEVTestPacket: data ok.");
            }
        } else {
            gevLog(dev, "[INFO] - GEVTestPacket: LFSR generator not supported.");
        }
    }
    return errors != 0 ? GEV_STATUS_TEST_PACKET_DATA_ERROR : GEV_STATUS_SUCCESS;
}

namespace {

// Fires a test packet of `size` bytes; `passed` when it came back, `tried` the size the camera
// took (it may adjust it). A size the camera refuses (0x8002) or one above the MTU fails.
GevStatus trySize(GevDevice& dev, int32_t size, uint32_t mtu, bool& passed, int32_t& tried) {
    passed = false;
    tried = size;
    const GevStatus written = gvcp::writeRegister(
        dev, reg::kScps0, static_cast<uint32_t>(size) | kScpsFireTestPacket | kScpsDoNotFragment);
    if (written == GEV_STATUS_NOT_IMPLEMENTED)
        return GEV_STATUS_SUCCESS;
    if (written != GEV_STATUS_SUCCESS)
        return written;
    uint32_t scps = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kScps0, scps))
        return s;
    tried = static_cast<int32_t>(scps & kScpsSizeMask);
    if (static_cast<uint32_t>(tried) > mtu)
        return GEV_STATUS_SUCCESS;
    uint32_t received = 0;
    if (const GevStatus s = testPacket(dev, received))
        return s;
    passed = received != 0;
    return GEV_STATUS_SUCCESS;
}

// Binary search over the sizes lower, lower + step, ... up to `upper`: a path passes every size
// up to its limit and none above, so this finds the largest passing one for any limit.
GevStatus searchSizes(GevDevice& dev, int32_t lower, int32_t upper, int32_t step, uint32_t mtu,
                      uint16_t& best) {
    const auto start = std::chrono::steady_clock::now();
    int32_t first = 0;
    int32_t last = (upper - lower) / step;
    while (first <= last) {
        if (std::chrono::steady_clock::now() - start > kSearchLimit)
            return GEV_STATUS_TIMEOUT;
        const int32_t k = first + (last - first) / 2;
        bool passed = false;
        int32_t tried = 0;
        if (const GevStatus s = trySize(dev, lower + k * step, mtu, passed, tried))
            return s;
        if (passed) {
            best = static_cast<uint16_t>(std::max<int32_t>(best, tried));
            first = k + 1;
        } else {
            last = k - 1;
        }
        std::this_thread::yield();
    }
    return GEV_STATUS_SUCCESS;
}

}  // namespace

GevStatus findMaxPacketSize(GevDevice& dev, uint16_t& maxPacketSize, uint16_t lower, uint16_t upper,
                            uint16_t step) {
    maxPacketSize = 0;
    const uint32_t mtu = hostMtu(dev);
    const int32_t stride = step <= 1 ? kDefaultStep : step;
    const int32_t hi = std::min<int32_t>(upper == 0 ? kDefaultUpper : upper,
                                         static_cast<int32_t>(std::min<uint32_t>(mtu, 0xFFFF)));
    if (lower > hi)
        return GEV_STATUS_INVALID_ARGUMENT;
    uint32_t original = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kScps0, original))
        return s;
    uint16_t best = 0;
    const GevStatus searched = searchSizes(dev, lower, hi, stride, mtu, best);
    // The stream goes on with the packet size it had, whatever size was tried last.
    const GevStatus restored =
        gvcp::writeRegister(dev, reg::kScps0, original & ~kScpsFireTestPacket);
    if (restored != GEV_STATUS_SUCCESS)
        gevLogf(dev, "[ERROR] - GEVTestFindMaxPacketSize: SCPS0 not restored. Error code: %08X",
                restored);
    maxPacketSize = best;
    return searched != GEV_STATUS_SUCCESS ? searched : restored;
}

}  // namespace kavro::gvsp

using kavro::frame::GevDevice;
using kavro::frame::withOpenDevice;

extern "C" {

KAVRO_API GevStatus GEVTestPacket(uint8_t device, uint32_t* packetSize) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (packetSize == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return kavro::gvsp::testPacket(dev, *packetSize);
    });
}

KAVRO_API GevStatus GEVTestFindMaxPacketSize(uint8_t device, uint16_t* maxPacketSize,
                                             uint16_t lower, uint16_t upper, uint16_t step) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (maxPacketSize == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return kavro::gvsp::findMaxPacketSize(dev, *maxPacketSize, lower, upper, step);
    });
}

}  // extern "C"
