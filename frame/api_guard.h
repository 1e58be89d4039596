// Every exported call runs its body through guarded(): no exception crosses the C interface.
#pragma once

#include <new>

#include "KavroGigEVisionLib.h"
#include "frame/device_table.h"

namespace kavro::frame {

template <class Body>
GevStatus guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return GEV_STATUS_OUT_OF_MEMORY;
    } catch (...) {
        return GEV_STATUS_INTERNAL_ERROR;
    }
}

// The index rule plus the guard: `body(GevDevice&)` runs only for an open index.
template <class Body>
GevStatus withOpenDevice(uint8_t device, Body&& body) noexcept {
    return guarded([&]() -> GevStatus {
        GevDevice* dev = openDevice(device);
        if (dev == nullptr)
            return GEV_STATUS_DEVICE_NOT_OPEN;
        return body(*dev);
    });
}

}  // namespace kavro::frame
