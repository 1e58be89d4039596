#include "gstreamer/frame_ring.h"

#include <algorithm>
#include <new>

namespace kavro::gst {

namespace {

// Slack after the payload, as the library gives its own ring buffers.
constexpr size_t kSlack = 4096;
constexpr uint16_t kMaxEntries = 256;

struct Lease {
    std::shared_ptr<FrameRing> ring;
    uint8_t index;
};

void endLease(gpointer data) {
    std::unique_ptr<Lease> lease(static_cast<Lease*>(data));
    lease->ring->giveBack(lease->index);
}

}  // namespace

std::shared_ptr<FrameRing> FrameRing::create(uint8_t device, uint16_t count, uint32_t payloadSize) {
    if (count == 0 || count > kMaxEntries || payloadSize == 0)
        return nullptr;
    try {
        std::shared_ptr<FrameRing> ring(new FrameRing(device, payloadSize));
        ring->buffers_.reserve(count);
        ring->returned_.assign(count, false);
        for (uint16_t i = 0; i < count; ++i)
            ring->buffers_.emplace_back(new uint8_t[size_t{payloadSize} + kSlack]);
        return ring;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

GevStatus FrameRing::registerBuffers() {
    if (const GevStatus s = GEVReleaseRingBuffer(device_))
        return s;
    for (auto& b : buffers_) {
        if (const GevStatus s = GEVSetRingBuffer(device_, 0, b.get()))
            return s;
    }
    return GEV_STATUS_SUCCESS;
}

void FrameRing::retire() {
    std::lock_guard lock(mutex_);
    active_ = false;
}

const uint8_t* FrameRing::data(uint8_t index) const {
    return index < buffers_.size() ? buffers_[index].get() : nullptr;
}

GstBuffer* FrameRing::lend(uint8_t index, size_t size) {
    if (index >= buffers_.size() || size > payloadSize_)
        return nullptr;
    auto* lease = new (std::nothrow) Lease{shared_from_this(), index};
    if (lease == nullptr)
        return nullptr;
    // The entry is not written while it is out of the ring, so the memory may be mapped for
    // writing downstream as well.
    return gst_buffer_new_wrapped_full(GstMemoryFlags(0), buffers_[index].get(),
                                       size_t{payloadSize_} + kSlack, 0, size, lease, endLease);
}

bool FrameRing::handedOut(uint8_t index) {
    std::lock_guard lock(mutex_);
    if (index >= buffers_.size() || std::find(out_.begin(), out_.end(), index) != out_.end())
        return false;
    out_.push_back(index);
    returned_[index] = false;
    return true;
}

void FrameRing::giveBack(uint8_t index) {
    std::lock_guard lock(mutex_);
    if (index >= buffers_.size())
        return;
    returned_[index] = true;
    // Once the run is retired nothing goes back: a later run has other buffers.
    while (active_ && !out_.empty() && returned_[out_.front()]) {
        (void)GEVQueueRingBuffer(device_, out_.front());
        returned_[out_.front()] = false;
        out_.pop_front();
    }
}

}  // namespace kavro::gst
