// The device's image memory block: zero-filled heap memory that image retrieval copies into and
// the description build may size. A failed resize keeps the old block.
#pragma once

#include <cstdint>
#include <memory>

namespace kavro::frame {

class ImageMemory {
public:
    bool exists() const { return data_ != nullptr; }
    uint8_t* data() { return data_.get(); }
    uint32_t size() const { return size_; }

    // Replaces the block with `size` zero bytes; false (old block kept) when that fails.
    [[nodiscard]] bool allocate(uint32_t size);
    // Resizes, keeping the bytes that fit and zero-filling new ones; false (old block kept)
    // when there is no block or the memory can't be had.
    [[nodiscard]] bool resize(uint32_t size);
    void release();

private:
    std::unique_ptr<uint8_t[]> data_;
    uint32_t size_ = 0;
};

}  // namespace kavro::frame
