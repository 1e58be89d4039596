// How the packet-ring thread sleeps: until the kernel hands over a block, the stop is raised,
// or a time-out ends. The ring counts as readable for as long as the block before the one the
// kernel fills is held (its image not yet read), so a plain readiness wait would return at once
// then; this one wakes only for what happened since the last wait.
#pragma once

#include <chrono>

#include "gvsp/stream_wait.h"
#include "platform/socket.h"

namespace kavro::filterengine {

class BlockWait final {
  public:
    BlockWait(const platform::UniqueSocket& ring, const gvsp::StopSignal& stop);
    ~BlockWait();
    BlockWait(const BlockWait&) = delete;
    BlockWait& operator=(const BlockWait&) = delete;

    // Returns when a block may have been handed over or the stop was raised (true), or after
    // `timeout` (false).
    bool wait(std::chrono::milliseconds timeout);

  private:
    int fd_ = -1;
    const gvsp::StopSignal* stop_;
};

}  // namespace kavro::filterengine
