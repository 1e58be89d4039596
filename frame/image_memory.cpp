#include "frame/image_memory.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kavro::frame {

namespace {
std::unique_ptr<uint8_t[]> zeroedBlock(uint32_t size) {
    // At least one byte, so that an empty block still has an address.
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[std::max<uint32_t>(size, 1)]());
}
}  // namespace

bool ImageMemory::allocate(uint32_t size) {
    auto block = zeroedBlock(size);
    if (!block)
        return false;
    data_ = std::move(block);
    size_ = size;
    imageSize_ = size;
    return true;
}

bool ImageMemory::allocateForImage(uint32_t imageSize) {
    if (imageSize > kMaxImageSize)
        return false;
    if (!allocate(imageSize + kMargin))
        return false;
    imageSize_ = imageSize;
    return true;
}

bool ImageMemory::resize(uint32_t size) {
    if (!data_)
        return false;
    auto block = zeroedBlock(size);
    if (!block)
        return false;
    std::memcpy(block.get(), data_.get(), std::min(size, size_));
    data_ = std::move(block);
    size_ = size;
    imageSize_ = size;
    return true;
}

void ImageMemory::release() {
    data_.reset();
    size_ = 0;
    imageSize_ = 0;
}

}  // namespace kavro::frame
