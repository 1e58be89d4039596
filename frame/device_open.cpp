#include "frame/device_open.h"

#include <algorithm>
#include <cstring>

#include "frame/device_table.h"
#include "frame/log.h"
#include "platform/socket.h"

namespace kavro::frame {

std::shared_ptr<GevDevice> prepareRecord(uint8_t device, const GevConnectInfo& info,
                                         GevLogCallback log, uint8_t saveDescription,
                                         uint8_t controlMode) {
    auto dev = DeviceTable::instance().newRecord(device);
    if (!dev)
        return nullptr;
    dev->controlPort = info.controlPort;
    dev->streamPort = info.streamPort;
    dev->hostAddress = info.hostAddress;
    dev->deviceAddress = info.deviceAddress;
    dev->adapterName.assign(info.adapterName,
                            strnlen(info.adapterName, sizeof info.adapterName - 1));
    dev->controlMode = controlMode;
    dev->saveDescription = saveDescription;
    dev->logCallback = log;
    // The remaining defaults (request id 1, 200 ms waits, 3 tries, 1000 ms image time-out,
    // resend limit 10, four ring buffers) are the record's member initialisers.
    return dev;
}

void logControlReadFailure(const GevDevice& device, GevStatus status) {
    char address[16];
    platform::formatIpv4(device.deviceAddress, address);
    if (status == GEV_STATUS_TIMEOUT) {
        const uint64_t waitMs =
            (uint64_t{device.waitSeconds.load()} * 1000000 + device.waitMicroseconds.load()) / 1000;
        gevLogf(device,
                "[ERROR] - No answer from %s (%u tries of %llu ms): wrong address, or the camera "
                "is off or out of reach.",
                address, static_cast<unsigned>(std::max<uint8_t>(device.retryCount.load(), 1)),
                static_cast<unsigned long long>(waitMs));
    } else if ((status & 0x8000) != 0) {
        gevLogf(device, "[ERROR] - The camera at %s refused to read its control register: %s",
                address, GEVStatusText(status));
    } else {
        gevLogf(device, "[ERROR] - The control register of %s could not be read: %s", address,
                GEVStatusText(status));
    }
}

GevStatus openControlSocket(GevDevice& device) {
    gevLog(device, "[INFO] - Open control port.");
    platform::UniqueSocket sock = platform::createUdpSocket(device.hostAddress, device.controlPort);
    if (!sock.isValid()) {
        gevLog(device, "[ERROR] - Create control port.");
        return GEV_STATUS_SOCKET_ERROR;
    }
    if (device.controlPort == 0) {
        // The port is only reported; a socket whose port can't be read still works.
        device.controlPort = platform::localPort(sock).value_or(0);
    }
    {
        std::lock_guard lock(device.controlLock);
        std::lock_guard swap(device.controlSocketSwap);
        device.controlSocket = std::move(sock);
    }
    gevLogf(device, "[INFO] - Control channel port: %d", device.controlPort.load());
    return GEV_STATUS_SUCCESS;
}

GevStatus openWithoutHandshake(uint8_t device, const GevConnectInfo& info, GevLogCallback log,
                               uint8_t controlMode) {
    auto dev = prepareRecord(device, info, log, 0, controlMode);
    if (!dev)
        return GEV_STATUS_DEVICE_NOT_OPEN;
    logVersionLines(*dev);
    const GevStatus status = openControlSocket(*dev);
    if (status != GEV_STATUS_SUCCESS) {
        dev->logCallback = nullptr;
        return status;
    }
    DeviceTable::instance().markOpen(*dev);
    return GEV_STATUS_SUCCESS;
}

}  // namespace kavro::frame
