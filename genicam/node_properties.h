// Reading the property elements of one description node into its FeatureNode: the number
// formats of each property, the keyword tables and the sub-lists.
//
// Numbers are scanned without the C locale and without undefined behaviour: leading white space
// and a sign are accepted, "0x"/"0X" selects hexadecimal where the property allows it, and a
// text that holds no number, or a number that does not fit the width the property is read with,
// leaves the field as it was.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "genicam/feature_node.h"

namespace kavro::genicam {

// Signed 64-bit: hexadecimal after "0x" (all 64 bits, so 0xFFFFFFFFFFFFFFFF reads as -1),
// otherwise decimal.
[[nodiscard]] std::optional<int64_t> scanInteger64(std::string_view text);
// 32 bits: hexadecimal after "0x" up to 0xFFFFFFFF, otherwise a decimal in
// [-2^31, 2^32 - 1]; the result is the low 32 bits.
[[nodiscard]] std::optional<uint32_t> scanInteger32(std::string_view text);
// Only decimal, as the leading digits after optional white space and sign; no digits give 0.
// Digits beyond 64 bits wrap (the callers keep only the low bits).
[[nodiscard]] int64_t leadingDecimal(std::string_view text);
// Floating point in the C locale's notation ("1.5", "-2e3", "inf"), whatever the process locale.
[[nodiscard]] std::optional<double> scanFloat(std::string_view text);

// Applies one property element to `node`. `text` is the element's non-empty text content.
// Returns false when the element belongs to a sub-list that is already full and was dropped.
bool applyProperty(FeatureNode& node, const xmlNode* element, std::string_view property,
                   std::string_view text);

}  // namespace kavro::genicam
