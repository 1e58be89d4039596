// The element's `features` property: "Name=Value" settings separated by white space, written to
// the camera's features by name in the order given, each through the call its kind needs. A
// command is written as "Name" alone (or with any value) and executed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "KavroGigEVisionLib.h"

namespace kavro::gst {

struct FeatureSetting {
    std::string name;
    std::string value;
};

// The settings of `text`; false, with `error` set, for an empty name.
bool parseFeatureSettings(std::string_view text, std::vector<FeatureSetting>& settings,
                          std::string& error);

// Writes one setting to the open device with a built description. On failure `error` says
// which setting failed and why.
GevStatus applyFeatureSetting(uint8_t device, const FeatureSetting& setting, std::string& error);

}  // namespace kavro::gst
