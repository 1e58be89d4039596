// Exported string and register calls: strings kept in device memory or in the node, and raw
// register bytes by the caller's length.
#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "features/feature_calls.h"
#include "features/node_registers.h"
#include "features/node_rules.h"
#include "frame/log.h"

using kavro::features::calls::addressOf;
using kavro::features::calls::FeatureModel;
using kavro::features::calls::FeatureNode;
using kavro::features::calls::lengthOf;
using kavro::features::calls::valueHolder;
using kavro::features::calls::withFeatureModel;
using kavro::frame::GevDevice;
namespace genicam = kavro::genicam;

namespace {

// Address and length of a string kept in device memory. The length comes from the description
// or the device and sizes both the caller's buffer and our own, so it is bounded.
GevStatus deviceString(GevDevice& dev, FeatureModel& model, const FeatureNode& holder,
                       uint32_t& address, uint32_t& length) {
    if (const GevStatus s = lengthOf(dev.deviceIndex, model, holder, length)) {
        return s;
    }
    if (length > GEV_MAX_FEATURE_STRING_LENGTH) {
        kavro::frame::gevLogf(dev, "[ERROR] - String length %u of node %s not supported.", length,
                              holder.Name.c_str());
        return GEV_STATUS_NOT_SUPPORTED;
    }
    // pAddress counts here as for every other register node: without it a string register
    // placed by a selector would be read at its base address.
    return addressOf(dev.deviceIndex, model, holder, address);
}

// The node a register call transfers, its address, and whether the transfer is allowed.
GevStatus registerTarget(GevDevice& dev, FeatureModel& model, const char* name, bool writing,
                         uint32_t& address, bool& transfer, const FeatureNode*& target) {
    FeatureNode* named = model.findNode(name);
    if (named == nullptr) {
        return GEV_STATUS_FEATURE_NOT_FOUND;
    }
    const FeatureNode& holder = valueHolder(model, *named);
    const uint16_t access = kavro::features::detail::effectiveAccess(*named, holder);
    if (const GevStatus s = addressOf(dev.deviceIndex, model, holder, address)) {
        return s;
    }
    const uint16_t refused = writing ? genicam::kAccessRO : genicam::kAccessWO;
    transfer = kavro::features::detail::isPortNode(holder) && access != refused;
    target = &holder;
    return GEV_STATUS_SUCCESS;
}

}  // namespace

extern "C" {

KAVRO_API GevStatus GEVGetFeatureString(uint8_t device, const char* name, char* buffer) {
    const bool valid = name != nullptr && buffer != nullptr;
    return withFeatureModel(device, valid, [&](GevDevice& dev, FeatureModel& model) -> GevStatus {
        FeatureNode* named = model.findNode(name);
        if (named == nullptr) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
        const FeatureNode& holder = valueHolder(model, *named);
        if (kavro::features::detail::isPortNode(holder)) {
            uint32_t address = 0;
            uint32_t length = 0;
            if (const GevStatus s = deviceString(dev, model, holder, address, length)) {
                return s;
            }
            if (length == 0) {
                return GEV_STATUS_SUCCESS;
            }
            std::vector<uint8_t> bytes(length);
            if (const GevStatus s =
                    kavro::features::detail::fetchPortBytes(dev, model, holder, address, bytes)) {
                return s;
            }
            std::memcpy(buffer, bytes.data(), length);  // exactly the register, no terminator
            return GEV_STATUS_SUCCESS;
        }
        const std::vector<char>& text = holder.StringValue;
        const size_t used = text.empty() ? 0 : strnlen(text.data(), text.size());
        if (used > 0) {
            std::memcpy(buffer, text.data(), used);
        }
        buffer[used] = '\0';
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVSetFeatureString(uint8_t device, const char* name, const char* text) {
    const bool valid = name != nullptr && text != nullptr;
    return withFeatureModel(device, valid, [&](GevDevice& dev, FeatureModel& model) -> GevStatus {
        FeatureNode* named = model.findNode(name);
        if (named == nullptr) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
        FeatureNode& holder = valueHolder(model, *named);
        const std::string_view value(text);
        if (kavro::features::detail::isPortNode(holder)) {
            uint32_t address = 0;
            uint32_t length = 0;
            if (const GevStatus s = deviceString(dev, model, holder, address, length)) {
                return s;
            }
            if (length == 0) {
                return GEV_STATUS_SUCCESS;
            }
            std::vector<uint8_t> bytes(length, 0);
            std::memcpy(bytes.data(), value.data(), std::min<size_t>(value.size(), length));
            return kavro::features::detail::storePortBytes(dev, model, holder, address, bytes);
        }
        holder.StringValue.assign(value.begin(), value.end());
        holder.StringValue.push_back('\0');
        holder.Length = static_cast<uint32_t>(value.size());
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetFeatureRegister(uint8_t device, const char* name, uint32_t length,
                                          void* data) {
    const bool valid = name != nullptr && (data != nullptr || length == 0) &&
                       length <= GEV_MAX_FEATURE_REGISTER_LENGTH;
    return withFeatureModel(device, valid, [&](GevDevice& dev, FeatureModel& model) -> GevStatus {
        uint32_t address = 0;
        bool transfer = false;
        const FeatureNode* holder = nullptr;
        if (const GevStatus s =
                registerTarget(dev, model, name, false, address, transfer, holder)) {
            return s;
        }
        if (!transfer) {
            return GEV_STATUS_SUCCESS;
        }
        return kavro::features::detail::fetchPortBytes(
            dev, model, *holder, address, std::span(static_cast<uint8_t*>(data), length));
    });
}

KAVRO_API GevStatus GEVSetFeatureRegister(uint8_t device, const char* name, uint32_t length,
                                          const void* data) {
    const bool valid = name != nullptr && (data != nullptr || length == 0) &&
                       length <= GEV_MAX_FEATURE_REGISTER_LENGTH;
    return withFeatureModel(device, valid, [&](GevDevice& dev, FeatureModel& model) -> GevStatus {
        uint32_t address = 0;
        bool transfer = false;
        const FeatureNode* holder = nullptr;
        if (const GevStatus s = registerTarget(dev, model, name, true, address, transfer, holder)) {
            return s;
        }
        if (!transfer) {
            return GEV_STATUS_SUCCESS;
        }
        return kavro::features::detail::storePortBytes(
            dev, model, *holder, address, std::span(static_cast<const uint8_t*>(data), length));
    });
}

}  // extern "C"
