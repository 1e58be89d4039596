// Reading node values: the integer read, the raw read converters use, and the float read.
#include <algorithm>
#include <bit>

#include "features/node_access.h"
#include "features/node_evaluator.h"
#include "features/node_registers.h"

namespace kavro::features {
namespace detail {
namespace {

using genicam::kAccessWO;

// The integer read and the raw read share every step; the raw read skips the implemented test,
// keeps an indexed selection in Value and goes on, has no invalid-address test and does not
// convert through FormulaFrom.
enum class IntegerMode : uint8_t { Read, Raw };

// The bit field of a register value of `length` bytes, shifted down; sign-extended from its
// width (the field's, else the register's) when the node is signed.
uint64_t registerField(const FeatureNode& node, uint64_t fetched, uint32_t length) {
    uint64_t value = fetched;
    uint32_t width = 8 * length;
    if (hasBitField(node)) {
        const FieldMask field = fieldMask(std::min(node.LSB, node.MSB),
                                          std::max(node.LSB, node.MSB), node.Endianess != 0, width);
        value = (fetched & field.mask) >> field.shift;
        width = static_cast<uint32_t>(std::popcount(field.mask));
    }
    return node.Sign != 0 ? signExtend(value, width) : value;
}

// Indexed selection: the last entry whose Index equals `index`, else the default. False when
// the node has no indexed entries (the index then adds to the address).
GevStatus indexedValue(Chain& chain, const FeatureNode& node, uint32_t index, int64_t& value) {
    bool matched = false;
    int64_t result = 0;
    for (const genicam::IndexedValue& entry : node.ValueIndexed) {
        if (entry.index != index) {
            continue;
        }
        if (entry.pValueIndexed.empty()) {
            result = entry.value;
        } else {
            uint64_t read = 0;
            if (const GevStatus s = integerRead(chain, entry.pValueIndexed, read)) {
                return s;
            }
            result = static_cast<int64_t>(read);
        }
        matched = true;
    }
    if (!matched) {
        if (!node.pValueDefault.empty()) {
            uint64_t read = 0;
            if (const GevStatus s = integerRead(chain, node.pValueDefault, read)) {
                return s;
            }
            result = static_cast<int64_t>(read);
        } else {
            result = node.ValueDefault;
        }
    }
    value = result;
    return GEV_STATUS_SUCCESS;
}

// Stores a formula result: into the address offset of a device node, else into its value slot.
void storeResult(FeatureNode& node, int64_t result, uint32_t& offset) {
    if (isPortNode(node)) {
        offset += static_cast<uint32_t>(result);
    } else {
        node.Value = result;
    }
}

void storeResult(FeatureNode& node, double result, uint32_t& offset) {
    if (isPortNode(node)) {
        offset += static_cast<uint32_t>(truncateToInt64(result));
    } else {
        node.FloatValue = result;
    }
}

// The value a float converter's FormulaFrom sees as TO: its data holder's raw value (a float
// register's bit pattern as its number), or the float value of a holder that keeps its value in
// the node (a literal Float, a swiss knife).
GevStatus converterInput(Chain& chain, const FeatureNode& node, double& to) {
    uint64_t raw = 0;
    const FeatureNode* holder = nullptr;
    if (const GevStatus s = rawRead(chain, node.Name, raw, &holder)) {
        return s;
    }
    if (holder != nullptr && holder != &node && isFloatKind(*holder) && !isPortNode(*holder)) {
        return floatRead(chain, holder->Name, to);
    }
    if (convertsFloatPattern(chain.model(), node)) {
        const bool eightBytes = holder != nullptr && isPortNode(*holder) && isFloatKind(*holder) &&
                                holdsDouble(*holder);
        to = doubleFromPattern(raw, eightBytes);
    } else {
        to = static_cast<double>(static_cast<int64_t>(raw));
    }
    return GEV_STATUS_SUCCESS;
}

// The converter's device value through its FormulaFrom, as an integer.
GevStatus convertFrom(Chain& chain, FeatureNode& node, int64_t& result) {
    if (isFloatKind(node)) {
        Bindings<double> variables;
        if (const GevStatus s =
                gatherDoubleVariables(chain, node, DoubleRule::IntegerValue, variables)) {
            return s;
        }
        double to = 0.0;
        if (const GevStatus s = converterInput(chain, node, to)) {
            return s;
        }
        variables.add("TO", to);
        double converted = 0.0;
        if (const GevStatus s = runDoubleFormula(chain, variables, node.FormulaFrom, converted)) {
            return s;
        }
        result = truncateToInt64(converted);
        return GEV_STATUS_SUCCESS;
    }
    Bindings<int64_t> variables;
    if (const GevStatus s = gatherIntegerVariables(chain, node, variables)) {
        return s;
    }
    uint64_t raw = 0;
    if (const GevStatus s = rawRead(chain, node.Name, raw)) {
        return s;
    }
    variables.add("TO", static_cast<int64_t>(raw));
    return runIntegerFormula(chain, variables, node.FormulaFrom, result);
}

GevStatus readIntegerNode(Chain& chain, std::string_view name, IntegerMode mode, uint64_t& value,
                          const FeatureNode** holder) {
    FeatureModel& model = chain.model();
    FeatureNode* named = model.findNode(name);
    if (named == nullptr) {
        return GEV_STATUS_FEATURE_NOT_FOUND;
    }
    FeatureNode& node = mode == IntegerMode::Read ? resolveForIntegerRead(model, *named)
                                                  : resolveForRawRead(model, *named);
    const uint16_t access = effectiveAccess(*named, node);
    const ChainStep step(chain, node,
                         mode == IntegerMode::Read ? Step::IntegerRead : Step::RawRead);
    if (step.status() != GEV_STATUS_SUCCESS) {
        return step.status();
    }
    if (holder != nullptr) {
        *holder = &node;
    }

    if (mode == IntegerMode::Read && !node.pIsImplemented.empty()) {
        uint64_t implemented = 0;
        if (const GevStatus s = integerRead(chain, node.pIsImplemented, implemented)) {
            return s;
        }
        if (implemented == 0) {
            return GEV_STATUS_FEATURE_NOT_FOUND;
        }
    }

    uint32_t offset = 0;
    if (const GevStatus s = addressOffset(chain, node, offset)) {
        return s;
    }

    if (!node.pIndex.empty()) {
        uint32_t index = 0;
        if (const GevStatus s = selectorIndex(chain, node, index)) {
            return s;
        }
        if (node.ValueIndexed.empty()) {
            offset += index;
        } else {
            int64_t selected = 0;
            if (const GevStatus s = indexedValue(chain, node, index, selected)) {
                return s;
            }
            if (mode == IntegerMode::Read) {
                value = static_cast<uint64_t>(selected);
                return GEV_STATUS_SUCCESS;
            }
            node.Value = selected;
        }
    }

    if (!node.Formula.empty()) {
        int64_t result = 0;
        if (const GevStatus s = integerSwissKnife(chain, node, result)) {
            return s;
        }
        storeResult(node, result, offset);
    }

    if (mode == IntegerMode::Read && !node.FormulaFrom.empty() && access != kAccessWO &&
        (node.kind == genicam::NodeKind::Integer || isFloatKind(node))) {
        int64_t result = 0;
        if (const GevStatus s = convertFrom(chain, node, result)) {
            return s;
        }
        storeResult(node, result, offset);
    }

    if (!isPortNode(node)) {
        value = static_cast<uint64_t>(node.Value);
        return GEV_STATUS_SUCCESS;
    }

    const uint32_t address = offset + node.Address;
    if (mode == IntegerMode::Read && address == 0xFFFFFFFFu) {
        return GEV_STATUS_INVALID_ADDRESS;
    }
    if (cacheIsValid(model, node, address)) {
        value = static_cast<uint64_t>(node.Value);
        return GEV_STATUS_SUCCESS;
    }

    uint64_t fetched = 0;
    uint32_t length = 4;
    if (access != kAccessWO) {
        if (const GevStatus s = registerLength(chain, node, length)) {
            return s;
        }
        if (const GevStatus s =
                fetchPortValue(chain.device(), model, node, address, length, fetched)) {
            return s;
        }
    }
    const uint64_t result = registerField(node, fetched, length);
    if (fillsCache(model, node, access, address)) {
        // One cache serves both reads: keep the float view of the same register contents.
        node.Value = static_cast<int64_t>(result);
        node.FloatValue = doubleFromPattern(fetched, holdsDouble(node));
    }
    value = result;
    return GEV_STATUS_SUCCESS;
}

// The float converter's FormulaFrom over the raw device value.
GevStatus convertFromAsFloat(Chain& chain, FeatureNode& node, double& result) {
    Bindings<double> variables;
    if (const GevStatus s =
            gatherDoubleVariables(chain, node, DoubleRule::ConverterRead, variables)) {
        return s;
    }
    double to = 0.0;
    if (const GevStatus s = converterInput(chain, node, to)) {
        return s;
    }
    variables.add("TO", to);
    return runDoubleFormula(chain, variables, node.FormulaFrom, result);
}

GevStatus indexedFloatValue(Chain& chain, const FeatureNode& node, uint32_t index, double& value) {
    bool matched = false;
    double result = 0.0;
    for (const genicam::IndexedValue& entry : node.ValueIndexed) {
        if (entry.index != index) {
            continue;
        }
        if (entry.pValueIndexed.empty()) {
            result = isFloatKind(node) ? entry.floatValue : static_cast<double>(entry.value);
        } else {
            uint64_t read = 0;
            if (const GevStatus s = integerRead(chain, entry.pValueIndexed, read)) {
                return s;
            }
            result = static_cast<double>(static_cast<int64_t>(read));
        }
        matched = true;
    }
    if (!matched) {
        if (!node.pValueDefault.empty()) {
            uint64_t read = 0;
            if (const GevStatus s = integerRead(chain, node.pValueDefault, read)) {
                return s;
            }
            result = static_cast<double>(static_cast<int64_t>(read));
        } else {
            result =
                isFloatKind(node) ? node.FloatValueDefault : static_cast<double>(node.ValueDefault);
        }
    }
    value = result;
    return GEV_STATUS_SUCCESS;
}

}  // namespace

GevStatus integerRead(Chain& chain, std::string_view name, uint64_t& value) {
    return readIntegerNode(chain, name, IntegerMode::Read, value, nullptr);
}

GevStatus rawRead(Chain& chain, std::string_view name, uint64_t& value,
                  const FeatureNode** holder) {
    return readIntegerNode(chain, name, IntegerMode::Raw, value, holder);
}

GevStatus floatRead(Chain& chain, std::string_view name, double& value) {
    FeatureModel& model = chain.model();
    FeatureNode* named = model.findNode(name);
    if (named == nullptr) {
        return GEV_STATUS_FEATURE_NOT_FOUND;
    }
    FeatureNode& node = resolveForFloat(model, *named);
    const uint16_t access = effectiveAccess(*named, node);
    const ChainStep step(chain, node, Step::FloatRead);
    if (step.status() != GEV_STATUS_SUCCESS) {
        return step.status();
    }

    uint32_t offset = 0;
    if (const GevStatus s = addressOffset(chain, node, offset)) {
        return s;
    }
    if (!node.pIndex.empty()) {
        uint32_t index = 0;
        if (const GevStatus s = selectorIndex(chain, node, index)) {
            return s;
        }
        if (!node.ValueIndexed.empty()) {
            return indexedFloatValue(chain, node, index, value);
        }
        offset += index;
    }

    if (!node.Formula.empty()) {
        Bindings<double> variables;
        if (const GevStatus s =
                gatherDoubleVariables(chain, node, DoubleRule::SwissKnife, variables)) {
            return s;
        }
        double result = 0.0;
        if (const GevStatus s = runDoubleFormula(chain, variables, node.Formula, result)) {
            return s;
        }
        storeResult(node, result, offset);
    }
    if (!node.FormulaFrom.empty()) {
        double result = 0.0;
        if (const GevStatus s = convertFromAsFloat(chain, node, result)) {
            return s;
        }
        storeResult(node, result, offset);
    }

    if (!isPortNode(node)) {
        value = node.FloatValue;
        return GEV_STATUS_SUCCESS;
    }
    const uint32_t address = offset + node.Address;
    if (cacheIsValid(model, node, address)) {
        value = node.FloatValue;
        return GEV_STATUS_SUCCESS;
    }
    if (access == kAccessWO) {
        value = 0.0;
        return GEV_STATUS_SUCCESS;
    }
    // Float registers are singles, or doubles when eight bytes long.
    const bool eightBytes = holdsDouble(node);
    const uint32_t length = eightBytes ? 8u : 4u;
    uint64_t bits = 0;
    if (const GevStatus s = fetchPortValue(chain.device(), model, node, address, length, bits)) {
        return s;
    }
    const double result = doubleFromPattern(bits, eightBytes);
    if (fillsCache(model, node, access, address)) {
        // One cache serves both reads: keep the integer view of the same register contents.
        node.FloatValue = result;
        node.Value = static_cast<int64_t>(registerField(node, bits, length));
    }
    value = result;
    return GEV_STATUS_SUCCESS;
}

}  // namespace detail

namespace {

// Runs one read as a call of its own; the caller's value changes only when it succeeds.
template <typename T, typename Read>
GevStatus readInto(uint8_t device, genicam::FeatureModel& model, std::string_view name, T& value,
                   Read read) {
    return detail::onChain(device, model, [&](detail::Chain& chain) {
        T result{};
        const GevStatus s = read(chain, name, result);
        if (s == GEV_STATUS_SUCCESS) {
            value = result;
        }
        return s;
    });
}

}  // namespace

GevStatus readInteger(uint8_t device, genicam::FeatureModel& model, std::string_view name,
                      uint64_t& value) {
    return readInto(device, model, name, value, detail::integerRead);
}

GevStatus readFloat(uint8_t device, genicam::FeatureModel& model, std::string_view name,
                    double& value) {
    return readInto(device, model, name, value, detail::floatRead);
}

GevStatus readNodeRaw(uint8_t device, genicam::FeatureModel& model, std::string_view name,
                      uint64_t& value) {
    return readInto(device, model, name, value,
                    [](detail::Chain& chain, std::string_view n, uint64_t& v) {
                        return detail::rawRead(chain, n, v);
                    });
}

}  // namespace kavro::features
