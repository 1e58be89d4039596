// Opening and closing a device. These calls reach into every subsystem (control channel,
// heartbeat, message channel, and the stream and description state a close releases), so they
// sit above all of them.
#include <arpa/inet.h>

#include <chrono>
#include <mutex>
#include <optional>

#include "KavroGigEVisionLib.h"
#include "filterdriver/filter_device.h"
#include "filterengine/packet_ring_driver.h"
#include "frame/api_guard.h"
#include "frame/device_open.h"
#include "frame/device_table.h"
#include "frame/log.h"
#include "genicam/description_api.h"
#include "gvcp/bootstrap.h"
#include "gvcp/discovery.h"
#include "gvcp/heartbeat.h"
#include "gvcp/message_channel.h"
#include "gvcp/register_access.h"
#include "gvcp/wire_discovery.h"
#include "gvsp/acquisition.h"
#include "platform/clock.h"

namespace kavro::lifecycle {

namespace {

using frame::GevDevice;
using frame::gevLog;
using frame::gevLogf;
namespace reg = gvcp::reg;

// How long a failing open waits for its heartbeat thread.
constexpr auto kFailedOpenHeartbeatWait = std::chrono::milliseconds(3000);

bool anyIndexOpenHere() {
    auto& table = frame::DeviceTable::instance();
    for (uint8_t i = 1; i <= frame::kMaxDeviceIndex; ++i) {
        if (table.openDevice(i) != nullptr)
            return true;
    }
    return false;
}

void closeSockets(GevDevice& dev) {
    // Under the control lock: a heartbeat thread that outlived its stop wait may still be in a
    // transaction on the socket.
    std::lock_guard lock(dev.controlLock);
    std::lock_guard swap(dev.controlSocketSwap);
    dev.controlSocket.reset();
    dev.streamSocket.reset();
}

// Undoes a partly done open; the index ends closed.
GevStatus failOpen(GevDevice& dev, GevStatus status) {
    if (dev.heartbeatThread.running())
        gvcp::stopHeartbeat(dev, kFailedOpenHeartbeatWait);
    closeSockets(dev);
    genicam::releaseDeviceDescription(dev.deviceIndex);
    frame::DeviceTable::instance().markClosed(dev);
    dev.logCallback = nullptr;
    return status;
}

GevStatus setUpMessageChannel(GevDevice& dev, bool& available) {
    uint32_t channels = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kNumberOfMessageChannels, channels)) {
        return s;
    }
    if (channels == 0) {
        gevLog(dev, "[INFO] - Message channel is not available.");
        return GEV_STATUS_SUCCESS;
    }
    available = true;
    gevLog(dev, "[INFO] - Message channel is available.");
    if (gvcp::writeRegister(dev, reg::kMcda, ntohl(dev.hostAddress)) != GEV_STATUS_SUCCESS) {
        gevLog(dev,
               "[WARNING] - Can't write to GevMCDA register to set message channel ip address.");
    }
    auto& channel = gvcp::MessageChannel::instance();
    if (!channel.ensureRunning()) {
        gevLog(dev, "[WARNING] - Can't open message channel port.");
    } else {
        gevLog(dev, "[INFO] - Open message channel port.");
    }
    const uint16_t port = channel.port();
    if (port == 0 && channel.running())
        gevLog(dev, "[WARNING] - Can't get message channel port");
    if (const GevStatus s = gvcp::writeRegister(dev, reg::kMcp, port))
        return s;
    gevLogf(dev, "[INFO] - Message channel port: %d", port);
    channel.openFirewallTowards(dev.deviceAddress);
    return GEV_STATUS_SUCCESS;
}

// Everything after the control socket exists: control, heartbeat, message channel,
// capabilities, version and packet size.
GevStatus handshake(const std::shared_ptr<GevDevice>& holder) {
    GevDevice& dev = *holder;
    if (dev.controlMode != 0) {
        uint32_t ccp = 0;
        if (const GevStatus s = gvcp::readRegister(dev, reg::kCcp, ccp)) {
            gevLog(dev, "[INFO] - Device already opened.");
            frame::logControlReadFailure(dev, s);
            return GEV_STATUS_DEVICE_IN_USE;
        }
    }
    dev.connectionStatus = GEV_CONNECTION_OK;
    if (const GevStatus s = gvcp::writeRegister(dev, reg::kCcp, dev.controlMode))
        return s;

    bool messageChannel = false;
    if (dev.controlMode != 0) {
        gevLog(dev, "[INFO] - Start heartbeat thread.");
        uint32_t timeout = 0;
        if (const GevStatus s = gvcp::readRegister(dev, reg::kHeartbeatTimeout, timeout))
            return s;
        dev.heartbeatPeriodMs = timeout / 3;
        if (const GevStatus s = gvcp::startHeartbeat(holder))
            return s;
        if (const GevStatus s = setUpMessageChannel(dev, messageChannel))
            return s;
    }

    uint32_t capability = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kGvcpCapability, capability))
        return s;
    dev.eventsSupported = messageChannel && (capability & reg::kCapEvent) != 0 &&
                          (capability & reg::kCapEventData) != 0;

    uint32_t high = 0;
    uint32_t low = 0;
    double frequency = 0.0;
    if (gvcp::readRegister(dev, reg::kTimestampTickFrequencyHigh, high) == GEV_STATUS_SUCCESS &&
        gvcp::readRegister(dev, reg::kTimestampTickFrequencyLow, low) == GEV_STATUS_SUCCESS) {
        frequency = static_cast<double>((uint64_t{high} << 32) | low);
    }
    dev.tickPeriodNs = (1.0 / frequency) * 1000000000.0;

    uint32_t streamChannels = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kNumberOfStreamChannels, streamChannels)) {
        return s;
    }
    if (streamChannels == 0) {
        gevLog(dev, "[INFO] - Stream channel is not available.");
        return GEV_STATUS_SUCCESS;
    }
    uint32_t version = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kVersion, version))
        return s;
    dev.gevVersionMajor = static_cast<uint16_t>(version >> 16);
    dev.gevVersionMinor = static_cast<uint16_t>(version);
    gevLogf(dev, "[INFO] - GEV Version: %d.%d", dev.gevVersionMajor, dev.gevVersionMinor);
    uint32_t scps = 0;
    if (const GevStatus s = gvcp::readRegister(dev, reg::kScps0, scps))
        return s;
    // IP and UDP headers plus the GVSP header: 8 bytes more with 64-bit block ids (2.x).
    const uint32_t overhead = dev.gevVersionMajor <= 1 ? 36 : 48;
    const uint32_t packetSize = scps & 0xFFFF;
    dev.packetDataSize = packetSize > overhead ? packetSize - overhead : 0;
    gevLog(dev, "[INFO] - Stream channel is available.");
    return GEV_STATUS_SUCCESS;
}

// MAC, mask and gateway for the Force IP that restarts the camera's IP configuration; nullopt
// (and the failure in `status`) when one of them can't be read.
std::optional<gvcp::ForceIp> readRestartIp(GevDevice& dev, GevStatus& status) {
    uint32_t values[4] = {};
    const uint32_t registers[4] = {reg::kMacHigh, reg::kMacLow, reg::kCurrentSubnetMask,
                                   reg::kCurrentGateway};
    for (int i = 0; i < 4; ++i) {
        if (const GevStatus s = gvcp::readRegister(dev, registers[i], values[i])) {
            status = s;
            return std::nullopt;
        }
    }
    gvcp::ForceIp force;
    force.mac = {static_cast<uint8_t>(values[0] >> 8),  static_cast<uint8_t>(values[0]),
                 static_cast<uint8_t>(values[1] >> 24), static_cast<uint8_t>(values[1] >> 16),
                 static_cast<uint8_t>(values[1] >> 8),  static_cast<uint8_t>(values[1])};
    force.subnetMask = values[2];
    force.gateway = values[3];
    return force;
}

void logTime(const GevDevice& dev, const char* what) {
    const auto t = platform::localTimeOfDay();
    gevLogf(dev, "[INFO] - %s device time: %02d:%02d:%02d", what, t.hour, t.minute, t.second);
}

// The library's own packet-ring engine answers for the filter driver unless a test put another
// device in its place.
void installFilterEngine() {
    static std::once_flag once;
    std::call_once(once, [] {
        filterdriver::setDefaultFilterDeviceOpener(&filterengine::openPacketRingDriver);
    });
}

// Closes the filter driver when the device uses it, and drops a handle that secure transfer
// left open: nothing of the device outlives its close.
void closeFilterDriver(GevDevice& dev) {
    if (dev.filterDriverOpen.load() != 0)
        (void)GEVCloseFilterDriver(dev.deviceIndex);
    std::shared_ptr<filterdriver::FilterDevice> closing;
    std::lock_guard lock(dev.filterDriverGuard);
    closing = std::move(dev.filterDriverHandle);
}

}  // namespace

GevStatus open(uint8_t device, const GevConnectInfo* info, GevLogCallback log,
               uint8_t saveDescription, uint8_t controlMode) {
    if (device < 1 || device > frame::kMaxDeviceIndex)
        return GEV_STATUS_DEVICE_NOT_OPEN;
    if (info == nullptr)
        return GEV_STATUS_INVALID_ARGUMENT;
    if ((info->subnetMask & info->deviceAddress) != (info->subnetMask & info->hostAddress)) {
        return GEV_STATUS_NOT_IN_SUBNET;
    }
    auto& table = frame::DeviceTable::instance();
    if (table.isOpen(device)) {
        GevDevice* current = table.openDevice(device);
        // Open in another process, or here with a link that still works.
        if (current == nullptr || current->connectionStatus != GEV_CONNECTION_FAILED) {
            return GEV_STATUS_DEVICE_ALREADY_OPEN;
        }
        (void)GEVClose(device);
    }

    // Another process may be opening the same index right now: only one claim succeeds.
    if (!table.claim(device))
        return GEV_STATUS_DEVICE_ALREADY_OPEN;
    installFilterEngine();
    auto holder = frame::prepareRecord(device, *info, log, saveDescription, controlMode);
    GevDevice& dev = *holder;
    table.markOpen(dev);
    frame::logVersionLines(dev);
    if (const GevStatus s = frame::openControlSocket(dev))
        return failOpen(dev, s);
    if (const GevStatus s = handshake(holder))
        return failOpen(dev, s);
    logTime(dev, "Init");
    return GEV_STATUS_SUCCESS;
}

GevStatus close(GevDevice& dev) {
    GevStatus result = GEV_STATUS_SUCCESS;
    // An acquisition that ended by its frame count still holds its ring, its socket handles
    // and the camera's transport-layer lock: a close releases them too.
    if (dev.acquisitionStopped.load() == 0 || gvsp::currentAcquisition(dev))
        (void)gvsp::stopAcquisition(dev);
    closeFilterDriver(dev);

    // A changed network configuration takes effect through a Force IP to address 0 after the
    // close; what it needs is read while the camera is still ours. A failed read is reported but
    // does not keep the heartbeat running or the camera controlled.
    std::optional<gvcp::ForceIp> restartIp;
    if (dev.netConfigChanged != 0)
        restartIp = readRestartIp(dev, result);

    if (dev.controlMode != 0 && dev.heartbeatRunning == 1) {
        gvcp::stopHeartbeat(dev, std::chrono::milliseconds(dev.heartbeatPeriodMs.load()));
    }
    uint32_t channels = 0;
    if (gvcp::readRegister(dev, reg::kNumberOfMessageChannels, channels) == GEV_STATUS_SUCCESS) {
        GevStatus release =
            channels != 0 ? gvcp::writeRegister(dev, reg::kMcp, 0) : GEV_STATUS_SUCCESS;
        if (release == GEV_STATUS_SUCCESS)
            release = gvcp::writeRegister(dev, reg::kCcp, 0);
        if (result == GEV_STATUS_SUCCESS)
            result = release;
    }
    closeSockets(dev);
    dev.imageMemory.release();
    genicam::releaseDeviceDescription(dev.deviceIndex);
    frame::DeviceTable::instance().markClosed(dev);
    logTime(dev, "Close");
    dev.logCallback = nullptr;
    dev.messageCallback = nullptr;
    if (dev.controlMode != 0 && !anyIndexOpenHere())
        gvcp::MessageChannel::instance().stop();
    if (restartIp) {
        (void)gvcp::forceIp(0, restartIp->subnetMask, restartIp->gateway, restartIp->mac,
                            dev.hostAddress);
    }
    dev.netConfigChanged = 0;
    return result;
}

}  // namespace kavro::lifecycle

using kavro::frame::GevDevice;
using kavro::frame::withOpenDevice;

extern "C" {

KAVRO_API GevStatus GEVInit(uint8_t device, const GevConnectInfo* info, GevLogCallback log,
                            uint8_t saveDescription, uint8_t controlMode) {
    return kavro::frame::guarded(
        [&] { return kavro::lifecycle::open(device, info, log, saveDescription, controlMode); });
}

KAVRO_API GevStatus GEVClose(uint8_t device) {
    return withOpenDevice(device, [](GevDevice& dev) { return kavro::lifecycle::close(dev); });
}

KAVRO_API GevStatus GEVGetConnectionStatus(uint8_t device, uint8_t* status, uint8_t* reserved) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (status == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        *status = dev.connectionStatus;
        if (reserved != nullptr)
            *reserved = 0;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetTimeOneTick(uint8_t device, double* nanoseconds) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (nanoseconds == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        *nanoseconds = dev.tickPeriodNs;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVDisableHeartbeat(uint8_t device) {
    return withOpenDevice(device, [](GevDevice& dev) -> GevStatus {
        namespace reg = kavro::gvcp::reg;
        uint32_t config = 0;
        if (const GevStatus s = kavro::gvcp::readRegister(dev, reg::kGvcpConfiguration, config)) {
            return s;
        }
        config |= reg::kGvcpConfigHeartbeatDisable;
        if (const GevStatus s = kavro::gvcp::writeRegister(dev, reg::kGvcpConfiguration, config)) {
            return s;
        }
        if (dev.controlMode != 0 && dev.heartbeatRunning == 1) {
            kavro::gvcp::stopHeartbeat(dev,
                                       std::chrono::milliseconds(dev.heartbeatPeriodMs.load()));
        }
        return GEV_STATUS_SUCCESS;
    });
}

}  // extern "C"
