#include "filterengine/frame_pacing.h"

#include <algorithm>

#include "gvsp/wire.h"

namespace kavro::filterengine {

void FramePacing::onDatagram(std::span<const uint8_t> datagram, int64_t receivedNs) {
    const auto header = gvsp::parseHeader(datagram, gvsp::carriesExtendedIds(datagram));
    if (!header)
        return;
    if (header->format == gvsp::kFormatLeader) {
        inFrame_ = true;
        leaderNs_ = receivedNs;
    } else if (header->format == gvsp::kFormatTrailer && inFrame_) {
        inFrame_ = false;
        if (receivedNs >= leaderNs_)
            spans_[spanCount_++ % kSpans] = receivedNs - leaderNs_;
    }
}

std::chrono::microseconds FramePacing::pause(int64_t nowNs) const {
    if (!inFrame_ || spanCount_ == 0)
        return std::chrono::microseconds(0);
    const size_t known = std::min(spanCount_, kSpans);
    const int64_t shortest = *std::min_element(spans_.begin(), spans_.begin() + known);
    const int64_t pause = leaderNs_ + shortest - kWakeBeforeTrailerNs - nowNs;
    if (pause < kShortestPauseNs || pause > kLongestPauseNs)
        return std::chrono::microseconds(0);
    return std::chrono::microseconds(pause / 1000);
}

}  // namespace kavro::filterengine
