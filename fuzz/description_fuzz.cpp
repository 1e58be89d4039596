// A device description text: parsed, checked against its schema, flattened by the stylesheets,
// then built into the feature model with the passes that follow a successful build.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "genicam/description_loader.h"
#include "genicam/feature_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kavro::genicam;
    // An exact-size copy so a read past the end shows.
    const std::vector<char> text(data, data + size);
    const LogSink log = [](const char*) {};
    LoadedDescription loaded;
    const LoadOptions options{KAVRO_FUZZ_DATA_DIR, "", log, ""};
    if (loadDescription(std::string_view(text.data(), text.size()), options, loaded) !=
        GEV_STATUS_SUCCESS) {
        return 0;
    }
    FeatureModel model;
    if (buildFeatureModel(loaded.root, log, model) == GEV_STATUS_SUCCESS) {
        checkInvalidators(model, log);
        placeSelectors(model);
    }
    return 0;
}
