#include "gvsp/stream_channel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "frame/log.h"
#include "gvcp/bootstrap.h"
#include "gvcp/register_access.h"
#include "gvcp/wire.h"

namespace kavro::gvsp {

namespace reg = gvcp::reg;

platform::UniqueSocket createStreamSocket(uint32_t hostAddressNet, uint16_t port,
                                          uint32_t multicastGroupHostOrder) {
    platform::SocketOptions options;
    options.reuse = true;
    options.receiveBuffer = kStreamReceiveBuffer;
    const uint32_t bindAddress =
        multicastGroupHostOrder != 0 ? htonl(multicastGroupHostOrder) : hostAddressNet;
    return platform::createUdpSocket(bindAddress, port, options);
}

void warnOnSmallReceiveBuffer(frame::GevDevice& device, const platform::UniqueSocket& socket) {
    const size_t granted = platform::receiveBufferSize(socket).value_or(0);
    if (granted >= kStreamReceiveBuffer)
        return;
    frame::gevLogf(device,
                   "[WARNING] - Stream socket receive buffer: %zu bytes granted of %zu wanted; "
                   "net.core.rmem_max limits it (sysctl -w net.core.rmem_max=%zu), packets may be "
                   "lost at high rates.",
                   granted, kStreamReceiveBuffer, kStreamReceiveBuffer);
}

bool joinMulticastGroup(const platform::UniqueSocket& socket, uint32_t groupHostOrder,
                        uint32_t interfaceNet) {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(groupHostOrder);
    request.imr_interface.s_addr = interfaceNet;
    return ::setsockopt(socket.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
}

void setStreamSocket(frame::GevDevice& device, platform::UniqueSocket socket) {
    std::lock_guard lock(device.controlLock);
    device.streamSocket = std::move(socket);
}

GevStatus openStreamChannel(frame::GevDevice& dev, uint32_t hostAddress, uint16_t port,
                            uint32_t multicastGroup) {
    std::lock_guard streamLock(dev.streamLock);
    GevStatus status = GEV_STATUS_SUCCESS;
    if (dev.controlMode != 0) {
        dev.streamPort = port;
        dev.multicastGroup = multicastGroup;
    } else {
        uint32_t scp = 0;
        if (const GevStatus s = gvcp::readRegister(dev, reg::kScp0, scp))
            return s;
        dev.streamPort = static_cast<uint16_t>(scp & 0xFFFF);
        dev.multicastGroup = multicastGroup;
        uint32_t scda = 0;
        status = gvcp::readRegister(dev, reg::kScda0, scda);
        if (status == GEV_STATUS_SUCCESS) {
            dev.multicastGroup = (scda & 0xE0000000) == 0xE0000000 ? scda : 0;
        }
    }
    if (status == GEV_STATUS_SUCCESS) {
        if (hostAddress != 0)
            dev.hostAddress = hostAddress;
        frame::gevLog(dev, "[INFO] - Open stream channel.");
        char dotted[16];
        platform::formatIpv4(dev.hostAddress, dotted);
        frame::gevLogf(dev, "[INFO] - Stream channel IP: %s", dotted);

        platform::UniqueSocket sock =
            createStreamSocket(dev.hostAddress, dev.streamPort, dev.multicastGroup);
        if (!sock.isValid())
            return GEV_STATUS_SOCKET_ERROR;
        warnOnSmallReceiveBuffer(dev, sock);
        setStreamSocket(dev, std::move(sock));

        uint32_t destination = ntohl(dev.hostAddress);
        if (dev.multicastGroup != 0) {
            destination = dev.multicastGroup;
            if (!joinMulticastGroup(dev.streamSocket, dev.multicastGroup, dev.hostAddress)) {
                status = GEV_STATUS_MULTICAST_ERROR;
            }
        }
        if (status == GEV_STATUS_SUCCESS) {
            if (gvcp::writeRegister(dev, reg::kScda0, destination) != GEV_STATUS_SUCCESS) {
                frame::gevLog(dev,
                              "[WARNING] - Can't write to GevSCDA register to set message channel "
                              "ip address.");
            }
            if (dev.streamPort == 0) {
                const auto bound = platform::localPort(dev.streamSocket);
                if (bound) {
                    dev.streamPort = *bound;
                } else {
                    status = GEV_STATUS_SOCKET_ERROR;
                }
            }
        }
        if (status == GEV_STATUS_SUCCESS) {
            frame::gevLogf(dev, "[INFO] - Stream channel port: %d", dev.streamPort);
            status = gvcp::writeRegister(dev, reg::kScp0, dev.streamPort);
        }
        // A stateful firewall on the host lets the camera's stream in once the stream socket
        // has sent to the camera.
        if (status == GEV_STATUS_SUCCESS && dev.multicastGroup == 0)
            (void)platform::sendTraversalDatagram(dev.streamSocket, dev.deviceAddress, gvcp::kPort);
    }
    // Without control a multicast stream is listened to only while an acquisition runs.
    if ((dev.controlMode == 0 && dev.multicastGroup != 0) || status != GEV_STATUS_SUCCESS) {
        setStreamSocket(dev, {});
    }
    return status;
}

GevStatus closeStreamChannel(frame::GevDevice& dev) {
    std::lock_guard streamLock(dev.streamLock);
    const GevStatus status = gvcp::writeRegister(dev, reg::kScp0, 0);
    setStreamSocket(dev, {});
    return status;
}

}  // namespace kavro::gvsp
