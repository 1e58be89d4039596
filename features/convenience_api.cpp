// Exported convenience calls: exposure, gain, their automatic modes, the image window and the
// pixel format, each a fixed sequence of feature calls on the camera's standard feature names.
#include <cstdint>

#include "KavroGigEVisionLib.h"
#include "features/convenience_steps.h"

using kavro::features::convenience::probeAutoFeature;
using kavro::features::convenience::readLowBits;
using kavro::features::convenience::run;
using kavro::frame::GevDevice;

namespace {

constexpr const char* kExposureAuto = "AutoExposureControl";
constexpr const char* kExposure = "ExposureTime";
constexpr const char* kGainAuto = "AutoGainControl";
constexpr const char* kGain = "GlobalGain";

struct Controlled {
    const char* autoFeature;
    const char* valueFeature;
    GevStatus whenNoAuto;
};
constexpr Controlled kExposureControl{kExposureAuto, kExposure, GEV_STATUS_NO_EXPOSURE_CONTROL};
constexpr Controlled kGainControl{kGainAuto, kGain, GEV_STATUS_NO_GAIN_CONTROL};

// Probe, then the value feature's limits as GEVGetFeatureParameter reports them.
GevStatus limitsOf(uint8_t device, const Controlled& c, GevFeatureParameter& parameter) {
    if (const GevStatus s = probeAutoFeature(device, c.autoFeature, c.whenNoAuto)) {
        return s;
    }
    return GEVGetFeatureParameter(device, c.valueFeature, &parameter);
}

template <class T>
GevStatus getValue(uint8_t device, const Controlled& c, T* value) {
    return run(device, value != nullptr, [&](GevDevice&) -> GevStatus {
        if (const GevStatus s = probeAutoFeature(device, c.autoFeature, c.whenNoAuto)) {
            return s;
        }
        return readLowBits(device, c.valueFeature, *value);
    });
}

template <class T>
GevStatus getLimits(uint8_t device, const Controlled& c, T* min, T* max) {
    return run(device, min != nullptr && max != nullptr, [&](GevDevice&) -> GevStatus {
        GevFeatureParameter parameter{};
        if (const GevStatus s = limitsOf(device, c, parameter)) {
            return s;
        }
        *min = static_cast<T>(parameter.min);
        *max = static_cast<T>(parameter.max);
        return GEV_STATUS_SUCCESS;
    });
}

// Writes `value`, lowered to the feature's maximum when larger (compared as signed 64-bit
// numbers). The minimum is deliberately not applied: the camera decides what it does with a
// value below it.
GevStatus setClamped(uint8_t device, const Controlled& c, uint32_t value) {
    return run(device, true, [&](GevDevice&) -> GevStatus {
        GevFeatureParameter parameter{};
        if (const GevStatus s = limitsOf(device, c, parameter)) {
            return s;
        }
        int64_t written = static_cast<int64_t>(value);
        if (written > parameter.max) {
            written = parameter.max;
        }
        return GEVSetFeatureInteger(device, c.valueFeature, written);
    });
}

// Writes the automatic-mode boolean with the OnValue or OffValue its description gives.
GevStatus setAuto(uint8_t device, const Controlled& c, uint8_t on) {
    return run(device, true, [&](GevDevice&) -> GevStatus {
        if (const GevStatus s = probeAutoFeature(device, c.autoFeature, c.whenNoAuto)) {
            return s;
        }
        GevFeatureParameter parameter{};
        if (const GevStatus s = GEVGetFeatureParameter(device, c.autoFeature, &parameter)) {
            return s;
        }
        return GEVSetFeatureBoolean(device, c.autoFeature,
                                    on != 0 ? parameter.onValue : parameter.offValue);
    });
}

}  // namespace

extern "C" {

KAVRO_API GevStatus LumexGetExposureTime(uint8_t device, uint32_t* time) {
    return getValue(device, kExposureControl, time);
}

KAVRO_API GevStatus LumexGetExposureTimeMinMax(uint8_t device, uint32_t* min, uint32_t* max) {
    return getLimits(device, kExposureControl, min, max);
}

KAVRO_API GevStatus LumexSetExposureTime(uint8_t device, uint32_t time) {
    return setClamped(device, kExposureControl, time);
}

KAVRO_API GevStatus LumexSetExposureTimeAuto(uint8_t device, uint8_t on) {
    return setAuto(device, kExposureControl, on);
}

KAVRO_API GevStatus LumexGetGain(uint8_t device, uint8_t* gain) {
    return getValue(device, kGainControl, gain);
}

KAVRO_API GevStatus LumexGetGainMinMax(uint8_t device, uint8_t* min, uint8_t* max) {
    return getLimits(device, kGainControl, min, max);
}

KAVRO_API GevStatus LumexSetGain(uint8_t device, uint8_t gain) {
    return setClamped(device, kGainControl, gain);
}

KAVRO_API GevStatus LumexSetGainAuto(uint8_t device, uint8_t on) {
    return setAuto(device, kGainControl, on);
}

// Read in the order the window is written: width, height, offset x, offset y. Each value is
// stored as soon as it is read, so a later failure leaves the earlier ones filled in.
KAVRO_API GevStatus LumexGetVideoWindow(uint8_t device, uint16_t* offsetX, uint16_t* offsetY,
                                        uint16_t* width, uint16_t* height) {
    const bool valid =
        offsetX != nullptr && offsetY != nullptr && width != nullptr && height != nullptr;
    return run(device, valid, [&](GevDevice&) -> GevStatus {
        if (const GevStatus s = readLowBits(device, "Width", *width)) {
            return s;
        }
        if (const GevStatus s = readLowBits(device, "Height", *height)) {
            return s;
        }
        if (const GevStatus s = readLowBits(device, "OffsetX", *offsetX)) {
            return s;
        }
        return readLowBits(device, "OffsetY", *offsetY);
    });
}

// Size before offsets, so that a camera which checks offset + size against the sensor accepts a
// window moved towards the origin while it shrinks.
KAVRO_API GevStatus LumexSetVideoWindow(uint8_t device, uint16_t offsetX, uint16_t offsetY,
                                        uint16_t width, uint16_t height) {
    return run(device, true, [&](GevDevice&) -> GevStatus {
        if (width % 4 != 0) {
            return GEV_STATUS_WIDTH_NOT_MULTIPLE_OF_4;
        }
        if (const GevStatus s = GEVSetFeatureInteger(device, "Width", width)) {
            return s;
        }
        if (const GevStatus s = GEVSetFeatureInteger(device, "Height", height)) {
            return s;
        }
        if (const GevStatus s = GEVSetFeatureInteger(device, "OffsetX", offsetX)) {
            return s;
        }
        return GEVSetFeatureInteger(device, "OffsetY", offsetY);
    });
}

KAVRO_API GevStatus LumexGetMaxVideoWindow(uint8_t device, uint16_t* widthMax,
                                           uint16_t* heightMax) {
    return run(device, widthMax != nullptr && heightMax != nullptr, [&](GevDevice&) -> GevStatus {
        if (const GevStatus s = readLowBits(device, "WidthMax", *widthMax)) {
            return s;
        }
        return readLowBits(device, "HeightMax", *heightMax);
    });
}

KAVRO_API GevStatus LumexGetPixelFormat(uint8_t device, uint32_t* format) {
    return run(device, format != nullptr, [&](GevDevice&) -> GevStatus {
        return readLowBits(device, "PixelFormat", *format);
    });
}

}  // extern "C"
