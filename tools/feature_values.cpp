#include "feature_values.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "command_line.h"

namespace gevtool {

const char* featureKindName(uint8_t kind) {
    switch (kind) {
        case GEV_FEATURE_CATEGORY:
            return "category";
        case GEV_FEATURE_INTEGER:
            return "integer";
        case GEV_FEATURE_FLOAT:
            return "float";
        case GEV_FEATURE_STRING:
            return "string";
        case GEV_FEATURE_ENUMERATION:
            return "enumeration";
        case GEV_FEATURE_COMMAND:
            return "command";
        case GEV_FEATURE_BOOLEAN:
            return "boolean";
        case GEV_FEATURE_REGISTER:
            return "register";
        case GEV_FEATURE_PORT:
            return "port";
        default:
            return "other";
    }
}

const char* accessName(uint16_t access) {
    switch (access) {
        case GEV_ACCESS_RO:
            return "RO";
        case GEV_ACCESS_RW:
            return "RW";
        case GEV_ACCESS_WO:
            return "WO";
        default:
            return "--";
    }
}

GevStatus readFeatureText(uint8_t device, const char* name, const GevFeatureParameter& parameter,
                          std::string& text) {
    text.clear();
    switch (parameter.kind) {
        case GEV_FEATURE_INTEGER: {
            uint64_t value = 0;
            const GevStatus s = GEVGetFeatureInteger(device, name, &value);
            text = std::to_string(static_cast<int64_t>(value));
            return s;
        }
        case GEV_FEATURE_FLOAT: {
            double value = 0;
            const GevStatus s = GEVGetFeatureFloat(device, name, &value);
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%g", value);
            text = buffer;
            return s;
        }
        case GEV_FEATURE_BOOLEAN: {
            uint32_t value = 0;
            const GevStatus s = GEVGetFeatureBoolean(device, name, &value);
            text = value == parameter.onValue ? "true" : "false";
            return s;
        }
        case GEV_FEATURE_ENUMERATION: {
            char buffer[257] = {};
            const GevStatus s = GEVGetFeatureEnumeration(device, name, buffer, 256);
            text = buffer;
            return s;
        }
        case GEV_FEATURE_STRING: {
            const uint32_t length =
                std::min<uint32_t>(parameter.length, GEV_MAX_FEATURE_STRING_LENGTH);
            std::vector<char> buffer(std::max<uint32_t>(length, 4096) + 1, '\0');
            const GevStatus s = GEVGetFeatureString(device, name, buffer.data());
            buffer.back() = '\0';
            text = buffer.data();
            return s;
        }
        case GEV_FEATURE_REGISTER: {
            const uint32_t length = std::min<uint32_t>(parameter.length, 64);
            std::vector<uint8_t> bytes(length);
            const GevStatus s = GEVGetFeatureRegister(device, name, length, bytes.data());
            for (const uint8_t b : bytes) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%02X", b);
                text += hex;
            }
            if (parameter.length > length)
                text += "...";
            return s;
        }
        default:
            return GEV_STATUS_SUCCESS;
    }
}

GevStatus writeFeatureText(uint8_t device, const char* name, const GevFeatureParameter& parameter,
                           const std::string& text) {
    switch (parameter.kind) {
        case GEV_FEATURE_INTEGER: {
            const auto value = parseSigned(text);
            return value ? GEVSetFeatureInteger(device, name, *value)
                         : GevStatus{GEV_STATUS_INVALID_ARGUMENT};
        }
        case GEV_FEATURE_FLOAT: {
            const auto value = parseDouble(text);
            return value ? GEVSetFeatureFloat(device, name, *value)
                         : GevStatus{GEV_STATUS_INVALID_ARGUMENT};
        }
        case GEV_FEATURE_BOOLEAN: {
            if (text == "true" || text == "1" || text == "on")
                return GEVSetFeatureBoolean(device, name, parameter.onValue);
            if (text == "false" || text == "0" || text == "off")
                return GEVSetFeatureBoolean(device, name, parameter.offValue);
            return GEV_STATUS_INVALID_ARGUMENT;
        }
        case GEV_FEATURE_ENUMERATION:
            return GEVSetFeatureEnumeration(device, name, text.c_str());
        case GEV_FEATURE_STRING:
            return GEVSetFeatureString(device, name, text.c_str());
        case GEV_FEATURE_COMMAND:
            if (!text.empty() && text != "execute")
                return GEV_STATUS_INVALID_ARGUMENT;
            return GEVSetFeatureCommand(device, name, parameter.commandValue);
        default:
            return GEV_STATUS_NOT_SUPPORTED;
    }
}

}  // namespace gevtool
