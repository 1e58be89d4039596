// Exported calls of the device table and the log.
#include "KavroGigEVisionLib.h"
#include "frame/api_guard.h"
#include "platform/trace.h"

using kavro::frame::GevDevice;
using kavro::frame::withOpenDevice;

extern "C" {

KAVRO_API GevStatus debug_info(uint8_t device) {
    return withOpenDevice(device, [](GevDevice&) -> GevStatus { return GEV_STATUS_SUCCESS; });
}

KAVRO_API GevStatus GEVGetMemorySize(uint8_t device, uint32_t* size) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (size == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        // The image size the block holds (the payload size), not the block with its margin.
        *size = dev.imageMemory.imageSize();
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetMemorySize(uint8_t device, uint32_t size) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        return dev.imageMemory.resize(size) ? GEV_STATUS_SUCCESS : GEV_STATUS_OUT_OF_MEMORY;
    });
}

KAVRO_API GevStatus GEVGetPixelPtr(uint8_t device, uint32_t offset, uint8_t** address) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (address == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        // The offset is the caller's business; computing the address must not be UB, though.
        *address = reinterpret_cast<uint8_t*>(reinterpret_cast<uintptr_t>(dev.imageMemory.data()) +
                                              offset);
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetDetailedLog(uint8_t device, uint8_t flags) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        dev.detailedLog = flags;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetDetailedLog(uint8_t device, uint8_t* flags) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (flags == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        *flags = dev.detailedLog;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetDebugTraceCallback(GevTraceCallback callback) {
    kavro::platform::setTraceCallback(callback);
    return GEV_STATUS_SUCCESS;
}

}  // extern "C"
