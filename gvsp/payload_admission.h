// What a payload packet may put into its slot, the same for both receivers: a multi-part packet
// (format 7) nothing, since its part header would shift every byte after it (the block is
// refused as a whole and its packets only complete it); any other packet at most its slot, a
// longer one flagging its block as incomplete. Each fault is logged once per block.
#pragma once

#include <cstdint>
#include <span>

#include "frame/device.h"
#include "gvsp/image_ring.h"

namespace kavro::gvsp {

[[nodiscard]] std::span<const uint8_t> admitPayload(frame::GevDevice& device, RingEntry& entry,
                                                    uint32_t packetId, uint32_t slot,
                                                    std::span<const uint8_t> data, bool multiPart);

}  // namespace kavro::gvsp
