// Exported calls of the heartbeat, the message channel, the action command and the channel
// timing.
#include "KavroGigEVisionLib.h"
#include "frame/api_guard.h"
#include "gvcp/action_command.h"
#include "gvcp/bootstrap.h"
#include "gvcp/register_access.h"

using kavro::frame::GevDevice;
using kavro::frame::withOpenDevice;
namespace gvcp = kavro::gvcp;
namespace reg = kavro::gvcp::reg;

extern "C" {

KAVRO_API GevStatus GEVGetHeartbeatRate(uint8_t device, uint32_t* milliseconds) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (milliseconds == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return gvcp::readRegister(dev, reg::kHeartbeatTimeout, *milliseconds);
    });
}

KAVRO_API GevStatus GEVSetHeartbeatRate(uint8_t device, uint32_t milliseconds) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        const GevStatus status = gvcp::writeRegister(dev, reg::kHeartbeatTimeout, milliseconds);
        if (status == GEV_STATUS_SUCCESS)
            dev.heartbeatPeriodMs = milliseconds / 3;
        return status;
    });
}

KAVRO_API GevStatus GEVSetMessageChannelCallback(uint8_t device, GevMessageCallback callback) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (dev.eventsSupported == 0)
            return GEV_STATUS_NOT_SUPPORTED;
        dev.messageCallback = callback;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetActionCommand(uint8_t device, uint32_t deviceKey, uint32_t groupKey,
                                        uint32_t groupMask, uint32_t delaySeconds) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        return gvcp::sendActionCommand(dev, deviceKey, groupKey, groupMask, delaySeconds);
    });
}

KAVRO_API GevStatus GEVGetChannelParameter(uint8_t device, GevChannelParameter* parameters) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (parameters == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        parameters->heartbeatPeriodMs = dev.heartbeatPeriodMs;
        parameters->transactionTimeoutMs = dev.transactionTimeoutMs;
        parameters->retryCount = dev.retryCount;
        parameters->streamTimeout = dev.streamTimeout;
        parameters->maxResend = dev.maxResend;
        parameters->imageTimeout = dev.imageTimeout;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetChannelParameter(uint8_t device, const GevChannelParameter* parameters) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (parameters == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        dev.retryCount = parameters->retryCount;
        dev.transactionTimeoutMs = parameters->transactionTimeoutMs;
        uint32_t cameraTimeout = 0;
        if (const GevStatus status =
                gvcp::readRegister(dev, reg::kHeartbeatTimeout, cameraTimeout)) {
            return status;
        }
        // A period beyond the camera's time-out would lose control between two heartbeats.
        uint32_t period = parameters->heartbeatPeriodMs;
        if (period > cameraTimeout)
            period = cameraTimeout > 200 ? cameraTimeout - 200 : 0;
        dev.heartbeatPeriodMs = period;
        dev.setTransactionTimeout(parameters->transactionTimeoutMs);
        dev.streamTimeout = parameters->streamTimeout;
        dev.imageTimeout = parameters->imageTimeout;
        dev.maxResend = parameters->maxResend;
        return GEV_STATUS_SUCCESS;
    });
}

}  // extern "C"
