// The exported stream calls: thin shims over the stream channel, acquisition, retrieval and
// settings code. Every call checks the index first; no exception leaves.
#include <arpa/inet.h>
#include <unistd.h>

#include "KavroGigEVisionLib.h"
#include "filterdriver/requests.h"
#include "frame/api_guard.h"
#include "gvcp/bootstrap.h"
#include "gvcp/register_access.h"
#include "gvsp/acquisition.h"
#include "gvsp/image_ring.h"
#include "gvsp/receiver.h"
#include "gvsp/retrieval.h"
#include "gvsp/stream_channel.h"
#include "platform/trace.h"

using kavro::frame::GevDevice;
using kavro::frame::withOpenDevice;
namespace gvsp = kavro::gvsp;
namespace fd = kavro::filterdriver;

namespace {

// The camera's packet-resend capability; its read's status when it can't be read.
GevStatus resendCapability(GevDevice& dev, bool& capable) {
    uint32_t capability = 0;
    if (const GevStatus s =
            kavro::gvcp::readRegister(dev, kavro::gvcp::reg::kGvcpCapability, capability)) {
        return s;
    }
    capable = (capability & kavro::gvcp::reg::kCapPacketResend) != 0;
    return GEV_STATUS_SUCCESS;
}

}  // namespace

extern "C" {

KAVRO_API GevStatus GEVOpenStreamChannel(uint8_t device, uint32_t hostAddress, uint16_t port,
                                         uint32_t multicastGroup) {
    return withOpenDevice(device, [&](GevDevice& dev) {
        return gvsp::openStreamChannel(dev, hostAddress, port, multicastGroup);
    });
}

KAVRO_API GevStatus GEVCloseStreamChannel(uint8_t device) {
    return withOpenDevice(device, [](GevDevice& dev) { return gvsp::closeStreamChannel(dev); });
}

KAVRO_API GevStatus GEVPacketResend(uint8_t device, uint16_t channel, uint64_t blockId,
                                    uint32_t firstPacket, uint32_t lastPacket) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        return gvsp::sendPacketResend(dev, dev.gevVersionMajor >= 2, channel, blockId, firstPacket,
                                      lastPacket);
    });
}

KAVRO_API GevStatus GEVAcquisitionStart(uint8_t device, uint32_t frameCount) {
    return GEVAcquisitionStartEx(device, frameCount, 0);
}

KAVRO_API GevStatus GEVAcquisitionStartEx(uint8_t device, uint32_t frameCount,
                                          uint32_t payloadSize) {
    return withOpenDevice(device, [&](GevDevice&) {
        return gvsp::startAcquisition(device, frameCount, payloadSize);
    });
}

KAVRO_API GevStatus GEVAcquisitionStop(uint8_t device) {
    return withOpenDevice(device, [](GevDevice& dev) { return gvsp::stopAcquisition(dev); });
}

KAVRO_API GevStatus GEVGetImage(uint8_t device, GevImageHeader* header) {
    return withOpenDevice(
        device, [&](GevDevice& dev) { return gvsp::copyImage(dev, 0, nullptr, header, nullptr); });
}

KAVRO_API GevStatus GEVGetImageBuffer(uint8_t device, GevImageHeader* header, void* destination) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (destination == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return gvsp::copyImage(dev, 0, nullptr, header, destination);
    });
}

KAVRO_API GevStatus grab_image(uint8_t device, uint32_t offset, uint32_t* size) {
    return withOpenDevice(device, [&](GevDevice& dev) {
        return gvsp::copyImage(dev, offset, size, nullptr, nullptr);
    });
}

KAVRO_API GevStatus get_image_header(uint8_t device, GevImageHeader* header) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (header == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        if (const auto driver = fd::driverInUse(dev))
            return fd::sendGetImageHeader(*driver, dev.deviceIndex, *header);
        *header = dev.lastImageHeader;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetRingBuffer(uint8_t device, uint32_t, void* buffer) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        // The driver's images never go to application buffers.
        if (fd::driverInUse(dev)) {
            dev.userBuffers.clear();
            return GEV_STATUS_NOT_SUPPORTED;
        }
        if (buffer == nullptr || dev.userBuffers.size() >= gvsp::kMaxRingEntries) {
            return GEV_STATUS_INVALID_ARGUMENT;
        }
        dev.userBuffers.push_back(buffer);
        dev.bufferCount = static_cast<uint16_t>(dev.userBuffers.size());
        kavro::platform::debugTrace("count: %d,%d", dev.bufferCount, dev.bufferCount);
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetImageRingBuffer(uint8_t device, GevImageHeader* header, uint8_t* index) {
    return withOpenDevice(
        device, [&](GevDevice& dev) { return gvsp::getImageRingBuffer(dev, header, index); });
}

KAVRO_API GevStatus GEVQueueRingBuffer(uint8_t device, uint8_t index) {
    return withOpenDevice(device,
                          [&](GevDevice& dev) { return gvsp::queueRingBuffer(dev, index); });
}

KAVRO_API GevStatus GEVReleaseRingBuffer(uint8_t device) {
    return withOpenDevice(device, [](GevDevice& dev) -> GevStatus {
        dev.userBuffers.clear();
        return fd::driverInUse(dev) ? GEV_STATUS_NOT_SUPPORTED : GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetImageFPS(uint8_t device, double* fps) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (fps == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return gvsp::imageFps(dev, *fps);
    });
}

KAVRO_API GevStatus GEVGetBufferCount(uint8_t device, uint16_t* count) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (count == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        *count = dev.bufferCount;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetBufferCount(uint8_t device, uint16_t count) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        // A ring holds 1..256 entries (the entry index is one byte).
        if (count == 0 || count > gvsp::kMaxRingEntries)
            return GEV_STATUS_INVALID_ARGUMENT;
        dev.bufferCount = count;
        if (const auto driver = fd::driverInUse(dev))
            return fd::sendSetBufferCount(*driver, dev.deviceIndex, count);
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetFreeBufferCount(uint8_t device, uint16_t* count) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (count == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return gvsp::freeBufferCount(dev, *count);
    });
}

KAVRO_API GevStatus GEVGetPacketResend(uint8_t device, uint8_t* enabled) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (enabled == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        bool capable = false;
        if (const GevStatus s = resendCapability(dev, capable))
            return s;
        if (!capable) {
            *enabled = 0;
            return GEV_STATUS_NOT_SUPPORTED;
        }
        *enabled = dev.resendEnabled != 0 ? 1 : 0;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetPacketResend(uint8_t device, int8_t enable) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        bool capable = false;
        if (const GevStatus s = resendCapability(dev, capable))
            return s;
        if (!capable)
            return GEV_STATUS_NOT_SUPPORTED;
        dev.resendEnabled = enable != 0 ? 1 : 0;
        if (const auto driver = fd::driverInUse(dev))
            return fd::sendSetPacketResend(*driver, dev.deviceIndex, enable != 0);
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetPacketsOutOfOrder(uint8_t device, uint8_t* window) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (window == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        *window = dev.outOfOrderWindow;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetPacketsOutOfOrder(uint8_t device, uint8_t window) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        dev.outOfOrderWindow = window;
        if (const auto driver = fd::driverInUse(dev))
            return fd::sendSetPacketsOutOfOrder(*driver, dev.deviceIndex, window);
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVTestPacketResend(uint8_t device, int8_t enable, uint16_t first,
                                        uint16_t count) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        dev.testResendFirst = enable != 0 ? first : 0;
        dev.testResendCount = count;
        if (const auto driver = fd::driverInUse(dev)) {
            return fd::sendTestPacketResend(*driver, dev.deviceIndex, dev.testResendFirst.load(),
                                            count);
        }
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetSecureTransfer(uint8_t device, uint8_t* on) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (on == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        *on = dev.secureTransfer != 0 ? 1 : 0;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetSecureTransfer(uint8_t device, int8_t on,
                                         GevSecureTransferCallback callback) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        // The secure-transfer receiver is the library's own: switching it on takes the device off
        // the filter driver, whose handle stays open.
        if (on != 0)
            dev.filterDriverOpen = 0;
        dev.secureTransfer = on != 0 ? 1 : 0;
        dev.resendEnabled = on != 0 ? 1 : 0;
        dev.secureCallback = on != 0 ? callback : nullptr;
        return GEV_STATUS_SUCCESS;
    });
}

}  // extern "C"
