// Manual-reset event: stays signalled until reset; waits use the monotonic clock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kavro::platform {

class ManualResetEvent {
  public:
    explicit ManualResetEvent(bool signalled = false) : signalled_(signalled) {}

    void set() {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        cv_.notify_all();
    }
    void reset() {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }
    bool isSet() const {
        std::lock_guard lock(mutex_);
        return signalled_;
    }
    // True when the event was (or became) signalled within `timeout`.
    bool waitFor(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        // steady_clock is CLOCK_MONOTONIC on Linux.
        return cv_.wait_until(lock, std::chrono::steady_clock::now() + timeout,
                              [this] { return signalled_; });
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
};

}  // namespace kavro::platform
