#include "frame/log.h"

#include <cstdarg>
#include <cstdio>

namespace kavro::frame {

void gevLog(const GevDevice& device, const char* line) {
    if (GevLogCallback cb = device.logCallback.load())
        cb(device.deviceIndex, line);
}

void gevLogf(const GevDevice& device, const char* format, ...) {
    if (device.logCallback.load() == nullptr)
        return;
    char line[kLogLineSize];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    gevLog(device, line);
}

void gevFormatLine(char* buffer, size_t size, const char* format, ...) {
    if (buffer == nullptr || size == 0)
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, size, format, args);
    va_end(args);
}

void logVersionLines(const GevDevice& device) {
    gevLogf(device, "[INFO] - KavroGigEVisionLib Version: %d.%d.%d", KAVRO_VERSION_MAJOR,
            KAVRO_VERSION_MINOR, KAVRO_VERSION_PATCH);
    gevLogf(device, "[INFO] - KavroGigEVisionLib Build Date: %s", __DATE__);
}

}  // namespace kavro::frame
