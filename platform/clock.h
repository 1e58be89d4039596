// Monotonic time for every wait and rate of the library, and the wall clock for log lines.
#pragma once

#include <cstdint>

namespace kavro::platform {

// Nanoseconds of CLOCK_MONOTONIC; also the library's performance counter (frequency 1e9).
int64_t monotonicNs();
inline constexpr int64_t kCounterFrequency = 1000000000;
// Milliseconds of the monotonic clock (the tick count).
inline uint32_t tickCountMs() {
    return static_cast<uint32_t>(monotonicNs() / 1000000);
}
// Seconds since 1970 (UTC) of the real-time clock.
int64_t realtimeSeconds();
// Wall-clock time in nanoseconds (the clock of packet receive stamps).
int64_t realtimeNs();

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
};
TimeOfDay localTimeOfDay();

}  // namespace kavro::platform
