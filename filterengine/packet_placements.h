// Where the payload packets of the images being put together and waiting to be read lie in the
// packet ring. The engine copies nothing while it receives: an image is copied out of the ring
// once, when it is read, and the ring blocks its packets lie in stay with the engine until then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "gvsp/image_ring.h"

namespace kavro::filterengine {

class PacketPlacements {
  public:
    static constexpr uint64_t kNoBlock = ~uint64_t{0};

    PacketPlacements(size_t entries, const gvsp::PacketIndex& index);

    // Receiving thread: packet `p` of the entry's block is `data`, in ring block `block`.
    void place(const gvsp::RingEntry& entry, uint32_t p, std::span<const uint8_t> data,
               uint64_t block);
    // Receiving thread: the oldest ring block an entry in use still needs; `end` when none.
    uint64_t oldestNeeded(gvsp::ImageRing& ring, uint64_t end) const;
    // The entry's block bytes [0, size) into `dest`, as one piece; packets that never came are
    // zeros. For the entry the caller reads (or writes) now.
    void gather(const gvsp::RingEntry& entry, uint8_t* dest, size_t size) const;

  private:
    struct Piece {
        const uint8_t* data = nullptr;
        uint32_t size = 0;
    };
    struct Placement {
        uint64_t uses = 0;  // the entry's use these pieces belong to
        uint64_t firstBlock = kNoBlock;
        std::vector<Piece> pieces;  // by packet, 1..N
    };

    const gvsp::PacketIndex& index_;
    std::vector<Placement> placements_;  // by entry index
};

}  // namespace kavro::filterengine
