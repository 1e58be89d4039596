#include "features/node_rules.h"

#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "features/node_access.h"

namespace kavro::features {

FieldMask fieldMask(uint8_t lo, uint8_t hi, bool bigEndian) {
    uint32_t low = lo % 32u;
    uint32_t high = hi % 32u;
    if (low > high) {
        std::swap(low, high);
    }
    const uint32_t upTo = high == 31 ? 0xFFFFFFFFu : (1u << (high + 1)) - 1u;
    uint32_t mask = upTo & ~((1u << low) - 1u);
    if (!bigEndian) {
        return FieldMask{mask, low};
    }
    uint32_t reversed = 0;
    for (int bit = 0; bit < 32; ++bit) {
        reversed = (reversed << 1) | (mask & 1u);
        mask >>= 1;
    }
    return FieldMask{reversed, 31u - high};
}

}  // namespace kavro::features

namespace kavro::features::detail {
namespace {

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

bool cacheIsValid(const FeatureModel& model, const FeatureNode& node) {
    if (!holdsCachedValue(node)) {
        return false;
    }
    for (const std::string& name : node.pInvalidator) {
        const FeatureNode* invalidator = model.findNode(name);
        if (invalidator != nullptr && invalidator->changed != 0) {
            return false;
        }
    }
    return true;
}

bool fillsCache(FeatureNode& node, uint16_t access) {
    if (node.Cachable == genicam::kCacheWriteThrough ||
        (node.Cachable == genicam::kCacheWriteAround && access == genicam::kAccessRO)) {
        node.Cachable = static_cast<uint8_t>(node.Cachable & ~genicam::kCacheEmptyBit);
        return true;
    }
    return false;
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
