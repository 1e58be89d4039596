#include "gvsp/acquisition.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string_view>
#include <thread>
#include <vector>

#include "filterdriver/requests.h"
#include "frame/device_table.h"
#include "frame/log.h"
#include "gvcp/bootstrap.h"
#include "gvcp/register_access.h"
#include "gvsp/receiver.h"
#include "gvsp/secure_receiver.h"
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
// Receive buffer of a stream socket nobody reads (the filter driver takes the stream).
constexpr int kIdleStreamReceiveBuffer = 4096;

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

// Ends the receiver of `acquisition` and releases the ring. The stop signal wakes the receiver
// at once, and a receiver that was told to stop ends within its short grace (StopGrace), so the
// join never waits long; it always happens, so no receiver of an old acquisition can take the
// datagrams of the next one.
void endReception(GevDevice& dev, const std::shared_ptr<Acquisition>& acquisition, bool log) {
    if (acquisition) {
        acquisition->stop.raise();
        acquisition->receiver.join();
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
    if (!acquisition->stop.isValid())
        return GEV_STATUS_THREAD_ERROR;
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
        warnOnSmallReceiveBuffer(dev, sock);
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
    if (!acquisition->socket.isValid())
        return GEV_STATUS_SOCKET_ERROR;
    // The secure-transfer setting picks the receiver at every start.
    const bool started = dev.secureTransfer.load() != 0 ? startSecureReceiver(holder, acquisition)
                                                        : startReceiver(holder, acquisition);
    if (!started)
        return GEV_STATUS_THREAD_ERROR;
    return GEV_STATUS_SUCCESS;
}

// The stream port stays bound while the filter driver takes the stream off the adapter, so the
// camera gets no port-unreachable answers; the socket is never read then, so it keeps only a
// token buffer. Back on the socket path it gets its large buffer again.
void setStreamSocketBuffer(GevDevice& dev, bool driverPath) {
    if (!dev.streamSocket.isValid())
        return;
    const int fd = dev.streamSocket.get();
    const int bytes =
        driverPath ? kIdleStreamReceiveBuffer : static_cast<int>(kStreamReceiveBuffer);
    if (driverPath || ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// Hands the stream to the filter driver: its reorder window and buffer count, then the stream
// itself. No ring and no receiver thread exist on this path.
GevStatus startDriverStream(GevDevice& dev, filterdriver::FilterDevice& driver) {
    const uint8_t device = dev.deviceIndex;
    const bool logErrors = (dev.detailedLog.load() & GEV_LOG_STREAM_ERRORS) != 0;
    if (const GevStatus s =
            filterdriver::sendSetPacketsOutOfOrder(driver, device, dev.outOfOrderWindow.load())) {
        if (logErrors)
            gevLog(dev, "[ERROR] - Can't set packets out of order in driver.");
        return s;
    }
    if (const GevStatus s = filterdriver::sendSetBufferCount(driver, device, dev.bufferCount)) {
        if (logErrors)
            gevLog(dev, "[ERROR] - Can't set buffer count in driver.");
        return s;
    }
    const auto& g = dev.geometry;
    filterdriver::StreamStart start;
    start.imageWidth = g.imageWidth;
    start.imageHeight = g.imageHeight;
    start.deviceAddress = dev.deviceAddress;
    start.streamPort = dev.streamPort;
    start.controlPort = dev.controlPort.load();
    start.imagePixelFormat = g.imagePixelFormat;
    start.destination = dev.multicastGroup != 0 ? htonl(dev.multicastGroup) : dev.hostAddress;
    start.payloadSize = g.payloadSize;
    start.packetDataSize = static_cast<uint16_t>(dev.packetDataSize);
    start.resendEnabled = dev.resendEnabled.load() != 0 ? 1 : 0;
    start.maxResend = dev.maxResend.load();
    start.imageTimeoutMs = dev.imageTimeout.load();
    if (const GevStatus s = filterdriver::sendStartStream(driver, device, start))
        return s;
    dev.acquisitionStopped = 0;
    return GEV_STATUS_SUCCESS;
}

// The driver path needs the stream channel open, as the socket path does: its port is what the
// driver filters on. A multicast stream without control is listened to only while an
// acquisition runs: the driver path joins the group too, or the adapter would not deliver it.
GevStatus keepStreamPortBound(GevDevice& dev) {
    if (dev.controlMode == 0 && dev.multicastGroup != 0 && !dev.streamSocket.isValid()) {
        platform::UniqueSocket sock =
            createStreamSocket(dev.hostAddress, dev.streamPort, dev.multicastGroup);
        if (!sock.isValid())
            return GEV_STATUS_SOCKET_ERROR;
        if (!joinMulticastGroup(sock, dev.multicastGroup, dev.hostAddress))
            return GEV_STATUS_MULTICAST_ERROR;
        setStreamSocket(dev, std::move(sock));
    }
    if (!dev.streamSocket.isValid())
        return GEV_STATUS_SOCKET_ERROR;
    setStreamSocketBuffer(dev, true);
    return GEV_STATUS_SUCCESS;
}

// Stops the driver's stream and takes its final counts; false when the driver refused either.
bool stopDriverStream(GevDevice& dev, filterdriver::FilterDevice& driver) {
    filterdriver::DriverStatistics stats;
    if (filterdriver::sendStopStream(driver, dev.deviceIndex) != GEV_STATUS_SUCCESS ||
        filterdriver::sendGetStatistics(driver, dev.deviceIndex, stats) != GEV_STATUS_SUCCESS) {
        return false;
    }
    auto& c = dev.counters;
    c.framesTotal = stats.framesReceived;
    c.framesLost = stats.framesWithErrors;
    c.packetsLost += stats.packetErrors;
    c.fpsWindowFrames = stats.intervalCount;
    c.fpsWindowTicks = stats.intervalSumMs;
    // Kept as the rate of the last run: the statistics calls report it until the next start.
    c.fps = filterdriver::framesPerSecond(stats.intervalCount, stats.intervalSumMs);
    return true;
}

}  // namespace

Acquisition::~Acquisition() {
    if (socket.isValid())
        ::close(socket.release());
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
    dev.streamPacketSize = size;
    return GEV_STATUS_SUCCESS;
}

namespace {

// AcquisitionMode is read as text of at most this many characters.
constexpr int32_t kModeTextSize = 100;

// The frame count the camera's AcquisitionMode stands for: Continuous 0, Single 1, Multi its
// AcquisitionFrameCount. An unreadable mode counts as continuous.
GevStatus describedFrameCount(GevDevice& dev, uint32_t& frameCount) {
    const uint8_t device = dev.deviceIndex;
    frameCount = 0;
    std::array<char, kModeTextSize + 1> mode{};
    if (GEVGetFeatureEnumeration(device, "AcquisitionMode", mode.data(), kModeTextSize) !=
        GEV_STATUS_SUCCESS) {
        gevLog(dev, "[ERROR] - AcquisitionMode node error or not exist.");
        return GEV_STATUS_SUCCESS;
    }
    const std::string_view text(mode.data());
    if (text.find("Continuous") != std::string_view::npos) {
        frameCount = 0;
    } else if (text.find("Single") != std::string_view::npos) {
        frameCount = 1;
    } else if (text.find("Multi") != std::string_view::npos) {
        uint64_t count = 0;
        if (const GevStatus s = GEVGetFeatureInteger(device, "AcquisitionFrameCount", &count)) {
            gevLog(dev, "[ERROR] - AcquisitionFrameCount node error or not exist.");
            return s;
        }
        // A count beyond 32 bits is as good as endless.
        frameCount = static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX));
    }
    return GEV_STATUS_SUCCESS;
}

// One of the geometry features as a 32-bit value; wider values are cut to their low 32 bits,
// the width of the device record's fields.
GevStatus readGeometryFeature(uint8_t device, const char* name, uint32_t& value) {
    uint64_t wide = 0;
    if (const GevStatus s = GEVGetFeatureInteger(device, name, &wide))
        return s;
    value = static_cast<uint32_t>(wide);
    return GEV_STATUS_SUCCESS;
}

// Frame count and geometry from the camera's features, into `g`.
GevStatus describedGeometry(GevDevice& dev, uint32_t requestedFrames, frame::StreamGeometry& g) {
    const uint8_t device = dev.deviceIndex;
    uint32_t frameCount = 0;
    if (const GevStatus s = describedFrameCount(dev, frameCount))
        return s;
    if (frameCount != requestedFrames)
        gevLog(dev, "[WARNING] - AcquisitionMode: frame count mismatch device -> software.");
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pixelFormat = 0;
    uint32_t payloadSize = 0;
    if (const GevStatus s = readGeometryFeature(device, "Width", width))
        return s;
    if (const GevStatus s = readGeometryFeature(device, "Height", height))
        return s;
    if (const GevStatus s = readGeometryFeature(device, "PixelFormat", pixelFormat))
        return s;
    if (const GevStatus s = readGeometryFeature(device, "PayloadSize", payloadSize))
        return s;
    // The ring is sized from PayloadSize: a camera reporting none, or an absurd one, gets no
    // reception.
    if (payloadSize == 0 || payloadSize > frame::ImageMemory::kMaxImageSize) {
        gevLogf(dev, "[ERROR] - PayloadSize out of range: %u", payloadSize);
        return payloadSize == 0 ? GEV_STATUS_NO_PAYLOAD_SIZE : GEV_STATUS_OUT_OF_MEMORY;
    }
    g.imageWidth = width;
    g.imageHeight = height;
    g.imagePixelFormat = pixelFormat;
    g.bytesPerPixel = bytesPerPixel(pixelFormat);
    g.payloadSize = payloadSize;
    g.frameCountLimit = frameCount;
    g.fromDescription = true;
    return GEV_STATUS_SUCCESS;
}

// The image memory block must hold the payload that the copying retrieval calls put into it. A
// block made for a smaller payload (by the description build, before the image window grew
// through features, or by an earlier start) grows here; one that is large enough stays.
GevStatus fitImageMemory(GevDevice& dev, uint32_t payloadSize) {
    frame::ImageMemory& memory = dev.imageMemory;
    if (memory.exists() && memory.imageSize() >= payloadSize)
        return GEV_STATUS_SUCCESS;
    const bool growing = memory.exists();
    if (!memory.allocateForImage(payloadSize)) {
        gevLogf(dev, "[ERROR] - Can't alloc memory. PayloadSize = %d",
                static_cast<int>(payloadSize));
        return GEV_STATUS_OUT_OF_MEMORY;
    }
    if (growing) {
        gevLogf(dev, "[INFO] - Image memory grown for PayloadSize = %u (%u bytes).", payloadSize,
                memory.size());
    }
    return GEV_STATUS_SUCCESS;
}

// Geometry of a start without description: only the caller's payload size and frame count.
GevStatus callerGeometry(GevDevice& dev, uint32_t frameCount, uint32_t payloadSize,
                         frame::StreamGeometry& g) {
    if (const GevStatus s = fitImageMemory(dev, payloadSize))
        return s;
    g = frame::StreamGeometry{};
    g.frameCountLimit = frameCount;
    g.payloadSize = payloadSize;
    return GEV_STATUS_SUCCESS;
}

// Locks the transport-layer parameters and executes AcquisitionStart with its command value.
GevStatus tellCameraToStart(GevDevice& dev) {
    const uint8_t device = dev.deviceIndex;
    dev.counters.fpsWindowFrames = 0;
    dev.counters.fpsWindowTicks = 0;
    const GevStatus locked = GEVSetFeatureInteger(device, "TLParamsLocked", 1);
    if (locked != GEV_STATUS_SUCCESS && locked != GEV_STATUS_FEATURE_NOT_FOUND)
        return locked;
    GevFeatureParameter start{};
    if (const GevStatus s = GEVGetFeatureParameter(device, "AcquisitionStart", &start))
        return s;
    return GEVSetFeatureCommand(device, "AcquisitionStart", start.commandValue);
}

// Executes AcquisitionStop (even when its record can't be read) and unlocks the transport-layer
// parameters.
GevStatus tellCameraToStop(GevDevice& dev) {
    const uint8_t device = dev.deviceIndex;
    GevFeatureParameter stop{};
    const GevStatus record = GEVGetFeatureParameter(device, "AcquisitionStop", &stop);
    const GevStatus command =
        GEVSetFeatureCommand(device, "AcquisitionStop", record == 0 ? stop.commandValue : 0);
    GevStatus status = command != GEV_STATUS_SUCCESS ? command : record;
    const GevStatus unlocked = GEVSetFeatureInteger(device, "TLParamsLocked", 0);
    if (unlocked != GEV_STATUS_SUCCESS && unlocked != GEV_STATUS_FEATURE_NOT_FOUND)
        status = unlocked;
    return status;
}

}  // namespace

GevStatus startAcquisition(uint8_t device, uint32_t frameCount, uint32_t payloadSize) {
    std::shared_ptr<GevDevice> holder = frame::DeviceTable::instance().record(device);
    if (!holder)
        return GEV_STATUS_DEVICE_NOT_OPEN;
    GevDevice& dev = *holder;
    std::lock_guard streamLock(dev.streamLock);

    // With a device description the camera's features give the frame count and geometry, and
    // the camera is started through its AcquisitionStart command; without one the caller gives
    // the payload size and starts the camera itself.
    const bool described = dev.descriptionReady.load() != 0;
    if (!described && payloadSize == 0) {
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
        frame::StreamGeometry g;
        if (const GevStatus s = described ? describedGeometry(dev, frameCount, g)
                                          : callerGeometry(dev, frameCount, payloadSize, g)) {
            return s;
        }
        if (described) {
            if (const GevStatus s = fitImageMemory(dev, g.payloadSize))
                return s;
        }
        dev.geometry = g;
        dev.counters.clear();

        uint32_t packetDataSize = 0;
        if (const GevStatus s = readPacketDataSize(dev, packetDataSize))
            return s;
        dev.packetDataSize = packetDataSize;
        if (described) {
            gevLogf(dev, "[INFO] - Width: %d", static_cast<int>(g.imageWidth));
            gevLogf(dev, "[INFO] - Height: %d", static_cast<int>(g.imageHeight));
            gevLogf(dev, "[INFO] - PixelFormat: 0x%08X", g.imagePixelFormat);
        }
        gevLogf(dev, "[INFO] - PayloadSize: %d", static_cast<int>(g.payloadSize));
        gevLogf(dev, "[INFO] - PayloadPacketSize: %d", static_cast<int>(packetDataSize));
        gevLogf(dev, "[INFO] - Number of payload packets: %d",
                static_cast<int>(packetCount(g.payloadSize, packetDataSize)));
        // A packet size that leaves no room for data can't carry a stream.
        if (packetDataSize == 0)
            return GEV_STATUS_INVALID_ARGUMENT;

        uint32_t delay = 0;
        if (const GevStatus s = gvcp::readRegister(dev, reg::kScpd0, delay))
            return s;
        gevLogf(dev, "[INFO] - PacketDelay: %d", static_cast<int>(delay));

        // The filter driver takes the stream when it is in use for the device.
        const auto driver = filterdriver::driverInUse(dev);
        if (driver) {
            if (const GevStatus s = keepStreamPortBound(dev))
                return s;
            if (const GevStatus s = startDriverStream(dev, *driver))
                return s;
            dev.driverStreaming = true;
        }
        auto& c = dev.counters;
        c.fpsWindowStart = 0;
        c.fpsFrequency = platform::kCounterFrequency;
        c.fpsWindowStart = static_cast<uint64_t>(platform::monotonicNs());
        if (!driver) {
            setStreamSocketBuffer(dev, false);
            if (const GevStatus s = setUpReception(holder))
                return s;
        }
        return described ? tellCameraToStart(dev) : GEV_STATUS_SUCCESS;
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
    const GevStatus status =
        dev.descriptionReady.load() != 0 ? tellCameraToStop(dev) : GEV_STATUS_SUCCESS;
    dev.acquisitionStopped = 1;
    const auto acquisition = currentAcquisition(dev);
    auto driver = filterdriver::driverInUse(dev);
    // A stream started in the driver ends there, also when secure transfer has taken the
    // device off the driver since: else the driver would go on receiving until the close.
    if (!driver && dev.driverStreaming)
        driver = filterdriver::driverHandle(dev);
    dev.driverStreaming = false;
    // A receiver of an earlier socket-path start ends on either path.
    if (!driver || acquisition)
        endReception(dev, acquisition, true);
    const bool counted = !driver || stopDriverStream(dev, *driver);
    if (dev.controlMode == 0 && dev.multicastGroup != 0)
        setStreamSocket(dev, {});
    if (counted)
        logStatistics(dev, dev.geometry.payloadSize, dev.packetDataSize);
    logTime(dev, "Stop");
    return counted ? status : GEV_STATUS_FILTER_DRIVER_REFUSED;
}

}  // namespace kavro::gvsp
