// Exported enumeration calls: the entry text of the current value, the available entries by
// position, and selecting an entry by its text or full name.
#include <cstring>
#include <string>
#include <string_view>

#include "KavroGigEVisionLib.h"
#include "features/feature_calls.h"
#include "features/node_access.h"
#include "frame/log.h"

using kavro::features::readInteger;
using kavro::features::writeInteger;
using kavro::features::calls::copyTerminated;
using kavro::features::calls::entryAvailable;
using kavro::features::calls::entryText;
using kavro::features::calls::FeatureModel;
using kavro::features::calls::FeatureNode;
using kavro::features::calls::findReferenced;
using kavro::features::calls::withFeatureModel;
using kavro::frame::GevDevice;

namespace {

constexpr std::string_view kEntryPrefix = "EnumEntry_";

// The first existing entry of `enumeration` whose Value is `value`.
const FeatureNode* entryOfValue(const FeatureModel& model, const FeatureNode& enumeration,
                                uint64_t value) {
    for (const std::string& name : enumeration.pEnumEntry) {
        const FeatureNode* entry = findReferenced(model, name);
        if (entry != nullptr && static_cast<uint64_t>(entry->Value) == value) {
            return entry;
        }
    }
    return nullptr;
}

// The entry an application names: by its full entry name; a short text also by the text the
// entry reports, so that every text GEVGetFeatureEnumeration hands out can be set again (an
// entry whose Symbolic differs from its name is otherwise unreachable).
const FeatureNode* entryNamed(const FeatureModel& model, const FeatureNode& enumeration,
                              std::string_view text) {
    const bool fullName = text.substr(0, kEntryPrefix.size()) == kEntryPrefix;
    const std::string wanted =
        fullName ? std::string(text)
                 : std::string(kEntryPrefix) + enumeration.Name + "_" + std::string(text);
    for (const std::string& name : enumeration.pEnumEntry) {
        const FeatureNode* entry = findReferenced(model, name);
        if (entry != nullptr && entry->Name == wanted) {
            return entry;
        }
    }
    if (fullName) {
        return nullptr;
    }
    for (const std::string& name : enumeration.pEnumEntry) {
        const FeatureNode* entry = findReferenced(model, name);
        if (entry != nullptr && entryText(*entry) == text) {
            return entry;
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

KAVRO_API GevStatus GEVGetFeatureEnumeration(uint8_t device, const char* name, char* buffer,
                                             int32_t size) {
    const bool valid = name != nullptr && buffer != nullptr && size >= 0;
    return withFeatureModel(device, valid, [&](GevDevice& dev, FeatureModel& model) -> GevStatus {
        uint64_t value = 0;
        if (const GevStatus s = readInteger(device, model, name, value)) {
            return s;
        }
        const FeatureNode* node = model.findNode(name);
        if (node == nullptr) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
        const FeatureNode* entry = entryOfValue(model, *node, value);
        if (entry == nullptr) {
            buffer[0] = '\0';
            entry = entryOfValue(model, *node, 0);
        }
        if (entry == nullptr) {
            kavro::frame::gevLogf(dev,
                                  "[ERROR] - Enumeration value 0x%llx not found in enumeration "
                                  "entries.",
                                  static_cast<unsigned long long>(value));
            return GEV_STATUS_FEATURE_TEXT_MISSING;
        }
        copyTerminated(entryText(*entry), buffer, size);
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetFeatureEnumerationName(uint8_t device, const char* name, uint8_t position,
                                                 char* buffer, int32_t size) {
    const bool valid = name != nullptr && buffer != nullptr && size >= 0;
    return withFeatureModel(device, valid, [&](GevDevice&, FeatureModel& model) -> GevStatus {
        const FeatureNode* node = model.findNode(name);
        if (node == nullptr) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
        uint32_t seen = 0;
        for (const std::string& entryName : node->pEnumEntry) {
            const FeatureNode* entry = findReferenced(model, entryName);
            if (entry == nullptr) {
                continue;
            }
            bool available = false;
            if (const GevStatus s = entryAvailable(device, model, *entry, available)) {
                return s;
            }
            if (!available) {
                continue;
            }
            if (seen++ == position) {
                copyTerminated(entryText(*entry), buffer, size);
                return GEV_STATUS_SUCCESS;
            }
        }
        return GEV_STATUS_SUCCESS;  // not that many available entries: buffer untouched
    });
}

KAVRO_API GevStatus GEVSetFeatureEnumeration(uint8_t device, const char* name, const char* entry) {
    const bool valid = name != nullptr && entry != nullptr;
    return withFeatureModel(device, valid, [&](GevDevice&, FeatureModel& model) -> GevStatus {
        uint64_t current = 0;
        if (const GevStatus s = readInteger(device, model, name, current)) {
            return s;
        }
        const FeatureNode* node = model.findNode(name);
        if (node == nullptr) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
        const FeatureNode* selected = entryNamed(model, *node, entry);
        if (selected == nullptr) {
            return GEV_STATUS_FEATURE_TEXT_MISSING;
        }
        return writeInteger(device, model, name, selected->Value);
    });
}

}  // extern "C"
