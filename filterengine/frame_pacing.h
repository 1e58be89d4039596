// When the packet-ring thread may leave the ring alone. While a camera sends a frame at its
// link's rate, the kernel hands over a ring block at every retire time-out, and waking for each
// costs more than taking its packets apart. From the kernel's receive times of leaders and
// trailers the frame's span is known; the thread then sleeps through the middle of a frame and
// wakes shortly before its trailer is due, so that the frame is handed over as promptly as
// before with a few wake-ups instead of one per time-out.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kavro::filterengine {

class FramePacing final {
  public:
    // A datagram of the stream, received by the kernel at `receivedNs` (any clock, the same for
    // every call and for pause()).
    void onDatagram(std::span<const uint8_t> datagram, int64_t receivedNs);
    // How long the thread may sleep from `nowNs` without delaying the frame in progress: until
    // kWakeBeforeTrailer before its trailer is due, judged by the shortest of the recent spans.
    // Zero while no frame is in progress, before a span is known, or when the frame is nearly
    // due; frames sent back to back never leave room for a pause.
    std::chrono::microseconds pause(int64_t nowNs) const;

    static constexpr int64_t kWakeBeforeTrailerNs = 1000000;
    // Shorter pauses save nothing; longer ones are not trusted (a clock step, a stalled camera).
    static constexpr int64_t kShortestPauseNs = 1000000;
    static constexpr int64_t kLongestPauseNs = 100000000;

  private:
    static constexpr size_t kSpans = 8;

    bool inFrame_ = false;
    int64_t leaderNs_ = 0;
    std::array<int64_t, kSpans> spans_{};
    size_t spanCount_ = 0;  // spans recorded, the newest at (spanCount_ - 1) % kSpans
};

}  // namespace kavro::filterengine
