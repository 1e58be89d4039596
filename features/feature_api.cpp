// Exported value calls: integers, floats, booleans and commands read and written by feature name
// through the node evaluator.
#include "KavroGigEVisionLib.h"
#include "features/feature_calls.h"
#include "features/node_access.h"

using kavro::features::readFloat;
using kavro::features::readInteger;
using kavro::features::writeFloat;
using kavro::features::writeInteger;
using kavro::features::calls::FeatureModel;
using kavro::features::calls::withFeatureModel;
using kavro::frame::GevDevice;

namespace {

// Booleans and commands: the low 32 bits of the integer value, with no OnValue/OffValue mapping.
GevStatus readLowWord(uint8_t device, const char* name, uint32_t* value) {
    return withFeatureModel(device, name != nullptr && value != nullptr,
                            [&](GevDevice&, FeatureModel& model) -> GevStatus {
                                uint64_t read = 0;
                                if (const GevStatus s = readInteger(device, model, name, read)) {
                                    return s;
                                }
                                *value = static_cast<uint32_t>(read);
                                return GEV_STATUS_SUCCESS;
                            });
}

GevStatus writeZeroExtended(uint8_t device, const char* name, uint32_t value) {
    return withFeatureModel(device, name != nullptr, [&](GevDevice&, FeatureModel& model) {
        return writeInteger(device, model, name, static_cast<int64_t>(value));
    });
}

}  // namespace

extern "C" {

KAVRO_API GevStatus GEVGetFeatureInteger(uint8_t device, const char* name, uint64_t* value) {
    return withFeatureModel(device, name != nullptr && value != nullptr,
                            [&](GevDevice&, FeatureModel& model) -> GevStatus {
                                uint64_t read = 0;
                                if (const GevStatus s = readInteger(device, model, name, read)) {
                                    return s;
                                }
                                *value = read;
                                return GEV_STATUS_SUCCESS;
                            });
}

KAVRO_API GevStatus GEVGetFeatureFloat(uint8_t device, const char* name, double* value) {
    return withFeatureModel(device, name != nullptr && value != nullptr,
                            [&](GevDevice&, FeatureModel& model) -> GevStatus {
                                double read = 0.0;
                                if (const GevStatus s = readFloat(device, model, name, read)) {
                                    return s;
                                }
                                *value = read;
                                return GEV_STATUS_SUCCESS;
                            });
}

KAVRO_API GevStatus GEVGetFeatureBoolean(uint8_t device, const char* name, uint32_t* value) {
    return readLowWord(device, name, value);
}

KAVRO_API GevStatus GEVGetFeatureCommand(uint8_t device, const char* name, uint32_t* value) {
    return readLowWord(device, name, value);
}

KAVRO_API GevStatus GEVSetFeatureInteger(uint8_t device, const char* name, int64_t value) {
    return withFeatureModel(device, name != nullptr, [&](GevDevice&, FeatureModel& model) {
        return writeInteger(device, model, name, value);
    });
}

KAVRO_API GevStatus GEVSetFeatureFloat(uint8_t device, const char* name, double value) {
    return withFeatureModel(device, name != nullptr, [&](GevDevice&, FeatureModel& model) {
        return writeFloat(device, model, name, value);
    });
}

KAVRO_API GevStatus GEVSetFeatureBoolean(uint8_t device, const char* name, uint32_t value) {
    return writeZeroExtended(device, name, value);
}

KAVRO_API GevStatus GEVSetFeatureCommand(uint8_t device, const char* name, uint32_t value) {
    return writeZeroExtended(device, name, value);
}

}  // extern "C"
