// Exported description calls: display name, tool tip and unit texts, invalidators, and whether a
// feature can be changed now.
#include <cstring>
#include <string>

#include "KavroGigEVisionLib.h"
#include "features/feature_calls.h"
#include "features/node_access.h"
#include "features/node_rules.h"

using kavro::features::readInteger;
using kavro::features::calls::copyTerminated;
using kavro::features::calls::FeatureModel;
using kavro::features::calls::FeatureNode;
using kavro::features::calls::withFeatureModel;
using kavro::frame::GevDevice;
namespace genicam = kavro::genicam;

namespace {

// A text property of the named node: cut to exactly `size` bytes without a terminator when
// longer, else copied whole with its terminator.
GevStatus copyAttribute(uint8_t device, const char* name, char* buffer, int32_t size,
                        std::string FeatureNode::*attribute) {
    const bool valid = name != nullptr && buffer != nullptr && size >= 0;
    return withFeatureModel(device, valid, [&](GevDevice&, FeatureModel& model) -> GevStatus {
        const FeatureNode* node = model.findNode(name);
        if (node == nullptr) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
        const std::string& text = node->*attribute;
        if (text.empty()) {
            return GEV_STATUS_FEATURE_TEXT_MISSING;
        }
        if (static_cast<size_t>(size) < text.size()) {
            std::memcpy(buffer, text.data(), static_cast<size_t>(size));
        } else {
            std::memcpy(buffer, text.c_str(), text.size() + 1);
        }
        return GEV_STATUS_SUCCESS;
    });
}

// A flag node's integer value; absent flags give `absent`.
GevStatus flagValue(uint8_t device, FeatureModel& model, const std::string& flag, uint64_t absent,
                    uint64_t& value) {
    if (flag.empty()) {
        value = absent;
        return GEV_STATUS_SUCCESS;
    }
    return readInteger(device, model, flag, value);
}

// The access mode that decides whether a feature is enabled: the named node's imposed mode
// against its data holder's own; neither given: read-only for a holder with pValue (a computed
// value), else read-write.
uint16_t enableAccess(const FeatureNode& named, const FeatureNode& holder) {
    const uint16_t imposed = named.ImposedAccessMode;
    const uint16_t own = holder.AccessMode;
    if (imposed == 0) {
        if (own != 0) {
            return own;
        }
        return holder.pValue.empty() ? genicam::kAccessRW : genicam::kAccessRO;
    }
    if (imposed == own || own == genicam::kAccessRO) {
        return own;
    }
    return imposed;
}

}  // namespace

extern "C" {

KAVRO_API GevStatus GEVGetFeatureDisplayName(uint8_t device, const char* name, char* buffer,
                                             int32_t size) {
    return copyAttribute(device, name, buffer, size, &FeatureNode::DisplayName);
}

KAVRO_API GevStatus GEVGetFeatureTooltip(uint8_t device, const char* name, char* buffer,
                                         int32_t size) {
    return copyAttribute(device, name, buffer, size, &FeatureNode::ToolTip);
}

KAVRO_API GevStatus GEVGetFeatureUnit(uint8_t device, const char* name, char* buffer,
                                      int32_t size) {
    return copyAttribute(device, name, buffer, size, &FeatureNode::Unit);
}

KAVRO_API GevStatus GEVGetFeatureInvalidator(uint8_t device, const char* name, uint8_t position,
                                             char* buffer, int32_t size) {
    const bool valid = name != nullptr && buffer != nullptr && size >= 0;
    return withFeatureModel(device, valid, [&](GevDevice&, FeatureModel& model) -> GevStatus {
        FeatureNode* named = model.findNode(name);
        if (named == nullptr) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
        const FeatureNode& holder = kavro::features::detail::resolveForRawRead(model, *named);
        if (holder.pInvalidator.empty()) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
        if (position < holder.pInvalidator.size()) {
            copyTerminated(holder.pInvalidator[position], buffer, size);
        }
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetFeatureEnableStatus(uint8_t device, const char* name, uint8_t* enabled) {
    const bool valid = name != nullptr && enabled != nullptr;
    return withFeatureModel(
        device, valid,
        [&](GevDevice&, FeatureModel& model) -> GevStatus {
            FeatureNode* named = model.findNode(name);
            if (named == nullptr) {
                return GEV_STATUS_SUCCESS;  // output untouched
            }
            if (named->kind == genicam::NodeKind::Category) {
                *enabled = 1;
                return GEV_STATUS_SUCCESS;
            }
            uint64_t available = 0;
            if (const GevStatus s = flagValue(device, model, named->pIsAvailable, 1, available)) {
                return s;
            }
            if (available == UINT64_MAX) {
                available = 0;
            }
            uint64_t locked = 0;
            if (const GevStatus s = flagValue(device, model, named->pIsLocked, 0, locked)) {
                return s;
            }
            const FeatureNode& holder = kavro::features::detail::resolveForRawRead(model, *named);
            const uint16_t access = enableAccess(*named, holder);
            *enabled =
                (locked & 0xFF) == 0 && (available & 0xFF) != 0 && access != genicam::kAccessRO ? 1
                                                                                                : 0;
            return GEV_STATUS_SUCCESS;
        },
        GEV_STATUS_SUCCESS);
}

}  // extern "C"
