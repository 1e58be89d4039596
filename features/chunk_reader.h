// Finding one chunk in the chunk data of the last image: every chunk is its data followed by an
// 8-byte tag (chunk id, then data length, both big-endian), so chunks are found walking back
// from the end. The walk stops at a tag whose length reaches past the start: that is the image's
// own tag, whose data is not kept.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace kavro::features::detail {

// The data of the last chunk (nearest the end) with id `id`; nothing when there is none.
[[nodiscard]] std::optional<std::span<const uint8_t>> findChunk(std::span<const uint8_t> data,
                                                                uint32_t id);

}  // namespace kavro::features::detail
