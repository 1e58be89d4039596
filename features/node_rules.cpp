#include "features/node_rules.h"

#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "features/node_access.h"

namespace kavro::features {

FieldMask fieldMask(uint8_t lo, uint8_t hi, bool bigEndian, uint32_t registerBits) {
    const uint32_t bits = registerBits == 0 || registerBits > 64 ? 64 : registerBits;
    uint32_t low = lo % bits;
    uint32_t high = hi % bits;
    if (low > high) {
        std::swap(low, high);
    }
    if (bigEndian) {
        const uint32_t top = bits - 1;
        const uint32_t reversedLow = top - high;
        high = top - low;
        low = reversedLow;
    }
    const uint64_t upTo = high == 63 ? ~uint64_t{0} : (uint64_t{1} << (high + 1)) - 1u;
    return FieldMask{upTo & ~((uint64_t{1} << low) - 1u), low};
}

}  // namespace kavro::features

namespace kavro::features::detail {
namespace {

// pValue steps followed when looking for written nodes; chains in descriptions are short.
constexpr int kMaxPValueSteps = 8;

FeatureNode* follow(const FeatureModel& model, const FeatureNode& node) {
    return node.pValue.empty() ? nullptr : model.findNode(node.pValue);
}

// 2^63 as a double: the first value beyond the int64 range.
constexpr double kTwoTo63 = 9223372036854775808.0;

int64_t saturate(double whole) {
    if (std::isnan(whole)) {
        return 0;
    }
    if (whole >= kTwoTo63) {
        return std::numeric_limits<int64_t>::max();
    }
    if (whole < -kTwoTo63) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(whole);
}

}  // namespace

FeatureNode& resolveForIntegerRead(const FeatureModel& model, FeatureNode& named) {
    FeatureNode* node = &named;
    for (int step = 0; step < 2 && !hasConverter(*node); ++step) {
        FeatureNode* next = follow(model, *node);
        if (next == nullptr) {
            break;
        }
        node = next;
    }
    return *node;
}

FeatureNode& resolveForFloat(const FeatureModel& model, FeatureNode& named) {
    if (hasConverter(named)) {
        return named;
    }
    FeatureNode* next = follow(model, named);
    return next != nullptr ? *next : named;
}

FeatureNode& resolveForRawRead(const FeatureModel& model, FeatureNode& named) {
    FeatureNode* target = follow(model, named);
    if (target == nullptr) {
        return named;
    }
    if (target->pValue.empty()) {
        return *target;
    }
    FeatureNode* second = follow(model, *target);
    return second != nullptr ? *second : named;
}

FeatureNode& resolveForIntegerWrite(const FeatureModel& model, FeatureNode& named) {
    FeatureNode* target = follow(model, named);
    if (target == nullptr) {
        return named;
    }
    if (hasConverter(*target) || target->pValue.empty()) {
        return *target;
    }
    FeatureNode* second = follow(model, *target);
    return second != nullptr ? *second : named;
}

uint16_t effectiveAccess(const FeatureNode& named, const FeatureNode& resolved) {
    return named.ImposedAccessMode != 0 ? named.ImposedAccessMode : resolved.AccessMode;
}

bool holdsCachedValue(const FeatureNode& node) {
    return node.Cachable == (genicam::kCacheWriteThrough & ~genicam::kCacheEmptyBit) ||
           node.Cachable == (genicam::kCacheWriteAround & ~genicam::kCacheEmptyBit);
}

namespace {

// Written after the cached value was read: the node or, for a feature named as invalidator, a
// node on its pValue chain (real descriptions name the selector feature, whose register takes
// the write).
bool writtenSince(const FeatureModel& model, const FeatureNode& invalidator, uint64_t cachedAt) {
    const FeatureNode* node = &invalidator;
    for (int step = 0; node != nullptr && step < kMaxPValueSteps; ++step) {
        if (node->writtenAt > cachedAt) {
            return true;
        }
        node = follow(model, *node);
    }
    return false;
}

}  // namespace

bool cacheIsValid(const FeatureModel& model, const FeatureNode& node, uint32_t address) {
    if (!holdsCachedValue(node) || node.cachedAddress != address) {
        return false;
    }
    for (const std::string& name : node.pInvalidator) {
        const FeatureNode* invalidator = model.findNode(name);
        if (invalidator != nullptr && writtenSince(model, *invalidator, node.cachedAt)) {
            return false;
        }
    }
    return true;
}

bool fillsCache(const FeatureModel& model, FeatureNode& node, uint16_t access, uint32_t address) {
    // Empty, or holding a value that went stale.
    const uint8_t mode = node.Cachable | genicam::kCacheEmptyBit;
    if (mode == genicam::kCacheWriteThrough ||
        (mode == genicam::kCacheWriteAround && access == genicam::kAccessRO)) {
        node.Cachable = static_cast<uint8_t>(node.Cachable & ~genicam::kCacheEmptyBit);
        node.cachedAt = model.writes();
        node.cachedAddress = address;
        return true;
    }
    return false;
}

void markWritten(FeatureModel& model, FeatureNode& named, FeatureNode& holder) {
    const uint64_t now = model.nextWrite();
    FeatureNode* node = &named;
    for (int step = 0; node != nullptr && step < kMaxPValueSteps; ++step) {
        node->changed = 1;
        node->writtenAt = now;
        if (node == &holder) {
            break;
        }
        node = follow(model, *node);
    }
    holder.changed = 1;
    holder.writtenAt = now;
}

uint64_t signExtend(uint64_t value, uint32_t bits) {
    if (bits == 0 || bits >= 64 || (value & (uint64_t{1} << (bits - 1))) == 0) {
        return value;
    }
    return value | ~((uint64_t{1} << bits) - 1u);
}

bool convertsFloatPattern(const FeatureModel& model, const FeatureNode& node) {
    const FeatureNode* target = follow(model, node);
    return isFloatKind(target != nullptr ? *target : node);
}

double doubleFromPattern(uint64_t bits, bool eightBytes) {
    if (eightBytes) {
        return std::bit_cast<double>(bits);
    }
    return static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(bits)));
}

uint64_t patternFromDouble(double value, bool eightBytes) {
    if (eightBytes) {
        return std::bit_cast<uint64_t>(value);
    }
    // Beyond the single range the nearest single is an infinity (the conversion itself would be
    // undefined there).
    constexpr double kLargest = std::numeric_limits<float>::max();
    float single = 0.0f;
    if (std::isfinite(value) && std::fabs(value) > kLargest) {
        single = std::copysign(std::numeric_limits<float>::infinity(), value > 0 ? 1.0f : -1.0f);
    } else {
        single = static_cast<float>(value);
    }
    return std::bit_cast<uint32_t>(single);
}

int64_t truncateToInt64(double value) {
    return saturate(std::trunc(value));
}

int64_t ceilToInt64(double value) {
    return saturate(std::ceil(value));
}

}  // namespace kavro::features::detail
