#include "filterengine/packet_placements.h"

#include <algorithm>
#include <cstring>

namespace kavro::filterengine {

PacketPlacements::PacketPlacements(size_t entries, const gvsp::PacketIndex& index)
    : index_(index), placements_(entries) {
    for (Placement& p : placements_)
        p.pieces.resize(size_t{index.packets()} + 1);
}

void PacketPlacements::place(const gvsp::RingEntry& entry, uint32_t p,
                             std::span<const uint8_t> data, uint64_t block) {
    if (entry.index >= placements_.size() || p == 0 || p > index_.packets())
        return;
    Placement& placement = placements_[entry.index];
    if (placement.uses != entry.uses) {
        // The entry was taken for a new block: what it held before is gone.
        std::fill(placement.pieces.begin(), placement.pieces.end(), Piece{});
        placement.uses = entry.uses;
        placement.firstBlock = kNoBlock;
    }
    placement.pieces[p] = {data.data(), static_cast<uint32_t>(data.size())};
    placement.firstBlock = std::min(placement.firstBlock, block);
}

uint64_t PacketPlacements::oldestNeeded(gvsp::ImageRing& ring, uint64_t end) const {
    uint64_t oldest = end;
    for (size_t i = 0; i < placements_.size(); ++i) {
        const Placement& placement = placements_[i];
        const gvsp::RingEntry* entry = ring.entry(i);
        if (placement.firstBlock == kNoBlock || entry == nullptr || placement.uses != entry->uses ||
            !ring.inUse(i)) {
            continue;
        }
        oldest = std::min(oldest, placement.firstBlock);
    }
    return oldest;
}

void PacketPlacements::gather(const gvsp::RingEntry& entry, uint8_t* dest, size_t size) const {
    const Placement* placement =
        entry.index < placements_.size() && placements_[entry.index].uses == entry.uses
            ? &placements_[entry.index]
            : nullptr;
    for (uint32_t p = 1; p <= index_.packets(); ++p) {
        const size_t offset = index_.offset(p);
        if (offset >= size)
            return;
        const size_t length = std::min<size_t>(index_.length(p), size - offset);
        const Piece piece = placement != nullptr ? placement->pieces[p] : Piece{};
        const size_t n = std::min<size_t>(piece.size, length);
        if (n != 0)
            std::memcpy(dest + offset, piece.data, n);
        if (n < length)
            std::memset(dest + offset + n, 0, length - n);
    }
}

}  // namespace kavro::filterengine
