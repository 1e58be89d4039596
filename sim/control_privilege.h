// Which host controls a camera: the CCP register holds the mode, this remembers the host and
// when it was last heard from. Not thread-safe: CameraModel locks.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "sim/device_memory.h"

namespace kavro::sim {

inline bool operator==(const Peer& a, const Peer& b) {
    return a.addressNet == b.addressNet && a.port == b.port;
}

class ControlPrivilege {
  public:
    using Clock = std::chrono::steady_clock;

    // The host holding control while the CCP register reads `ccp`; nullopt: nobody.
    std::optional<Peer> holder(uint32_t ccp) const;

    // Device status of a command from `sender` that writes no register: only another host's
    // exclusive access shuts it out.
    uint16_t admitCommand(const Peer& sender, uint32_t ccp) const;
    // Device status of a write of `address` by `sender`: the holder writes anything; without a
    // holder only the CCP register can be written (that is how control is taken).
    uint16_t admitWrite(const Peer& sender, uint32_t address, uint32_t ccp) const;

    // `host` wrote a control mode to CCP. A simulated host (`simulated`) keeps its heartbeat
    // alive by itself and never expires.
    void take(const Peer& host, Clock::time_point now, bool simulated = false);
    void release();
    // Any command from the holder is a heartbeat.
    void heard(const Peer& sender, Clock::time_point now);
    bool expired(uint32_t ccp, Clock::time_point now, std::chrono::milliseconds timeout) const;
    bool heldBySimulatedHost(uint32_t ccp) const { return holder(ccp) && simulated_; }

  private:
    std::optional<Peer> primary_;
    Clock::time_point lastHeard_{};
    bool simulated_ = false;
};

}  // namespace kavro::sim
