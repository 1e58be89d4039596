// Node lookups, the post-build passes and the per-device model table.
#include "genicam/feature_model.h"

#include <algorithm>
#include <utility>

namespace kavro::genicam {

FeatureNode& FeatureModel::appendNode(std::string name, NodeKind kind, std::string elementName) {
    auto node = std::make_unique<FeatureNode>();
    node->index = static_cast<uint32_t>(nodes_.size() + 1);
    node->Name = std::move(name);
    node->kind = kind;
    node->elementName = std::move(elementName);
    nodes_.push_back(std::move(node));
    byName_.clear();
    indexed_ = false;
    return *nodes_.back();
}

// A name maps to the first node in list order that carries it as Name or, failing that node's
// Name, as Symbolic: walking in order and keeping the first claim gives exactly that node, so an
// entry whose Symbolic is "Gain" shadows a later node named "Gain" and not the other way round.
void FeatureModel::indexNodes() {
    byName_.clear();
    byName_.reserve(nodes_.size() * 2);
    for (const auto& node : nodes_) {
        byName_.try_emplace(node->Name, node.get());
        if (!node->Symbolic.empty()) {
            byName_.try_emplace(node->Symbolic, node.get());
        }
    }
    indexed_ = true;
}

FeatureNode* FeatureModel::findNode(std::string_view name) const {
    if (indexed_) {
        const auto found = byName_.find(name);
        return found == byName_.end() ? nullptr : found->second;
    }
    for (const auto& node : nodes_) {
        if (node->Name == name || (!node->Symbolic.empty() && node->Symbolic == name)) {
            return node.get();
        }
    }
    return nullptr;
}

FeatureNode* FeatureModel::nodeByIndex(uint32_t k) const {
    if (nodes_.empty() || k == 0) {
        return nullptr;
    }
    const size_t position = std::min<size_t>(k, nodes_.size());
    return nodes_[position - 1].get();
}

void checkInvalidators(const FeatureModel& model, const LogSink& log) {
    if (!log) {
        return;
    }
    for (const auto& node : model.nodes()) {
        for (const std::string& invalidator : node->pInvalidator) {
            if (model.findNode(invalidator) == nullptr) {
                const std::string line = "[ERROR] - In node " + node->Name + " invalidator " +
                                         invalidator + " not found";
                log(line.c_str());
            }
        }
    }
}

// Each feature a selector lists in pSelected moves right behind the selector, one level deeper,
// in pSelected order, also when the selector ends the list. Names that are not in the list take
// no place: counting them would put the
// next selected feature behind an unrelated entry, which navigation would then show as that
// entry's child.
// Moved entries are visited next, so a selected feature that selects others pulls them along.
// Each selector name is handled once: selectors that select each other would otherwise keep
// moving one another behind themselves for ever (a second pass over the same name would only
// put the same entries in the same places again).
void placeSelectors(FeatureModel& model) {
    model.features().placeSelected([&model](const std::string& name) {
        const FeatureNode* selector = model.findNode(name);
        return selector != nullptr ? &selector->pSelected : nullptr;
    });
}

FeatureModels& FeatureModels::instance() {
    static FeatureModels models;
    return models;
}

std::shared_ptr<FeatureModel> FeatureModels::get(uint8_t device) const {
    if (device < 1 || device > 20) {
        return nullptr;
    }
    std::lock_guard lock(lock_);
    return models_[device - 1];
}

void FeatureModels::set(uint8_t device, std::shared_ptr<FeatureModel> model) {
    if (device < 1 || device > 20) {
        return;
    }
    std::shared_ptr<FeatureModel> previous;
    {
        std::lock_guard lock(lock_);
        previous = std::exchange(models_[device - 1], std::move(model));
    }
    // `previous` is released outside the lock: its last owner may be this call.
}

void FeatureModels::release(uint8_t device) {
    set(device, nullptr);
}

}  // namespace kavro::genicam
