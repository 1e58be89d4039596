// How a stream receiver thread waits: for a datagram on its socket or for its acquisition's stop,
// whichever comes first, and for short pauses that a stop cuts short. Each acquisition has its
// own stop signal, so a stop can only ever reach the receiver it was meant for.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "platform/socket.h"

namespace kavro::gvsp {

// One acquisition's stop request: a flag for cheap checks and an eventfd that the receiver
// polls next to its stream socket, so that raising it wakes the receiver at once. Raised once,
// it stays raised.
class StopSignal final {
  public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // False when the eventfd could not be made: the acquisition can't be stopped at once.
    bool isValid() const { return fd_ >= 0; }
    void raise();
    bool raised() const { return raised_.load(std::memory_order_acquire); }
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
    std::atomic<bool> raised_{false};
};

enum class StreamWait { Datagram, Stopped, TimedOut, Failed };

// Waits until `socket` can be read or `stop` is raised, at most `timeout`. A raised stop wins
// over a waiting datagram.
StreamWait waitForDatagram(const platform::UniqueSocket& socket, const StopSignal& stop,
                           std::chrono::microseconds timeout);

// Sleeps for `pause` without waking for datagrams; false when `stop` was raised first.
bool pauseUnlessStopped(const StopSignal& stop, std::chrono::microseconds pause);

// What a receiver still waits for once its stop was raised: the block in progress may complete
// from datagrams already on their way, but each wait is at most kQuiet (a quiet gap ends the
// block as a time-out does) and all of them end kGrace after the stop was seen. So a stop never
// waits long for its receiver, whatever the stream time-out, and the receiver always ends.
class StopGrace final {
  public:
    static constexpr std::chrono::milliseconds kQuiet{50};
    static constexpr std::chrono::milliseconds kGrace{500};

    // The next wait, at most `timeout`; zero once the grace is over. The first call starts it.
    std::chrono::microseconds nextWait(std::chrono::microseconds timeout);

  private:
    int64_t deadlineNs_ = 0;
};

}  // namespace kavro::gvsp
