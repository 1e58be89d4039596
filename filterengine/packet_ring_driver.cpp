#include "filterengine/packet_ring_driver.h"

#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "filterengine/engine.h"
#include "filterengine/requests.h"

namespace kavro::filterengine {

namespace {

using namespace filterdriver;

// One open of the driver. The adapter it is bound to is its own; everything else lives in the
// engine that all handles share. Streams it started end when it closes.
class PacketRingHandle final : public FilterDevice {
  public:
    ~PacketRingHandle() override { Engine::instance().stopStreamsOf(this); }

    uint32_t control(uint32_t code, std::span<const uint8_t> in, std::span<uint8_t> out) override {
        Engine& engine = Engine::instance();
        switch (code) {
            case kRequestBindAdapter:
                return bind(in, out);
            case kRequestStartStream: {
                const auto start = parseStartStream(in);
                if (!start)
                    return kErrorInvalidParameter;
                const int adapter = boundAdapter();
                if (adapter == 0)
                    return kErrorInvalidHandle;
                return engine.startStream(*start, adapter, this);
            }
            case kRequestStopStream: {
                const auto device = parseStopStream(in);
                return device ? engine.stopStream(*device) : kErrorInvalidParameter;
            }
            case kRequestSetPacketResend: {
                const auto s = parseByteSetting(in);
                return s ? engine.setPacketResend(s->device, s->value != 0)
                         : kErrorInvalidParameter;
            }
            case kRequestSetPacketsOutOfOrder: {
                const auto s = parseByteSetting(in);
                return s ? engine.setOutOfOrderWindow(s->device, s->value) : kErrorInvalidParameter;
            }
            case kRequestSetBufferCount: {
                const auto s = parseBufferCount(in);
                return s ? engine.setBufferCount(s->device, s->count) : kErrorInvalidParameter;
            }
            case kRequestTestPacketResend: {
                const auto s = parseTestResend(in);
                return s ? engine.setTestResend(s->device, s->first, s->count)
                         : kErrorInvalidParameter;
            }
            case kRequestGetVersion:
                if (in.size() != kVersionRequestSize || out.size() < kVersionAnswerSize)
                    return kErrorInvalidParameter;
                writeVersion(out.first<kVersionAnswerSize>());
                return 0;
            case kRequestGetImageHeader: {
                const auto device = parseDeviceQuery(in, kImageHeaderSize);
                if (!device || out.size() < kImageHeaderSize)
                    return kErrorInvalidParameter;
                GevImageHeader header{};
                if (const uint32_t error = engine.lastImageHeader(*device, header))
                    return error;
                writeImageHeader(out.first<kImageHeaderSize>(), header);
                return 0;
            }
            case kRequestGetStatistics: {
                const auto device = parseDeviceQuery(in, kStatisticsSize);
                if (!device || out.size() < kStatisticsSize)
                    return kErrorInvalidParameter;
                Statistics statistics;
                if (const uint32_t error = engine.statistics(*device, statistics))
                    return error;
                writeStatistics(out.first<kStatisticsSize>(), statistics);
                return 0;
            }
            default:
                return kErrorInvalidParameter;
        }
    }

    uint32_t read(std::span<uint8_t> dest) override {
        const auto device = parseReadDevice(dest);
        if (!device)
            return kErrorInvalidParameter;
        return Engine::instance().readImage(*device, dest);
    }

  private:
    // The answer's status is 0 when bound, else "not found": no such interface.
    uint32_t bind(std::span<const uint8_t> in, std::span<uint8_t> out) {
        if (in.empty() || in.size() % 2 != 0 || out.size() < kBindAnswerSize)
            return kErrorInvalidParameter;
        const auto name = parseAdapterName(in);
        const unsigned index = name ? ::if_nametoindex(name->c_str()) : 0;
        if (index != 0) {
            std::lock_guard lock(lock_);
            adapter_ = static_cast<int>(index);
        }
        writeBindAnswer(out.first<kBindAnswerSize>(), index != 0 ? 0 : kErrorFileNotFound);
        return 0;
    }
    int boundAdapter() {
        std::lock_guard lock(lock_);
        return adapter_;
    }

    std::mutex lock_;
    int adapter_ = 0;  // interface index; 0 before a bind
};

// Capturing needs CAP_NET_RAW; without it the driver can't be opened at all.
uint32_t captureRight() {
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        ::close(fd);
        return 0;
    }
    return errno == EPERM || errno == EACCES ? kErrorAccessDenied : kErrorFileNotFound;
}

}  // namespace

std::unique_ptr<FilterDevice> openPacketRingDriver(const std::string& name, uint32_t& error) {
    if (name != kDriverName && name != kGlobalDriverName) {
        error = kErrorFileNotFound;
        return nullptr;
    }
    error = captureRight();
    if (error != 0)
        return nullptr;
    return std::make_unique<PacketRingHandle>();
}

}  // namespace kavro::filterengine
