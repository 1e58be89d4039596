// The text of a URL register as the camera holds it: any bytes, not terminated.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "genicam/description_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> text(data, data + size);
    const auto url = kavro::genicam::parseDescriptionUrl(text);
    (void)url.path.size();
    return 0;
}
