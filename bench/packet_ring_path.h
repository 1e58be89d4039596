// The filter driver path for the benchmarks: the packet-ring engine, driven through the filter
// device interface with the requests an acquisition start and stop send, bound to the loopback
// adapter, and the library's stream socket as that path leaves it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "filterdriver/filter_device.h"
#include "filterengine/packet_ring_driver.h"
#include "platform/socket.h"

namespace kavro::bench {

namespace filterdriver = kavro::filterdriver;
namespace platform = kavro::platform;

class PacketRingPath {
  public:
    // Null when the engine can't be opened (no CAP_NET_RAW).
    static std::unique_ptr<PacketRingPath> open(uint8_t device) {
        uint32_t error = 0;
        auto driver = kavro::filterengine::openPacketRingDriver(filterdriver::kDriverName, error);
        if (!driver)
            return nullptr;
        const std::string name = "\\DEVICE\\lo";
        std::vector<uint8_t> bind(name.size() * 2);
        for (size_t i = 0; i < name.size(); ++i)
            bind[2 * i] = static_cast<uint8_t>(name[i]);
        std::vector<uint8_t> status(4, 0xFF);
        if (driver->control(filterdriver::kRequestBindAdapter, bind, status) != 0 ||
            status != std::vector<uint8_t>(4, 0)) {
            return nullptr;
        }
        return std::unique_ptr<PacketRingPath>(new PacketRingPath(std::move(driver), device));
    }

    bool start(uint32_t cameraAddressNet, uint16_t port, uint32_t payloadSize, uint32_t dataSize,
               uint8_t bufferCount) {
        const uint8_t count[4] = {device_, 0, bufferCount, 0};
        if (control(filterdriver::kRequestSetBufferCount, count) != 0)
            return false;
        uint8_t in[40] = {};
        std::memcpy(&in[8], &cameraAddressNet, 4);
        putLe(&in[12], port, 2);
        const uint32_t host = htonl(INADDR_LOOPBACK);
        std::memcpy(&in[20], &host, 4);
        putLe(&in[24], payloadSize, 4);
        putLe(&in[28], dataSize, 2);
        in[31] = 10;
        in[32] = device_;
        putLe(&in[36], 100, 4);  // image time-out, ms
        return control(filterdriver::kRequestStartStream, in) == 0;
    }
    // Stops, and says whether the engine counted no loss.
    bool stop() {
        uint8_t in[40] = {};
        in[32] = device_;
        (void)control(filterdriver::kRequestStopStream, in);
        uint8_t statistics[32] = {device_};
        if (driver_->control(filterdriver::kRequestGetStatistics, statistics, statistics) != 0)
            return false;
        return std::all_of(&statistics[8], &statistics[16], [](uint8_t b) { return b == 0; });
    }
    // 0 for a whole image, 121 when none came within the time-out.
    uint32_t read(std::vector<uint8_t>& image) {
        image[0] = device_ - 1;
        return driver_->read(image);
    }
    uint64_t lastBlockId() {
        uint8_t header[64] = {device_};
        if (driver_->control(filterdriver::kRequestGetImageHeader, header, header) != 0)
            return 0;
        uint64_t id = 0;
        for (int i = 0; i < 8; ++i)
            id |= uint64_t{header[8 + i]} << (8 * i);
        return id;
    }

  private:
    PacketRingPath(std::unique_ptr<filterdriver::FilterDevice> driver, uint8_t device)
        : driver_(std::move(driver)), device_(device) {}
    static void putLe(uint8_t* p, uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
    uint32_t control(uint32_t code, std::span<const uint8_t> in) {
        return driver_->control(code, in, {});
    }
    std::unique_ptr<filterdriver::FilterDevice> driver_;
    uint8_t device_;
};

// On the filter driver path the library keeps its stream socket bound, with a small buffer,
// and never reads it: the datagrams still reach it. After the trial it is emptied and given its
// buffer back for the socket path's next trial.
class IdleStreamSocket {
  public:
    explicit IdleStreamSocket(const platform::UniqueSocket& socket) : socket_(socket) {
        socklen_t length = sizeof granted_;
        (void)::getsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUF, &granted_, &length);
        const int small = 64 << 10;
        (void)::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUFFORCE, &small, sizeof small);
    }
    ~IdleStreamSocket() {
        uint8_t buffer[16];
        while (::recv(socket_.get(), buffer, sizeof buffer, MSG_DONTWAIT) >= 0) {
        }
        const int size = granted_ / 2;  // the kernel reports twice what it was asked
        (void)::setsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    }

  private:
    const platform::UniqueSocket& socket_;
    int granted_ = 0;
};

}  // namespace kavro::bench
