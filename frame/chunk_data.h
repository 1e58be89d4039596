// Chunk data of the last image handed to the application, kept for the chunk features.
//
// What is kept are the bytes of the block that follow the image data, as they arrived. In the
// GigE Vision chunk layout every chunk is its data followed by an 8-byte tag (chunk id, then data
// length, both big-endian), so the chunks are found by walking back from the end; the walk stops
// at the first tag whose length reaches past the start (the image's own tag, when the image is
// a chunk too). Written by the retrieval calls, read by feature reads on any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace kavro::frame {

class LastChunkData {
  public:
    // Replaces what is kept; an empty span (an image without chunks) clears it.
    void store(std::span<const uint8_t> bytes) {
        std::lock_guard lock(mutex_);
        bytes_.assign(bytes.begin(), bytes.end());
    }
    void clear() {
        std::lock_guard lock(mutex_);
        bytes_.clear();
    }
    // A copy of what is kept, so that the caller may parse it without the lock.
    std::vector<uint8_t> snapshot() const {
        std::lock_guard lock(mutex_);
        return bytes_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<uint8_t> bytes_;
};

}  // namespace kavro::frame
