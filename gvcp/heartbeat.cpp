#include "gvcp/heartbeat.h"

#include <algorithm>

#include <arpa/inet.h>

#include "frame/log.h"
#include "gvcp/bootstrap.h"
#include "gvcp/message_channel.h"
#include "gvcp/register_access.h"

namespace kavro::gvcp {

using frame::GevDevice;
using frame::gevLog;
using frame::gevLogf;

namespace {

constexpr uint32_t kFailuresBeforeGivingUp = 5;
// A camera reporting a heartbeat time-out of 0 must not turn the thread into a busy loop.
constexpr uint32_t kMinimumPeriodMs = 10;

bool isSocketFailure(GevStatus status) {
    return status == GEV_STATUS_SEND_ERROR || status == GEV_STATUS_RECEIVE_ERROR ||
           status == GEV_STATUS_WAIT_ERROR;
}

void runHeartbeat(const std::shared_ptr<GevDevice>& holder) {
    GevDevice& device = *holder;
    uint32_t failureCount = 0;
    bool linkLost = false;
    while (device.heartbeatStop == 0) {
        uint32_t ccp = 0;
        const GevStatus status = readRegister(device, reg::kCcp, ccp);
        // A close may have begun during the read: touch nothing more.
        if (device.heartbeatStop != 0)
            break;

        if (status != GEV_STATUS_SUCCESS) {
            if (failureCount == 0) {
                linkLost = true;
                gevLog(device, "[WARNING] - CCP lost.");
                device.connectionStatus = GEV_CONNECTION_LOST;
            }
            if (isSocketFailure(status))
                rebuildControlSocket(device);
            if (++failureCount >= kFailuresBeforeGivingUp) {
                device.connectionStatus = GEV_CONNECTION_FAILED;
                device.heartbeatStop = 1;
                gevLog(device, "[ERROR] - CCP connection failure");
                return;
            }
        } else {
            if (linkLost) {
                linkLost = false;
                gevLog(device, "[INFO] - CCP reconnection.");
                failureCount = 0;
            }
            if ((ccp & 3u) != device.controlMode) {
                gevLog(device, "[WARNING] - CCP access lost. Access mode reset.");
                if (writeRegister(device, reg::kCcp, device.controlMode) == GEV_STATUS_SUCCESS) {
                    restoreStreamDestination(device);
                    restoreMessageChannel(device);
                } else {
                    gevLog(device, "[ERROR] - Can't set mode in ccp register.");
                }
            } else {
                device.connectionStatus = GEV_CONNECTION_OK;
            }
        }

        const uint32_t period = std::max(device.heartbeatPeriodMs.load(), kMinimumPeriodMs);
        if (device.heartbeatStopEvent.waitFor(std::chrono::milliseconds(period))) {
            device.heartbeatStopEvent.reset();
        }
    }
}

}  // namespace

GevStatus startHeartbeat(const std::shared_ptr<GevDevice>& device) {
    device->heartbeatStop = 0;
    device->heartbeatStopEvent.reset();
    const bool started = device->heartbeatThread.start([device] { runHeartbeat(device); },
                                                       platform::ThreadPriority::TimeCritical);
    if (!started)
        return GEV_STATUS_THREAD_ERROR;
    device->heartbeatRunning = 1;
    return GEV_STATUS_SUCCESS;
}

void stopHeartbeat(GevDevice& device, std::chrono::milliseconds wait) {
    if (device.heartbeatStop.exchange(1) == 0)
        device.heartbeatStopEvent.set();
    device.heartbeatThread.join(wait);
    device.heartbeatRunning = 0;
}

void rebuildControlSocket(GevDevice& device) {
    uint16_t port = 0;
    bool created = false;
    {
        std::lock_guard lock(device.controlLock);
        std::lock_guard swap(device.controlSocketSwap);
        const uint16_t previous = device.controlPort;
        device.controlSocket.reset();
        device.controlPort = 0;
        // The same port when the system still has it free: a camera that ties control to the
        // host's port then keeps taking this host's commands.
        platform::UniqueSocket sock = platform::createUdpSocket(device.hostAddress, previous);
        if (!sock.isValid() && previous != 0)
            sock = platform::createUdpSocket(device.hostAddress, 0);
        if (sock.isValid()) {
            port = platform::localPort(sock).value_or(0);
            device.controlPort = port;
            device.controlSocket = std::move(sock);
            created = true;
        }
    }
    if (!created) {
        gevLog(device, "[ERROR] - Create control port.");
        return;
    }
    gevLogf(device, "[INFO] - Control channel port: %d", port);
    if (const GevStatus status = writeRegister(device, reg::kCcp, device.controlMode);
        status != GEV_STATUS_SUCCESS) {
        gevLogf(device, "[ERROR] - Can't set mode in ccp register. Error code: %08X", status);
    }
}

namespace {

// A camera that lost its stream destination was reset (power cycle, reboot): its packet size is
// back at its default too, and a stream the receiver sized for another one could not be
// assembled. The flag bits (test packet, do not fragment) are left as the camera has them.
void restorePacketSize(GevDevice& device) {
    const uint32_t size = device.streamPacketSize.load();
    uint32_t scps = 0;
    if (size == 0 || readRegister(device, reg::kScps0, scps) != GEV_STATUS_SUCCESS ||
        (scps & 0xFFFF) == size) {
        return;
    }
    constexpr uint32_t kFireTestPacket = 0x80000000;
    if (writeRegister(device, reg::kScps0, (scps & ~(kFireTestPacket | 0xFFFFu)) | size) ==
        GEV_STATUS_SUCCESS) {
        gevLogf(device, "[INFO] - Set stream channel packet size: %u", size);
    }
}

}  // namespace

void restoreStreamDestination(GevDevice& device) {
    if (!device.streamSocket.isValid() || device.controlMode == 0)
        return;
    uint32_t scda = 0;
    if (readRegister(device, reg::kScda0, scda) != GEV_STATUS_SUCCESS)
        return;
    if (scda == 0) {
        const uint32_t destination =
            device.multicastGroup != 0 ? device.multicastGroup : ntohl(device.hostAddress);
        if (writeRegister(device, reg::kScda0, destination) != GEV_STATUS_SUCCESS)
            return;
        char dotted[16];
        platform::formatIpv4(htonl(destination), dotted);
        gevLogf(device, "[INFO] - Set stream channel address: %s", dotted);
        restorePacketSize(device);
    }
    uint32_t scp = 0;
    if (readRegister(device, reg::kScp0, scp) == GEV_STATUS_SUCCESS && scp == 0 &&
        writeRegister(device, reg::kScp0, device.streamPort) == GEV_STATUS_SUCCESS) {
        gevLogf(device, "[INFO] - Set stream channel port: %d", device.streamPort);
    }
}

void restoreMessageChannel(GevDevice& device) {
    if (device.controlMode == 0)
        return;
    uint32_t channels = 0;
    if (readRegister(device, reg::kNumberOfMessageChannels, channels) != GEV_STATUS_SUCCESS) {
        gevLog(device, "[ERROR] - Can't read register number of message channel.");
        return;
    }
    if (channels == 0) {
        gevLog(device, "[INFO] - Message channel is not available.");
        return;
    }
    gevLog(device, "[INFO] - Message channel is available.");
    if (writeRegister(device, reg::kMcda, ntohl(device.hostAddress)) != GEV_STATUS_SUCCESS) {
        gevLog(device,
               "[WARNING] - Can't write to GevMCDA register to set message channel ip address.");
    }
    const uint16_t port = MessageChannel::instance().port();
    if (writeRegister(device, reg::kMcp, port) == GEV_STATUS_SUCCESS) {
        gevLogf(device, "[INFO] - Message channel port: %d", port);
        MessageChannel::instance().openFirewallTowards(device.deviceAddress);
    } else {
        gevLog(device, "[ERROR] - Can't set message channel port.");
    }
}

}  // namespace kavro::gvcp
