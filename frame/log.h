// The device log: every line the library produces for a device goes to that device's log
// callback, one finished line per call, on the thread that produced it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/device.h"

namespace kavro::frame {

// Longest line handed to a log callback; longer lines are cut, never written past the buffer.
inline constexpr size_t kLogLineSize = 1024;

// Hands `line` to the device's callback when one is set.
void gevLog(const GevDevice& device, const char* line);
// Formats a line into a buffer of kLogLineSize and logs it.
void gevLogf(const GevDevice& device, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
// Formats into a caller's buffer of `size` bytes; the result is always terminated.
void gevFormatLine(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Writes the two version lines that every open starts with.
void logVersionLines(const GevDevice& device);

}  // namespace kavro::frame
