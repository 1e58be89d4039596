// The process-wide debug trace: short diagnostic lines that do not belong to a device log.
// Syslog at debug level by default; an application may take the lines itself.
#pragma once

#include "KavroGigEVisionLib.h"

namespace kavro::platform {

void setTraceCallback(GevTraceCallback callback);
// Formats at most 4095 characters, strips trailing white space, appends "\r\n" and emits.
void debugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kavro::platform
