// The device's image memory block: zero-filled heap memory that image retrieval copies into and
// the description build may size. A failed resize keeps the old block. Besides its size the block
// records the image size it was made for (the payload size it holds, without the margin).
#pragma once

#include <cstdint>
#include <memory>

namespace kavro::frame {

class ImageMemory {
  public:
    // Bytes a block made for an image holds beyond the image itself.
    static constexpr uint32_t kMargin = 65536;
    // Largest image size a block is made for: a bigger payload size is refused, not tried.
    static constexpr uint32_t kMaxImageSize = 1u << 30;

    bool exists() const { return data_ != nullptr; }
    uint8_t* data() { return data_.get(); }
    uint32_t size() const { return size_; }
    // The image size the block was made or last resized for; 0 without a block.
    uint32_t imageSize() const { return imageSize_; }

    // Replaces the block with `size` zero bytes (image size `size`); false (old block kept) when
    // that fails.
    [[nodiscard]] bool allocate(uint32_t size);
    // Replaces the block with imageSize + kMargin zero bytes; false (old block kept) when
    // imageSize exceeds kMaxImageSize or the memory can't be had.
    [[nodiscard]] bool allocateForImage(uint32_t imageSize);
    // Resizes, keeping the bytes that fit and zero-filling new ones; false (old block kept)
    // when there is no block or the memory can't be had.
    [[nodiscard]] bool resize(uint32_t size);
    void release();

  private:
    std::unique_ptr<uint8_t[]> data_;
    uint32_t size_ = 0;
    uint32_t imageSize_ = 0;
};

}  // namespace kavro::frame
