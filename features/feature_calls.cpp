#include "features/feature_calls.h"

#include <algorithm>
#include <cstring>

#include "features/node_access.h"
#include "frame/log.h"

namespace kavro::features::calls {

FeatureNode* findReferenced(const FeatureModel& model, std::string_view name) {
    return name.empty() ? nullptr : model.findNode(name);
}

FeatureNode& valueHolder(const FeatureModel& model, FeatureNode& node) {
    FeatureNode* holder = findReferenced(model, node.pValue);
    return holder != nullptr ? *holder : node;
}

void copyTerminated(std::string_view text, char* buffer, int32_t size) {
    const size_t n = std::min(text.size(), static_cast<size_t>(size));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

std::string_view entryText(const FeatureNode& entry) {
    if (!entry.Symbolic.empty()) {
        return entry.Symbolic;
    }
    const std::string_view name = entry.Name;
    const size_t cut = name.rfind('_');
    return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

GevStatus entryAvailable(uint8_t device, FeatureModel& model, const FeatureNode& entry,
                         bool& available) {
    for (const std::string* flag : {&entry.pIsImplemented, &entry.pIsAvailable}) {
        if (flag->empty()) {
            continue;
        }
        uint64_t value = 0;
        if (const GevStatus s = readInteger(device, model, *flag, value)) {
            return s;
        }
        if (value == 0) {
            available = false;
            return GEV_STATUS_SUCCESS;
        }
    }
    available = true;
    return GEV_STATUS_SUCCESS;
}

GevStatus lengthOf(uint8_t device, FeatureModel& model, const FeatureNode& node, uint32_t& length) {
    if (node.pLength.empty()) {
        length = node.Length;
        return GEV_STATUS_SUCCESS;
    }
    uint64_t value = 0;
    if (const GevStatus s = readInteger(device, model, node.pLength, value)) {
        return s;
    }
    length = static_cast<uint32_t>(value);
    return GEV_STATUS_SUCCESS;
}

GevStatus addressOf(uint8_t device, FeatureModel& model, const FeatureNode& node,
                    uint32_t& address) {
    uint32_t sum = node.Address;
    for (const std::string& part : node.pAddress) {
        uint64_t value = 0;
        if (const GevStatus s = readInteger(device, model, part, value)) {
            return s;
        }
        sum += static_cast<uint32_t>(value);
    }
    address = sum;
    return GEV_STATUS_SUCCESS;
}

GevStatus reportChainCycle(frame::GevDevice& dev, const FeatureNode& node) {
    frame::gevLogf(dev, "[ERROR] - Reference cycle at node %s.", node.Name.c_str());
    return GEV_STATUS_REFERENCE_CYCLE;
}

}  // namespace kavro::features::calls
