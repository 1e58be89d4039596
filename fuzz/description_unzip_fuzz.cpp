// A zipped device description as read from the camera's memory or a file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "genicam/description_unzip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> text(data, data + size);
    const kavro::genicam::LogSink log = [](const char*) {};
    (void)kavro::genicam::unzipDescription(text, log);
    return 0;
}
