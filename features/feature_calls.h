// What the exported feature calls share: the device's model held and locked for one call, the
// cutting rules of their text results, enumeration entry texts and availability, and the walk
// along a node's pValue chain.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "KavroGigEVisionLib.h"
#include "frame/api_guard.h"
#include "frame/device.h"
#include "genicam/feature_model.h"
#include "genicam/feature_node.h"

namespace kavro::features::calls {

using genicam::FeatureModel;
using genicam::FeatureNode;

// One exported feature call on an open device: the index rule, the guard, and the device's
// model held (a rebuild or close never frees it under the call) and its evaluation lock taken
// (the calls read and change node fields). Without a model the call returns `whenNoModel`.
template <class Body>
GevStatus withFeatureModel(uint8_t device, bool argumentsValid, Body&& body,
                           GevStatus whenNoModel = GEV_STATUS_FEATURE_NOT_FOUND) noexcept {
    return frame::withOpenDevice(device, [&](frame::GevDevice& dev) -> GevStatus {
        if (!argumentsValid) {
            return GEV_STATUS_INVALID_ARGUMENT;
        }
        const std::shared_ptr<FeatureModel> model = genicam::FeatureModels::instance().get(device);
        if (!model) {
            return whenNoModel;
        }
        std::lock_guard lock(model->evaluationLock());
        return body(dev, *model);
    });
}

// The node `name` refers to; null for an empty name or none.
[[nodiscard]] FeatureNode* findReferenced(const FeatureModel& model, std::string_view name);

// The node whose value a string or register feature uses: the node its pValue names when that
// exists, else the node itself.
[[nodiscard]] FeatureNode& valueHolder(const FeatureModel& model, FeatureNode& node);

// Copies min(length, size) characters of `text` and a terminator behind them (buffer of
// size + 1 bytes). `size` must not be negative.
void copyTerminated(std::string_view text, char* buffer, int32_t size);

// The text an enumeration entry stands for: its Symbolic, else its name after the last "_", or
// the whole name when it has none.
[[nodiscard]] std::string_view entryText(const FeatureNode& entry);

// Whether an enumeration entry may be offered: each of pIsImplemented and pIsAvailable it
// names reads non-zero. A failed flag read is returned.
[[nodiscard]] GevStatus entryAvailable(uint8_t device, FeatureModel& model,
                                       const FeatureNode& entry, bool& available);

// Low 32 bits of the integer value of `node`'s pLength when given, else Length.
[[nodiscard]] GevStatus lengthOf(uint8_t device, FeatureModel& model, const FeatureNode& node,
                                 uint32_t& length);
// Address plus the low 32 bits of every pAddress value (wrapping).
[[nodiscard]] GevStatus addressOf(uint8_t device, FeatureModel& model, const FeatureNode& node,
                                  uint32_t& address);

// Walks from `start` along pValue: `found` is the first node of the chain (start included) for
// which `accepts` holds; without one `found` is null and `last` the node the chain ends at (a
// node without pValue, or whose pValue names no node). A chain that comes back to a node it has
// passed ends with GEV_STATUS_REFERENCE_CYCLE and a log line.
struct ChainEnd {
    FeatureNode* found = nullptr;
    FeatureNode* last = nullptr;
};
template <class Accepts>
[[nodiscard]] GevStatus walkValueChain(frame::GevDevice& dev, const FeatureModel& model,
                                       FeatureNode& start, Accepts&& accepts, ChainEnd& end);

// --- implementation of the template ---

[[nodiscard]] GevStatus reportChainCycle(frame::GevDevice& dev, const FeatureNode& node);
inline constexpr size_t kMaxValueChain = 64;

template <class Accepts>
GevStatus walkValueChain(frame::GevDevice& dev, const FeatureModel& model, FeatureNode& start,
                         Accepts&& accepts, ChainEnd& end) {
    const FeatureNode* passed[kMaxValueChain] = {};
    size_t count = 0;
    FeatureNode* node = &start;
    for (;;) {
        if (accepts(*node)) {
            end = ChainEnd{node, node};
            return GEV_STATUS_SUCCESS;
        }
        FeatureNode* next = findReferenced(model, node->pValue);
        if (next == nullptr) {
            end = ChainEnd{nullptr, node};
            return GEV_STATUS_SUCCESS;
        }
        if (count == kMaxValueChain) {
            return reportChainCycle(dev, *next);
        }
        passed[count++] = node;
        for (size_t i = 0; i < count; ++i) {
            if (passed[i] == next) {
                return reportChainCycle(dev, *next);
            }
        }
        node = next;
    }
}

}  // namespace kavro::features::calls
