#include "features/chunk_reader.h"

#include "platform/byte_order.h"

namespace kavro::features::detail {

namespace {
constexpr size_t kTagSize = 8;
}  // namespace

std::optional<std::span<const uint8_t>> findChunk(std::span<const uint8_t> data, uint32_t id) {
    size_t end = data.size();
    while (end >= kTagSize) {
        const uint8_t* tag = data.data() + end - kTagSize;
        const uint32_t chunkId = platform::loadBe32(tag);
        const uint32_t length = platform::loadBe32(tag + 4);
        const size_t available = end - kTagSize;
        if (length > available) {
            break;
        }
        const size_t start = available - length;
        if (chunkId == id) {
            return data.subspan(start, length);
        }
        end = start;
    }
    return std::nullopt;
}

}  // namespace kavro::features::detail
