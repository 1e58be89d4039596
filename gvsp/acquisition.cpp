#include "gvsp/acquisition.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "frame/device_table.h"
#include "frame/log.h"
#include "gvcp/bootstrap.h"
#include "gvcp/register_access.h"
#include "gvsp/receiver.h"
#include "gvsp/stream_channel.h"
#include "gvsp/wire.h"
#include "platform/clock.h"

namespace kavro::gvsp {

namespace reg = gvcp::reg;
using frame::GevDevice;
using frame::gevLog;
using frame::gevLogf;

namespace {

// Stream channel capability and GVSP configuration bits of 64-bit block ids.
constexpr uint32_t kScCapExtendedIds = 0x40000000;
constexpr uint32_t kScCapExtendedIdsAlt = 0x00000002;
constexpr uint32_t kGvspConfigExtendedIds = 0x40000000;
// The start-up flush stops after this many bytes or a 10 ms silence.
constexpr uint32_t kFlushLimit = 0xA00000;
constexpr auto kFlushWait = std::chrono::milliseconds(10);
// Extra time a stop gives the receiver beyond the image time-out.
constexpr uint32_t kStopSlackMs = 200;

void logTime(const GevDevice& dev, const char* what) {
    const auto t = platform::localTimeOfDay();
    gevLogf(dev, "[INFO] - %s acquisition time: %02d:%02d:%02d", what, t.hour, t.minute, t.second);
}

void setAcquisition(GevDevice& dev, std::shared_ptr<Acquisition> acquisition) {
    std::shared_ptr<Acquisition> old;
    {
        std::lock_guard lock(dev.acquisitionGuard);
        old = std::move(dev.acquisition);
        dev.acquisition = std::move(acquisition);
    }
}

uint32_t packetCount(uint32_t payloadSize, uint32_t packetDataSize) {
    return packetDataSize == 0 ? 0
                               : static_cast<uint32_t>(
                                     (uint64_t{payloadSize} + packetDataSize - 1) / packetDataSize);
}

void flushStreamSocket(GevDevice& dev, size_t datagramSize) {
    std::vector<uint8_t> buffer(datagramSize);
    uint32_t total = 0;
    while (total <= kFlushLimit &&
           platform::waitReadable(dev.streamSocket, kFlushWait) == platform::WaitResult::Ready) {
        const auto n = platform::tryReceiveFrom(dev.streamSocket, buffer);
        if (!n)
            break;
        total += static_cast<uint32_t>(*n);
        std::this_thread::yield();
    }
    if ((dev.detailedLog.load() & GEV_LOG_PROTOCOL) != 0) {
        gevLogf(dev, "[INFO] - Flush stream channel socket [len = %d].", static_cast<int>(total));
    }
}

// Ends the receiver of `acquisition` (bounded wait, never killed) and releases the ring.
void endReception(GevDevice& dev, const std::shared_ptr<Acquisition>& acquisition, bool log) {
    if (acquisition && acquisition->receiver.running()) {
        const auto wait = std::chrono::milliseconds(dev.imageTimeout.load() + kStopSlackMs);
        if (!acquisition->receiver.join(wait) && log &&
            (dev.detailedLog.load() & GEV_LOG_PROTOCOL) != 0) {
            gevLog(dev, "[INFO] - timeout close thread.");
        }
    }
    if (log)
        gevLog(dev, "[INFO] - Free index buffer for images.");
    if (log)
        gevLog(dev, "[INFO] - Free ring buffer for images.");
    setAcquisition(dev, nullptr);
}

GevStatus setUpReception(const std::shared_ptr<GevDevice>& holder) {
    GevDevice& dev = *holder;
    const auto& g = dev.geometry;
    auto acquisition = std::make_shared<Acquisition>(g.payloadSize, dev.packetDataSize);
    acquisition->ring =
        ImageRing::create(dev.bufferCount, acquisition->index, dev.userBuffers, dev.counters);
    if (!acquisition->ring)
        return GEV_STATUS_OUT_OF_MEMORY;
    gevLog(dev, "[INFO] - Allocate ring buffer for images.");
    gevLog(dev, "[INFO] - Allocate index buffer for images.");
    setAcquisition(dev, acquisition);
    dev.acquisitionStopped = 0;

    const uint32_t overhead =
        dev.gevVersionMajor >= 2 ? kExtendedPacketOverhead : kStandardPacketOverhead;
    if (dev.controlMode != 0 || dev.multicastGroup == 0) {
        if (dev.streamSocket.isValid())
            flushStreamSocket(dev, size_t{dev.packetDataSize} + overhead);
    } else if (!dev.streamSocket.isValid()) {
        platform::UniqueSocket sock =
            createStreamSocket(dev.hostAddress, dev.streamPort, dev.multicastGroup);
        if (!sock.isValid())
            return GEV_STATUS_SOCKET_ERROR;
        if (!joinMulticastGroup(sock, dev.multicastGroup, dev.hostAddress)) {
            return GEV_STATUS_MULTICAST_ERROR;
        }
        setStreamSocket(dev, std::move(sock));
    }
    // The receiver reads through a handle of its own: closing the stream channel meanwhile
    // never pulls the descriptor from under it.
    if (!dev.streamSocket.isValid())
        return GEV_STATUS_SOCKET_ERROR;
    acquisition->socket =
        platform::UniqueSocket(::fcntl(dev.streamSocket.get(), F_DUPFD_CLOEXEC, 0));
    // Resend commands come from the control port, the one the camera knows as its controller.
    acquisition->resendSocket = duplicateControlSocket(dev);
    if (!acquisition->socket.isValid() || !acquisition->resendSocket.isValid()) {
        return GEV_STATUS_SOCKET_ERROR;
    }
    if (!startReceiver(holder, acquisition))
        return GEV_STATUS_THREAD_ERROR;
    return GEV_STATUS_SUCCESS;
}

}  // namespace

Acquisition::~Acquisition() {
    if (socket.isValid())
        ::close(socket.release());
    if (resendSocket.isValid())
        ::close(resendSocket.release());
}

platform::UniqueSocket duplicateControlSocket(GevDevice& dev) {
    std::lock_guard lock(dev.controlLock);
    if (!dev.controlSocket.isValid())
        return {};
    return platform::UniqueSocket(::fcntl(dev.controlSocket.get(), F_DUPFD_CLOEXEC, 0));
}

std::shared_ptr<Acquisition> currentAcquisition(GevDevice& device) {
    std::lock_guard lock(device.acquisitionGuard);
    return device.acquisition;
}

GevStatus readPacketDataSize(GevDevice& dev, uint32_t& packetDataSize) {
    uint32_t overhead = kStandardPacketOverhead;
    if (dev.gevVersionMajor >= 2) {
        overhead = kExtendedPacketOverhead;
        uint32_t capability = 0;
        if (const GevStatus s =
                gvcp::readRegister(dev, reg::kStreamChannelCapability, capability)) {
            return s;
        }
        if ((capability & (kScCapExtendedIds | kScCapExtendedIdsAlt)) != 0) {
            uint32_t config = 0;
            if (gvcp::readRegister(dev, reg::kGvspConfiguration, config) == GEV_STATUS_SUCCESS &&
                (config & kGvspConfigExtendedIds) == 0) {
                overhead = kStandardPacketOverhead;
            }
        }
    }
    uint32_t scps = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kScps0, scps))
        return s;
    const uint32_t size = scps & 0xFFFF;
    packetDataSize = size > overhead ? size - overhead : 0;
    return GEV_STATUS_SUCCESS;
}

GevStatus startAcquisition(uint8_t device, uint32_t frameCount, uint32_t payloadSize) {
    std::shared_ptr<GevDevice> holder = frame::DeviceTable::instance().record(device);
    if (!holder)
        return GEV_STATUS_DEVICE_NOT_OPEN;
    GevDevice& dev = *holder;
    std::lock_guard streamLock(dev.streamLock);

    // Seam: with a device description the frame count, geometry and payload size come from the
    // camera's features, and the camera is started through its AcquisitionStart command.
    if (payloadSize == 0) {
        gevLog(dev,
               "[ERROR] - Xml not initialized. Use GEVAcquisitionStartEx to work without local xml "
               "parser.");
        return GEV_STATUS_NO_PAYLOAD_SIZE;
    }
    const GevStatus status = [&]() -> GevStatus {
        // A start while reception runs first ends the old reception: one receiver per device.
        if (auto old = currentAcquisition(dev)) {
            dev.acquisitionStopped = 1;
            endReception(dev, old, false);
        }
        if (!dev.imageMemory.exists() && !dev.imageMemory.allocate(payloadSize + uint32_t{65536})) {
            gevLogf(dev, "[ERROR] - Can't alloc memory. PayloadSize = %d",
                    static_cast<int>(payloadSize));
            return GEV_STATUS_OUT_OF_MEMORY;
        }
        auto& g = dev.geometry;
        g.imageWidth = 0;
        g.imageHeight = 0;
        g.frameCountLimit = frameCount;
        g.imagePixelFormat = 0;
        g.bytesPerPixel = 0;
        g.payloadSize = payloadSize;
        dev.counters.clear();

        uint32_t packetDataSize = 0;
        if (const GevStatus s = readPacketDataSize(dev, packetDataSize))
            return s;
        dev.packetDataSize = packetDataSize;
        gevLogf(dev, "[INFO] - PayloadSize: %d", static_cast<int>(payloadSize));
        gevLogf(dev, "[INFO] - PayloadPacketSize: %d", static_cast<int>(packetDataSize));
        gevLogf(dev, "[INFO] - Number of payload packets: %d",
                static_cast<int>(packetCount(payloadSize, packetDataSize)));
        // A packet size that leaves no room for data can't carry a stream.
        if (packetDataSize == 0)
            return GEV_STATUS_INVALID_ARGUMENT;

        uint32_t delay = 0;
        if (const GevStatus s = gvcp::readRegister(dev, reg::kScpd0, delay))
            return s;
        gevLogf(dev, "[INFO] - PacketDelay: %d", static_cast<int>(delay));

        // Seam: the filter driver takes the stream here when it is open for the device.
        auto& c = dev.counters;
        c.fpsWindowStart = 0;
        c.fpsFrequency = platform::kCounterFrequency;
        c.fpsWindowStart = static_cast<uint64_t>(platform::monotonicNs());
        return setUpReception(holder);
    }();
    logTime(dev, "Start");
    return status;
}

void logStatistics(GevDevice& dev, uint32_t payloadSize, uint32_t packetDataSize) {
    const auto& c = dev.counters;
    const uint32_t frames = c.framesTotal.load();
    const uint32_t framesLost = c.framesLost.load();
    const uint32_t packetsLost = c.packetsLost.load();
    const double framePercent = frames == 0 ? 0.0 : framesLost / (frames / 100.0);
    gevLogf(dev, "[INFO] - Frames: %d, Errors: %d Lost: %.2f %%", static_cast<int>(frames),
            static_cast<int>(framesLost), framePercent);
    const uint64_t packets = uint64_t{frames} * packetCount(payloadSize, packetDataSize);
    const double packetPercent =
        packets == 0 ? 0.0 : packetsLost / (static_cast<double>(packets) / 100.0);
    gevLogf(dev, "[INFO] - Packets: %lld, Errors: %d Lost: %.2f %%",
            static_cast<long long>(packets), static_cast<int>(packetsLost), packetPercent);
    double fps = c.fps.load();
    if (fps == 0.0) {
        const uint32_t windowFrames = c.fpsWindowFrames.load();
        const double frequency = static_cast<double>(c.fpsFrequency.load());
        if (windowFrames != 0 && frequency > 0.0) {
            const double ms =
                static_cast<double>(c.fpsWindowTicks.load()) / windowFrames / frequency * 1000.0;
            fps = ms == 0.0 ? 0.0 : 1000.0 / ms;
        }
    }
    gevLogf(dev, "[INFO] - %2.1f fps", fps);
}

GevStatus stopAcquisition(GevDevice& dev) {
    std::lock_guard streamLock(dev.streamLock);
    // Seam: with a device description the camera is stopped through its AcquisitionStop command
    // and the transport parameters are unlocked here.
    dev.acquisitionStopped = 1;
    endReception(dev, currentAcquisition(dev), true);
    if (dev.controlMode == 0 && dev.multicastGroup != 0)
        setStreamSocket(dev, {});
    logStatistics(dev, dev.geometry.payloadSize, dev.packetDataSize);
    logTime(dev, "Stop");
    return GEV_STATUS_SUCCESS;
}

}  // namespace kavro::gvsp
