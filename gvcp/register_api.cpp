// Exported register and memory calls and their settings.
#include "KavroGigEVisionLib.h"
#include "frame/api_guard.h"
#include "gvcp/register_access.h"

using kavro::frame::GevDevice;
using kavro::frame::withOpenDevice;

extern "C" {

KAVRO_API GevStatus GEVReadRegister(uint8_t device, uint32_t address, uint8_t count,
                                    uint32_t* values) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (values == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return kavro::gvcp::readRegisters(dev, address, std::span(values, count));
    });
}

KAVRO_API GevStatus GEVWriteRegister(uint8_t device, uint32_t address, uint8_t count,
                                     const uint32_t* values) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (values == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return kavro::gvcp::writeRegisters(dev, address, std::span(values, count));
    });
}

KAVRO_API GevStatus GEVReadMemory(uint8_t device, uint32_t address, uint32_t length,
                                  uint8_t* data) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (data == nullptr && length != 0)
            return GEV_STATUS_INVALID_ARGUMENT;
        return kavro::gvcp::readMemory(dev, address, length, data);
    });
}

KAVRO_API GevStatus GEVWriteMemory(uint8_t device, uint32_t address, uint32_t length,
                                   const uint8_t* data) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (data == nullptr && length != 0)
            return GEV_STATUS_INVALID_ARGUMENT;
        return kavro::gvcp::writeMemory(dev, address, length, data);
    });
}

KAVRO_API GevStatus GEVSetReadWriteMemoryCallback(uint8_t device, GevProgressCallback callback) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        dev.progressCallback = callback;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetReadWriteParameter(uint8_t device, uint32_t timeoutMs, uint8_t retries) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        dev.setTransactionTimeout(timeoutMs);
        dev.retryCount = retries;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetReadWriteParameter(uint8_t device, uint32_t* timeoutMs,
                                             uint8_t* retries) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (timeoutMs == nullptr || retries == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        *timeoutMs = dev.transactionTimeoutMs;
        *retries = dev.retryCount;
        return GEV_STATUS_SUCCESS;
    });
}

}  // extern "C"
