// Feature values as text, read and written by the feature's kind.
#pragma once

#include <string>

#include "KavroGigEVisionLib.h"

namespace gevtool {

// The value of a feature as text by its kind (a command or category has none: empty text).
GevStatus readFeatureText(uint8_t device, const char* name, const GevFeatureParameter& parameter,
                          std::string& text);
// Writes `text` as the feature's kind reads it; INVALID_ARGUMENT for text that is not a value
// of that kind ("execute" or empty runs a command).
GevStatus writeFeatureText(uint8_t device, const char* name, const GevFeatureParameter& parameter,
                           const std::string& text);
const char* featureKindName(uint8_t kind);
const char* accessName(uint16_t access);

}  // namespace gevtool
