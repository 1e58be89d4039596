// ACTION commands as a camera takes them: which action signals an action fires, and the record
// of the actions that fired.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "gvcp/wire_events.h"
#include "sim/device_memory.h"

namespace kavro::sim {

// Action signals a camera may declare; one bit each in TriggeredAction::signals.
inline constexpr uint32_t kMaxActionSignals = 32;

struct TriggeredAction {
    std::chrono::steady_clock::time_point receivedAt;
    Peer sender;
    uint32_t deviceKey = 0;
    uint32_t groupKey = 0;
    uint32_t groupMask = 0;
    std::optional<uint64_t> actionTimeNs;  // scheduled actions: nanoseconds since 1970
    uint32_t signals = 0;                  // bit n: action signal n fired
};

// The action signals (of the first `signalCount`) that `action` fires: the device key equals
// the camera's, the group key equals the signal's and the masks share a bit. 0: the action is
// not for this camera.
uint32_t firedSignals(const DeviceMemory& memory, uint32_t signalCount,
                      const gvcp::ActionCommand& action);

}  // namespace kavro::sim
