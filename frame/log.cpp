#include "frame/log.h"

#include <locale.h>

#include <cstdarg>
#include <cstdio>

namespace kavro::frame {

namespace {

// Formats this thread's numbers as the "C" locale does while it lives: log lines read the same
// whatever locale the application set (a decimal point, never a comma).
class ClassicNumbers {
  public:
    ClassicNumbers() : previous_(classic() != locale_t{} ? ::uselocale(classic()) : locale_t{}) {}
    ~ClassicNumbers() {
        if (previous_ != locale_t{})
            ::uselocale(previous_);
    }
    ClassicNumbers(const ClassicNumbers&) = delete;
    ClassicNumbers& operator=(const ClassicNumbers&) = delete;

  private:
    static locale_t classic() {
        static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t{});
        return c;
    }
    locale_t previous_;
};

}  // namespace

void gevLog(const GevDevice& device, const char* line) {
    if (GevLogCallback cb = device.logCallback.load())
        cb(device.deviceIndex, line);
}

void gevLogf(const GevDevice& device, const char* format, ...) {
    if (device.logCallback.load() == nullptr)
        return;
    char line[kLogLineSize];
    const ClassicNumbers numbers;
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    gevLog(device, line);
}

void gevFormatLine(char* buffer, size_t size, const char* format, ...) {
    if (buffer == nullptr || size == 0)
        return;
    const ClassicNumbers numbers;
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
