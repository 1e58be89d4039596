// The image buffers of one acquisition run, owned by the element and registered with the
// library as application ring buffers (GEVSetRingBuffer). An image the library hands out with
// GEVGetImageRingBuffer stays out of the ring until GEVQueueRingBuffer gives it back, so its
// buffer can travel downstream without a copy: the GstBuffer that wraps it holds a lease, and
// freeing the GstBuffer gives the entry back.
//
// The library takes entries back in the order it handed them out, while downstream may free
// buffers in any order: an entry freed early waits here until the older ones are back.
//
// The memory belongs to this object, not to the library, and lives until the last lease is
// gone: a GstBuffer that outlives the acquisition (a stop, a close, a restart) still reads valid
// memory, and an entry given back after its run was retired is not queued into a later run.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "KavroGigEVisionLib.h"

namespace kavro::gst {

class FrameRing : public std::enable_shared_from_this<FrameRing> {
  public:
    // `count` buffers (1..256) of `payloadSize` bytes each for `device`; null when memory is
    // short or the count is out of range.
    static std::shared_ptr<FrameRing> create(uint8_t device, uint16_t count, uint32_t payloadSize);

    // Replaces the device's registered buffers by this ring's (before the acquisition start).
    GevStatus registerBuffers();
    // From now on no entry is given back to the library: call before the acquisition stops.
    void retire();

    // Entry `index` was handed out by GEVGetImageRingBuffer; false for an index that is not
    // this ring's or is out already.
    bool handedOut(uint8_t index);
    // A GstBuffer of the first `size` bytes of handed-out entry `index`; freeing it gives the
    // entry back. Null for a bad index or size.
    GstBuffer* lend(uint8_t index, size_t size);
    // The bytes of entry `index`, or null.
    const uint8_t* data(uint8_t index) const;
    // Gives handed-out entry `index` back (an image that is not pushed, or a freed buffer).
    void giveBack(uint8_t index);

    uint32_t payloadSize() const { return payloadSize_; }

  private:
    FrameRing(uint8_t device, uint32_t payloadSize) : device_(device), payloadSize_(payloadSize) {}

    const uint8_t device_;
    const uint32_t payloadSize_;
    std::vector<std::unique_ptr<uint8_t[]>> buffers_;
    std::mutex mutex_;
    bool active_ = true;          // guarded by mutex_
    std::deque<uint8_t> out_;     // entries handed out, oldest first; guarded by mutex_
    std::vector<bool> returned_;  // per entry: given back here, not yet to the library
};

}  // namespace kavro::gst
