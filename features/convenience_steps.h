// What the convenience, serial bridge and look-up table calls share: each is a fixed sequence of
// exported feature calls on standard feature names, run for an open device with its arguments
// checked first.
#pragma once

#include <cstdint>

#include "KavroGigEVisionLib.h"
#include "frame/api_guard.h"
#include "frame/device.h"

namespace kavro::features::convenience {

// The index rule, then the argument check (0xC032 when `argumentsValid` is false), then `body`
// under the guard. The body's feature calls each check the index again on their own.
template <class Body>
GevStatus run(uint8_t device, bool argumentsValid, Body&& body) noexcept {
    return frame::withOpenDevice(device, [&](frame::GevDevice& dev) -> GevStatus {
        if (!argumentsValid) {
            return GEV_STATUS_INVALID_ARGUMENT;
        }
        return body(dev);
    });
}

// Reads the boolean `autoFeature` only to learn that the camera has it: a feature that does not
// exist gives `whenMissing`, any other failure its own status.
[[nodiscard]] inline GevStatus probeAutoFeature(uint8_t device, const char* autoFeature,
                                                GevStatus whenMissing) {
    uint32_t ignored = 0;
    const GevStatus s = GEVGetFeatureBoolean(device, autoFeature, &ignored);
    return s == GEV_STATUS_FEATURE_NOT_FOUND ? whenMissing : s;
}

// The integer value of `name`, narrowed to T (the low bits) and stored only on success.
template <class T>
[[nodiscard]] GevStatus readLowBits(uint8_t device, const char* name, T& out) {
    uint64_t value = 0;
    if (const GevStatus s = GEVGetFeatureInteger(device, name, &value)) {
        return s;
    }
    out = static_cast<T>(value);
    return GEV_STATUS_SUCCESS;
}

}  // namespace kavro::features::convenience
