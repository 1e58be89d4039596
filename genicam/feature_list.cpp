// The feature list: entries in the application layout, numbered 1..count in list order.
#include <algorithm>

#include "genicam/feature_model.h"

namespace kavro::genicam {

GevFeatureEntry* FeatureList::head() const {
    return slots_.empty() ? nullptr : const_cast<GevFeatureEntry*>(&slots_.front().entry);
}

uint32_t FeatureList::count() const {
    return static_cast<uint32_t>(slots_.size());
}

void FeatureList::raiseMaxDepth(uint8_t level) {
    maxDepth_ = std::max(maxDepth_, level);
}

// Iterator to the entry at 0-based `position` (end() when position == count), walking from the
// nearer end of the list.
std::list<FeatureList::Slot>::iterator FeatureList::at(uint32_t position) {
    const uint32_t size = count();
    if (position >= size) {
        return slots_.end();
    }
    if (position <= size / 2) {
        return std::next(slots_.begin(), position);
    }
    return std::prev(slots_.end(), size - position);
}

void FeatureList::relinkFrom(std::list<Slot>::iterator from, uint32_t index) {
    for (auto it = from; it != slots_.end(); ++it) {
        it->entry.index = index++;
        it->entry.name = it->name.c_str();
        const auto following = std::next(it);
        it->entry.next = following == slots_.end() ? nullptr : &following->entry;
    }
}

// The new entry goes behind the last entry whose index is <= k and everything behind it moves
// up by one, so the list stays numbered 1..count without gaps. An index beyond the end appends
// (numbered count + 1, not k); k = 0 makes the new entry the head.
GevFeatureEntry* FeatureList::insert(uint32_t k, std::string_view name, bool isLeaf,
                                     uint8_t level) {
    const uint32_t before = std::min(k, count());
    const auto position = at(before);
    auto created = slots_.emplace(position);
    created->name.assign(name.data(), name.size());
    created->entry.isLeaf = isLeaf ? 1 : 0;
    created->entry.level = level;
    if (created == slots_.begin()) {
        relinkFrom(created, 1);
    } else {
        relinkFrom(std::prev(created), before);
    }
    return &created->entry;
}

void FeatureList::remove(uint32_t k) {
    if (k == 0 || k > count()) {
        return;
    }
    const auto victim = at(k - 1);
    const auto following = slots_.erase(victim);
    if (following == slots_.begin()) {
        relinkFrom(following, 1);
    } else {
        relinkFrom(std::prev(following), k - 1);
    }
}

GevFeatureEntry* FeatureList::find(std::string_view name) const {
    for (const Slot& slot : slots_) {
        if (slot.name == name) {
            return const_cast<GevFeatureEntry*>(&slot.entry);
        }
    }
    return nullptr;
}

}  // namespace kavro::genicam
