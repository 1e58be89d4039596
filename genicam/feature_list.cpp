// The feature list: entries in the application layout, numbered 1..count in list order.
#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

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

void FeatureList::placeSelected(
    const std::function<const std::vector<std::string>*(const std::string&)>& selectedOf) {
    using Position = std::list<Slot>::iterator;
    // Slot names never move in memory, so views of them key the maps. A name listed more than
    // once (categories may share members) is looked up by walking the list.
    std::unordered_map<std::string_view, Position> byName;
    std::unordered_set<std::string_view> listedTwice;
    byName.reserve(slots_.size());
    for (auto it = slots_.begin(); it != slots_.end(); ++it) {
        if (!byName.try_emplace(it->name, it).second) {
            listedTwice.insert(it->name);
        }
    }
    // The entry of that name nearest the head, as the list stands now.
    const auto firstOf = [&](const std::string& name) -> Position {
        const auto found = byName.find(name);
        if (found == byName.end()) {
            return slots_.end();
        }
        if (listedTwice.count(name) == 0) {
            return found->second;
        }
        for (auto it = slots_.begin(); it != slots_.end(); ++it) {
            if (it->name == name) {
                return it;
            }
        }
        return slots_.end();
    };
    std::unordered_set<std::string_view> handled;
    for (auto current = slots_.begin(); current != slots_.end(); ++current) {
        const std::vector<std::string>* selected = selectedOf(current->name);
        if (selected == nullptr || selected->empty() ||
            !handled.insert(std::string_view(current->name)).second) {
            continue;
        }
        const uint8_t level = current->entry.level == UINT8_MAX
                                  ? current->entry.level
                                  : static_cast<uint8_t>(current->entry.level + 1);
        auto behind = std::next(current);  // where the next selected feature goes
        for (const std::string& name : *selected) {
            const Position moving = firstOf(name);
            // A selector that lists itself stays where it is.
            if (moving == slots_.end() || moving == current) {
                continue;
            }
            if (moving != behind) {
                slots_.splice(behind, slots_, moving);
            }
            moving->entry.level = level;
            behind = std::next(moving);
            raiseMaxDepth(level);
        }
    }
    relinkFrom(slots_.begin(), 1);
}

}  // namespace kavro::genicam
