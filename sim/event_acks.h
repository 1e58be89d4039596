// The acknowledges a simulated camera received for its events, and the wait for one of them.
// Thread-safe: the server thread adds, the thread sending an event waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

namespace kavro::sim {

struct ReceivedEventAck {
    uint32_t senderAddressNet = 0;
    uint16_t senderPort = 0;
    uint16_t status = 0;
    uint16_t ackCode = 0;
    uint16_t ackId = 0;
    uint16_t length = 0;
};

class EventAckLog {
  public:
    static constexpr size_t kMaxRecorded = 4096;

    // True when `datagram` is an EVENT_ACK or EVENTDATA_ACK (a GVCP command starts with the
    // 0x42 key, an acknowledge with its status, which never does).
    static bool isEventAck(std::span<const uint8_t> datagram);

    void add(const ReceivedEventAck& ack);
    // Acks added so far, cleared ones included: a mark for waitFor.
    uint64_t mark() const;
    // Waits for an acknowledge with `ackCode` and `ackId` added after `since`.
    bool waitFor(uint16_t ackCode, uint16_t ackId, uint64_t since,
                 std::chrono::milliseconds timeout) const;

    std::vector<ReceivedEventAck> all() const;
    void clear();

  private:
    struct Entry {
        uint64_t sequence = 0;
        ReceivedEventAck ack;
    };
    mutable std::mutex mutex_;
    mutable std::condition_variable added_;
    std::deque<Entry> acks_;  // guarded by mutex_
    uint64_t total_ = 0;      // guarded by mutex_
};

}  // namespace kavro::sim
