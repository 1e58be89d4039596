// The rules every read and write shares that need no device access: which node holds the data
// (pValue resolution), the effective access mode, whether a cached value may be used, and the
// conversions between register bit patterns, integers and doubles.
#pragma once

#include <cstdint>

#include "genicam/feature_model.h"
#include "genicam/feature_node.h"

namespace kavro::features::detail {

using genicam::FeatureModel;
using genicam::FeatureNode;

// Integer read: follows pValue up to twice, stopping at a node with converter formulas.
[[nodiscard]] FeatureNode& resolveForIntegerRead(const FeatureModel& model, FeatureNode& named);
// Float read and float write: one pValue step, not from a node with converter formulas.
[[nodiscard]] FeatureNode& resolveForFloat(const FeatureModel& model, FeatureNode& named);
// Raw read (converters' device value): the holder behind pValue, ignoring converter formulas.
[[nodiscard]] FeatureNode& resolveForRawRead(const FeatureModel& model, FeatureNode& named);
// Integer write: stops at a converter, so writing a converter's name reaches its data holder.
[[nodiscard]] FeatureNode& resolveForIntegerWrite(const FeatureModel& model, FeatureNode& named);

// ImposedAccessMode of the named node when given, else AccessMode of the resolved node.
[[nodiscard]] uint16_t effectiveAccess(const FeatureNode& named, const FeatureNode& resolved);

[[nodiscard]] inline bool hasConverter(const FeatureNode& node) {
    return !node.FormulaFrom.empty() || !node.FormulaTo.empty();
}
[[nodiscard]] inline bool hasBitField(const FeatureNode& node) {
    return node.LSB != genicam::kBitNotGiven && node.MSB != genicam::kBitNotGiven;
}
[[nodiscard]] inline bool isFloatKind(const FeatureNode& node) {
    return node.kind == genicam::NodeKind::Float;
}

// Cachable is 1 or 2 (holding a value).
[[nodiscard]] bool holdsCachedValue(const FeatureNode& node);
// Holds a value cached from `address` and none of its invalidators was written since.
[[nodiscard]] bool cacheIsValid(const FeatureModel& model, const FeatureNode& node,
                                uint32_t address);
// After a successful register read at `address`: write-through starts holding; write-around
// only when the effective access is read-only.
[[nodiscard]] bool fillsCache(const FeatureModel& model, FeatureNode& node, uint16_t access,
                              uint32_t address);
// After a write: `named`, the nodes on its pValue chain up to `holder`, and `holder` count as
// written now, so caches naming any of them as invalidator are stale.
void markWritten(FeatureModel& model, FeatureNode& named, FeatureNode& holder);

// `value` as a signed number of `bits` bits, extended to 64.
[[nodiscard]] uint64_t signExtend(uint64_t value, uint32_t bits);

// Whether converter values of `node` are float bit patterns: the node named by pValue is of the
// float kind, or, with no such node, `node` itself is.
[[nodiscard]] bool convertsFloatPattern(const FeatureModel& model, const FeatureNode& node);
// A float register of eight bytes holds an IEEE-754 double (high word at the address).
[[nodiscard]] inline bool holdsDouble(const FeatureNode& holder) {
    return holder.Length == 8;
}

// The bit pattern of a float register as a double: the whole 64 bits for an eight-byte holder,
// else the low 32 bits as a single.
[[nodiscard]] double doubleFromPattern(uint64_t bits, bool eightBytes);
[[nodiscard]] uint64_t patternFromDouble(double value, bool eightBytes);

// Truncation toward zero and rounding up, saturating at the int64 range; NaN gives 0.
[[nodiscard]] int64_t truncateToInt64(double value);
[[nodiscard]] int64_t ceilToInt64(double value);

}  // namespace kavro::features::detail
