#include "sim/event_acks.h"

#include <algorithm>

#include "gvcp/wire.h"

namespace kavro::sim {

using namespace kavro::gvcp;

bool EventAckLog::isEventAck(std::span<const uint8_t> datagram) {
    const auto header = parseAckHeader(datagram);
    return header && datagram[0] != kKey &&
           (header->ackCode == kEventAck || header->ackCode == kEventDataAck);
}

void EventAckLog::add(const ReceivedEventAck& ack) {
    {
        std::lock_guard lock(mutex_);
        if (acks_.size() == kMaxRecorded)
            acks_.pop_front();
        acks_.push_back(Entry{total_++, ack});
    }
    added_.notify_all();
}

uint64_t EventAckLog::mark() const {
    std::lock_guard lock(mutex_);
    return total_;
}

bool EventAckLog::waitFor(uint16_t ackCode, uint16_t ackId, uint64_t since,
                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return added_.wait_for(lock, timeout, [&] {
        return std::any_of(acks_.begin(), acks_.end(), [&](const Entry& e) {
            return e.sequence >= since && e.ack.ackCode == ackCode && e.ack.ackId == ackId;
        });
    });
}

std::vector<ReceivedEventAck> EventAckLog::all() const {
    std::lock_guard lock(mutex_);
    std::vector<ReceivedEventAck> out;
    out.reserve(acks_.size());
    for (const Entry& e : acks_)
        out.push_back(e.ack);
    return out;
}

void EventAckLog::clear() {
    std::lock_guard lock(mutex_);
    acks_.clear();
}

}  // namespace kavro::sim
