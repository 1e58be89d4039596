// Exported navigation of a device's feature list: roots, features, sub-features and
// sub-sub-features by 1-based positions, and the list itself.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "KavroGigEVisionLib.h"
#include "frame/api_guard.h"
#include "genicam/feature_model.h"

using kavro::frame::GevDevice;
using kavro::frame::guarded;
using kavro::frame::withOpenDevice;
using kavro::genicam::FeatureModel;
using kavro::genicam::FeatureModels;

namespace {

// Whether an entry of `level` still belongs to the run of children at `depth` (1..3) that
// starts behind their parent. Features run until the next root; sub-features while the level is
// 2 or more; sub-sub-features until a root or a sub-feature.
bool inRun(uint32_t depth, uint8_t level) {
    switch (depth) {
        case 1:
            return level != 0;
        case 2:
            return level >= 2;
        default:
            return level != 0 && level != 2;
    }
}

// The entries of the run at `depth` behind `parent` (the whole list for depth 0).
const GevFeatureEntry* runStart(const GevFeatureEntry* head, const GevFeatureEntry* parent) {
    return parent == nullptr ? head : parent->next;
}

bool continues(uint32_t depth, const GevFeatureEntry* entry) {
    return entry != nullptr && (depth == 0 || inRun(depth, entry->level));
}

// One walk for every navigation call. `positions` holds the 1-based positions the caller gave
// (root, feature, sub, subsub), all non-zero. With `count` set, the children at the next depth of
// the entry the positions name are counted (modulo 256); otherwise `found` is that entry.
// The caller holds `model` for as long as it uses `found`.
GevStatus walk(const std::shared_ptr<FeatureModel>& model, std::initializer_list<uint8_t> positions,
               uint8_t* count, const GevFeatureEntry** found) {
    const GevFeatureEntry* head = model ? model->features().head() : nullptr;
    if (head == nullptr) {
        return GEV_STATUS_FEATURE_LIST_EMPTY;
    }
    const GevFeatureEntry* parent = nullptr;
    uint32_t depth = 0;
    for (const uint8_t position : positions) {
        uint32_t seen = 0;
        const GevFeatureEntry* match = nullptr;
        for (const GevFeatureEntry* entry = runStart(head, parent); continues(depth, entry);
             entry = entry->next) {
            if (entry->level == depth && ++seen == position) {
                match = entry;
                break;
            }
        }
        if (match == nullptr) {
            return GEV_STATUS_NOT_IMPLEMENTED;  // no entry at that position
        }
        parent = match;
        ++depth;
    }
    if (count == nullptr) {
        *found = parent;
        return GEV_STATUS_SUCCESS;
    }
    uint8_t children = 0;
    for (const GevFeatureEntry* entry = runStart(head, parent); continues(depth, entry);
         entry = entry->next) {
        if (entry->level == depth) {
            ++children;  // wraps modulo 256 like the count the caller receives
        }
    }
    *count = children;
    return GEV_STATUS_SUCCESS;
}

bool anyZero(std::initializer_list<uint8_t> positions) {
    return std::find(positions.begin(), positions.end(), uint8_t{0}) != positions.end();
}

GevStatus countCall(uint8_t device, std::initializer_list<uint8_t> positions, uint8_t* count) {
    return withOpenDevice(device, [&](GevDevice&) -> GevStatus {
        if (anyZero(positions)) {
            return GEV_STATUS_NOT_IMPLEMENTED;
        }
        if (count == nullptr) {
            return GEV_STATUS_INVALID_ARGUMENT;
        }
        uint8_t result = 0;
        const GevStatus status =
            walk(FeatureModels::instance().get(device), positions, &result, nullptr);
        if (status == GEV_STATUS_SUCCESS) {
            *count = result;
        }
        return status;
    });
}

// Copies at most `length` characters of the name and a terminator behind them. A length that is
// negative as a signed 32-bit value is refused like a length of 0.
GevStatus nameCall(uint8_t device, std::initializer_list<uint8_t> positions, char* buffer,
                   int32_t length) {
    return withOpenDevice(device, [&](GevDevice&) -> GevStatus {
        if (buffer == nullptr || length <= 0 || anyZero(positions)) {
            return GEV_STATUS_NOT_IMPLEMENTED;
        }
        const std::shared_ptr<FeatureModel> model = FeatureModels::instance().get(device);
        const GevFeatureEntry* entry = nullptr;
        const GevStatus status = walk(model, positions, nullptr, &entry);
        if (status != GEV_STATUS_SUCCESS) {
            return status;
        }
        const std::string_view name = entry->name != nullptr ? entry->name : "";
        const size_t copied = std::min(static_cast<size_t>(length), name.size());
        std::memcpy(buffer, name.data(), copied);
        buffer[copied] = '\0';
        return GEV_STATUS_SUCCESS;
    });
}

int32_t asSigned(uint32_t length) {
    return static_cast<int32_t>(length);
}

}  // namespace

extern "C" {

KAVRO_API GevStatus GEVGetFeatureList(uint8_t device, GevFeatureEntry** head, uint8_t* maxDepth) {
    return guarded([&]() -> GevStatus {
        if (head == nullptr || maxDepth == nullptr) {
            return GEV_STATUS_INVALID_ARGUMENT;
        }
        const std::shared_ptr<FeatureModel> model = FeatureModels::instance().get(device);
        *head = model ? model->features().head() : nullptr;
        *maxDepth = model && *head != nullptr ? model->features().maxDepth() : 0;
        return *head == nullptr ? GEV_STATUS_FEATURE_LIST_EMPTY : GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus get_root_count(uint8_t device, uint8_t* count) {
    return countCall(device, {}, count);
}

KAVRO_API GevStatus get_root_name(uint8_t device, uint8_t root, char* buffer, int32_t length) {
    return nameCall(device, {root}, buffer, length);
}

KAVRO_API GevStatus get_feature_count(uint8_t device, uint8_t root, uint8_t* count) {
    return countCall(device, {root}, count);
}

KAVRO_API GevStatus get_feature_name(uint8_t device, uint8_t root, uint8_t feature, char* buffer,
                                     uint32_t length) {
    return nameCall(device, {root, feature}, buffer, asSigned(length));
}

KAVRO_API GevStatus get_sub_feature_count(uint8_t device, uint8_t root, uint8_t feature,
                                          uint8_t* count) {
    return countCall(device, {root, feature}, count);
}

KAVRO_API GevStatus get_sub_feature_name(uint8_t device, uint8_t root, uint8_t feature, uint8_t sub,
                                         char* buffer, uint32_t length) {
    return nameCall(device, {root, feature, sub}, buffer, asSigned(length));
}

KAVRO_API GevStatus get_subsub_feature_count(uint8_t device, uint8_t root, uint8_t feature,
                                             uint8_t sub, uint8_t* count) {
    return countCall(device, {root, feature, sub}, count);
}

KAVRO_API GevStatus get_subsub_feature_name(uint8_t device, uint8_t root, uint8_t feature,
                                            uint8_t sub, uint8_t subsub, char* buffer,
                                            uint32_t length) {
    return nameCall(device, {root, feature, sub, subsub}, buffer, asSigned(length));
}

}  // extern "C"
