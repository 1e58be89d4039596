#include "platform/trace.h"

#include <syslog.h>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kavro::platform {

namespace {
std::atomic<GevTraceCallback> g_traceCallback{nullptr};
}

void setTraceCallback(GevTraceCallback callback) {
    g_traceCallback.store(callback);
}

void debugTrace(const char* format, ...) {
    char text[4095 + 3];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, 4096, format, args);
    va_end(args);
    size_t len = n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), 4095);
    while (len > 0 && std::isspace(static_cast<unsigned char>(text[len - 1])) != 0)
        --len;
    std::memcpy(text + len, "\r\n", 3);
    if (GevTraceCallback cb = g_traceCallback.load()) {
        cb(text);
    } else {
        text[len] = '\0';  // syslog adds its own line end
        ::syslog(LOG_DEBUG, "%s", text);
    }
}

}  // namespace kavro::platform
