// Writing node values: the integer write (registers with field merge, converters back to their
// data holder, indexed entries, copies) and the float write.
#include <algorithm>

#include "features/node_access.h"
#include "features/node_evaluator.h"
#include "features/node_registers.h"

namespace kavro::features {
namespace detail {
namespace {

using genicam::kAccessRO;
using genicam::kAccessWO;

// Writes `value` where the read with the same index looks: the last entry with that Index, else
// the default (the pValueDefault node, else ValueDefault), so a read returns what was written.
GevStatus writeIndexed(Chain& chain, FeatureNode& node, uint32_t index, int64_t value) {
    for (auto it = node.ValueIndexed.rbegin(); it != node.ValueIndexed.rend(); ++it) {
        genicam::IndexedValue& entry = *it;
        if (entry.index != index) {
            continue;
        }
        if (!entry.pValueIndexed.empty()) {
            return integerWrite(chain, entry.pValueIndexed, value);
        }
        entry.value = value;
        entry.floatValue = static_cast<double>(value);
        return GEV_STATUS_SUCCESS;
    }
    if (!node.pValueDefault.empty()) {
        return integerWrite(chain, node.pValueDefault, value);
    }
    node.ValueDefault = value;
    node.FloatValueDefault = static_cast<double>(value);
    return GEV_STATUS_SUCCESS;
}

// The converter's FormulaTo, its result written to the data holder.
GevStatus convertTo(Chain& chain, FeatureNode& node, int64_t value) {
    if (isFloatKind(node)) {
        Bindings<double> variables;
        if (const GevStatus s =
                gatherDoubleVariables(chain, node, DoubleRule::IntegerValue, variables)) {
            return s;
        }
        variables.add("FROM", static_cast<double>(value));
        double converted = 0.0;
        if (const GevStatus s = runDoubleFormula(chain, variables, node.FormulaTo, converted)) {
            return s;
        }
        return integerWrite(chain, node.Name, truncateToInt64(converted));
    }
    Bindings<int64_t> variables;
    if (const GevStatus s = gatherIntegerVariables(chain, node, variables)) {
        return s;
    }
    variables.add("FROM", value);
    int64_t converted = 0;
    if (const GevStatus s = runIntegerFormula(chain, variables, node.FormulaTo, converted)) {
        return s;
    }
    if (const GevStatus s = integerWrite(chain, node.Name, converted)) {
        return s;
    }
    node.Value = converted;
    return GEV_STATUS_SUCCESS;
}

GevStatus writeRegisterNode(Chain& chain, FeatureNode& node, uint16_t access, uint32_t offset,
                            int64_t value) {
    uint32_t length = 0;
    if (const GevStatus s = registerLength(chain, node, length)) {
        return s;
    }
    const uint32_t address = offset + node.Address;
    uint64_t out = static_cast<uint64_t>(value);
    if (hasBitField(node)) {
        // The field is merged into the register; the rest of it keeps its bits.
        uint64_t old = 0;
        if (access != kAccessWO) {
            if (const GevStatus s =
                    fetchPortValue(chain.device(), chain.model(), node, address, length, old)) {
                return s;
            }
        }
        const FieldMask field =
            fieldMask(std::min(node.LSB, node.MSB), std::max(node.LSB, node.MSB),
                      node.Endianess != 0, 8 * length);
        out = (old & ~field.mask) | ((out << field.shift) & field.mask);
    }
    if (access != kAccessRO) {
        if (const GevStatus s =
                storePortValue(chain.device(), chain.model(), node, address, length, out)) {
            return s;
        }
        if (node.Cachable == (genicam::kCacheWriteThrough & ~genicam::kCacheEmptyBit)) {
            node.Cachable = genicam::kCacheWriteThrough;
        }
    }
    return GEV_STATUS_SUCCESS;
}

// The raw value a float converter hands its data holder.
uint64_t rawFromConverted(Chain& chain, const FeatureNode& node, double converted) {
    if (!convertsFloatPattern(chain.model(), node)) {
        return static_cast<uint64_t>(ceilToInt64(converted));
    }
    bool eightBytes = false;
    if (FeatureNode* named = chain.model().findNode(node.Name)) {
        const FeatureNode& holder = resolveForIntegerWrite(chain.model(), *named);
        eightBytes = isPortNode(holder) && isFloatKind(holder) && holdsDouble(holder);
    }
    return patternFromDouble(converted, eightBytes);
}

// The integer write of `node`, the node the caller's name resolves to; copies are the caller's.
GevStatus writeIntegerNode(Chain& chain, FeatureNode& node, uint16_t access, int64_t value) {
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
            return writeIndexed(chain, node, index, value);
        }
        offset += index;
    }
    if (!node.Formula.empty()) {
        int64_t result = 0;
        if (const GevStatus s = integerSwissKnife(chain, node, result)) {
            return s;
        }
        if (isPortNode(node)) {
            offset += static_cast<uint32_t>(result);
        } else {
            node.Value = result;
        }
    }
    if (!node.FormulaTo.empty() && (node.kind == genicam::NodeKind::Integer || isFloatKind(node))) {
        if (const GevStatus s = convertTo(chain, node, value)) {
            return s;
        }
    }
    if (isPortNode(node)) {
        return writeRegisterNode(chain, node, access, offset, value);
    }
    if (node.FormulaTo.empty()) {
        node.Value = value;
    }
    return GEV_STATUS_SUCCESS;
}

}  // namespace

GevStatus integerWrite(Chain& chain, std::string_view name, int64_t value, bool byCaller) {
    FeatureModel& model = chain.model();
    FeatureNode* named = model.findNode(name);
    if (named == nullptr) {
        return GEV_STATUS_FEATURE_NOT_FOUND;
    }
    // A read of a converter converts; so does a write the application makes by its name.
    FeatureNode& node = byCaller && hasConverter(*named) && !named->FormulaTo.empty()
                            ? *named
                            : resolveForIntegerWrite(model, *named);
    const uint16_t access = effectiveAccess(*named, node);
    {
        const ChainStep step(chain, node, Step::IntegerWrite);
        if (step.status() != GEV_STATUS_SUCCESS) {
            return step.status();
        }
        if (const GevStatus s = writeIntegerNode(chain, node, access, value)) {
            return s;
        }
    }
    markWritten(model, *named, node);
    // Copies follow the node the caller named, with the value as given.
    for (const std::string& copy : named->pValueCopy) {
        if (const GevStatus s = integerWrite(chain, copy, value)) {
            return s;
        }
    }
    return GEV_STATUS_SUCCESS;
}

namespace {

// Writes `value` where the float read with the same index looks: the last entry with that
// Index, else the default; a referenced node as the read takes it, as an integer.
GevStatus writeIndexedFloat(Chain& chain, FeatureNode& node, uint32_t index, double value) {
    for (auto it = node.ValueIndexed.rbegin(); it != node.ValueIndexed.rend(); ++it) {
        if (it->index != index) {
            continue;
        }
        if (!it->pValueIndexed.empty()) {
            return integerWrite(chain, it->pValueIndexed, truncateToInt64(value));
        }
        it->floatValue = value;
        it->value = truncateToInt64(value);
        return GEV_STATUS_SUCCESS;
    }
    if (!node.pValueDefault.empty()) {
        return integerWrite(chain, node.pValueDefault, truncateToInt64(value));
    }
    node.FloatValueDefault = value;
    node.ValueDefault = truncateToInt64(value);
    return GEV_STATUS_SUCCESS;
}

GevStatus writeFloatNode(Chain& chain, FeatureNode& node, uint16_t access, double value) {
    uint32_t offset = 0;
    if (const GevStatus s = addressOffset(chain, node, offset)) {
        return s;
    }
    // The index moves the register as it does for the read.
    if (!node.pIndex.empty()) {
        uint32_t index = 0;
        if (const GevStatus s = selectorIndex(chain, node, index)) {
            return s;
        }
        if (!node.ValueIndexed.empty()) {
            return writeIndexedFloat(chain, node, index, value);
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
        if (isPortNode(node)) {
            offset += static_cast<uint32_t>(truncateToInt64(result));
        } else {
            node.FloatValue = result;
        }
    }
    if (!node.FormulaTo.empty()) {
        Bindings<double> variables;
        if (const GevStatus s =
                gatherDoubleVariables(chain, node, DoubleRule::ConverterWrite, variables)) {
            return s;
        }
        variables.add("FROM", value);
        double converted = 0.0;
        if (const GevStatus s = runDoubleFormula(chain, variables, node.FormulaTo, converted)) {
            return s;
        }
        const uint64_t raw = rawFromConverted(chain, node, converted);
        if (const GevStatus s = integerWrite(chain, node.Name, static_cast<int64_t>(raw))) {
            return s;
        }
    }
    if (!isPortNode(node)) {
        node.FloatValue = value;
        return GEV_STATUS_SUCCESS;
    }
    if (access == kAccessRO) {
        return GEV_STATUS_SUCCESS;
    }
    // Float registers are singles, or doubles when eight bytes long.
    const bool eightBytes = holdsDouble(node);
    const uint32_t address = offset + node.Address;
    if (const GevStatus s =
            storePortValue(chain.device(), chain.model(), node, address, eightBytes ? 8u : 4u,
                           patternFromDouble(value, eightBytes))) {
        return s;
    }
    if (node.Cachable == (genicam::kCacheWriteThrough & ~genicam::kCacheEmptyBit)) {
        node.Cachable = genicam::kCacheWriteThrough;
    }
    return GEV_STATUS_SUCCESS;
}

}  // namespace

GevStatus floatWrite(Chain& chain, std::string_view name, double value) {
    FeatureModel& model = chain.model();
    FeatureNode* named = model.findNode(name);
    if (named == nullptr) {
        return GEV_STATUS_FEATURE_NOT_FOUND;
    }
    FeatureNode& node = resolveForFloat(model, *named);
    const uint16_t access = effectiveAccess(*named, node);
    {
        const ChainStep step(chain, node, Step::FloatWrite);
        if (step.status() != GEV_STATUS_SUCCESS) {
            return step.status();
        }
        if (const GevStatus s = writeFloatNode(chain, node, access, value)) {
            return s;
        }
    }
    markWritten(model, *named, node);
    return GEV_STATUS_SUCCESS;
}

}  // namespace detail

GevStatus writeInteger(uint8_t device, genicam::FeatureModel& model, std::string_view name,
                       int64_t value) {
    return detail::onChain(device, model, [&](detail::Chain& chain) {
        return detail::integerWrite(chain, name, value, true);
    });
}

GevStatus writeFloat(uint8_t device, genicam::FeatureModel& model, std::string_view name,
                     double value) {
    return detail::onChain(device, model, [&](detail::Chain& chain) {
        return detail::floatWrite(chain, name, value);
    });
}

}  // namespace kavro::features
