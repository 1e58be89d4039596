// Steps shared by the reads and writes of node values.
#include "features/node_evaluator.h"
#include "features/node_registers.h"
#include "frame/log.h"

namespace kavro::features::detail {
namespace {

// Whether a failed variable read must end the evaluation rather than leave the variable unbound.
bool endsGathering(GevStatus status) {
    return status == GEV_STATUS_REFERENCE_CYCLE;
}

GevStatus formulaFailure(Chain& chain, const char* error) {
    frame::gevLog(chain.device(), "[ERROR] - MathParser: ");
    frame::gevLog(chain.device(), error);
    return GEV_STATUS_FORMULA_ERROR;
}

// The integer read of a float-kind node as a double: its register bit pattern.
GevStatus floatPatternValue(Chain& chain, const genicam::VariableRef& ref, FeatureNode& node,
                            double& value) {
    uint64_t bits = 0;
    if (const GevStatus s = integerRead(chain, ref.node, bits)) {
        return s;
    }
    const FeatureNode& holder = resolveForIntegerRead(chain.model(), node);
    value = doubleFromPattern(bits, isPortNode(holder) && holdsDouble(holder));
    return GEV_STATUS_SUCCESS;
}

GevStatus integerValue(Chain& chain, const genicam::VariableRef& ref, double& value) {
    uint64_t bits = 0;
    if (const GevStatus s = integerRead(chain, ref.node, bits)) {
        return s;
    }
    value = static_cast<double>(static_cast<int64_t>(bits));
    return GEV_STATUS_SUCCESS;
}

GevStatus doubleVariable(Chain& chain, const genicam::VariableRef& ref, FeatureNode& node,
                         DoubleRule rule, double& value) {
    if (rule == DoubleRule::IntegerValue) {
        return integerValue(chain, ref, value);
    }
    if (isFloatKind(node) && !isPortNode(node)) {
        switch (rule) {
            case DoubleRule::SwissKnife:
                if (!node.Formula.empty()) {
                    return floatRead(chain, ref.node, value);
                }
                if (!node.pIndex.empty() || !node.pValue.empty()) {
                    return floatRead(chain, node.Name, value);
                }
                value = node.FloatValue;
                return GEV_STATUS_SUCCESS;
            case DoubleRule::ConverterRead:
                if (node.Formula.empty()) {
                    value = node.FloatValue;
                    return GEV_STATUS_SUCCESS;
                }
                break;
            case DoubleRule::ConverterWrite:
                value = node.FloatValue;
                return GEV_STATUS_SUCCESS;
            case DoubleRule::IntegerValue:
                break;
        }
    }
    if (isFloatKind(node)) {
        return floatPatternValue(chain, ref, node, value);
    }
    return integerValue(chain, ref, value);
}

}  // namespace

GevStatus addressOffset(Chain& chain, const FeatureNode& node, uint32_t& offset) {
    uint32_t sum = 0;
    for (const std::string& name : node.pAddress) {
        uint64_t part = 0;
        if (const GevStatus s = integerRead(chain, name, part)) {
            return s;
        }
        sum += static_cast<uint32_t>(part);
    }
    offset = sum;
    return GEV_STATUS_SUCCESS;
}

GevStatus selectorIndex(Chain& chain, const FeatureNode& node, uint32_t& index) {
    // Each pIndex times its own pOffset, summed (32-bit, wrapping).
    const auto term = [&chain](const std::string& name, const std::string& offset,
                               uint32_t& out) -> GevStatus {
        uint64_t selected = 0;
        if (const GevStatus s = integerRead(chain, name, selected)) {
            return s;
        }
        out = static_cast<uint32_t>(selected);
        if (!offset.empty()) {
            uint64_t factor = 0;
            if (const GevStatus s = integerRead(chain, offset, factor)) {
                return s;
            }
            out *= static_cast<uint32_t>(factor);
        }
        return GEV_STATUS_SUCCESS;
    };
    uint32_t result = 0;
    if (const GevStatus s = term(node.pIndex, node.pOffset, result)) {
        return s;
    }
    for (const genicam::IndexRef& more : node.morePIndex) {
        uint32_t part = 0;
        if (const GevStatus s = term(more.node, more.pOffset, part)) {
            return s;
        }
        result += part;
    }
    index = result;
    return GEV_STATUS_SUCCESS;
}

GevStatus registerLength(Chain& chain, const FeatureNode& node, uint32_t& length) {
    uint32_t result = node.Length;
    if (!node.pLength.empty()) {
        uint64_t value = 0;
        if (const GevStatus s = integerRead(chain, node.pLength, value)) {
            return s;
        }
        result = static_cast<uint8_t>(value);
    }
    if (result < 1 || result > 8) {
        frame::gevLogf(chain.device(), "[ERROR] - Register length %u of node %s not supported.",
                       result, node.Name.c_str());
        return GEV_STATUS_NOT_SUPPORTED;
    }
    length = result;
    return GEV_STATUS_SUCCESS;
}

GevStatus gatherIntegerVariables(Chain& chain, const FeatureNode& node, Bindings<int64_t>& out) {
    for (const genicam::VariableRef& ref : node.pVariable) {
        uint64_t value = 0;
        const GevStatus s = integerRead(chain, ref.node, value);
        if (s == GEV_STATUS_SUCCESS) {
            out.add(ref.variable.c_str(), static_cast<int64_t>(value));
        } else if (endsGathering(s)) {
            return s;
        }
    }
    return GEV_STATUS_SUCCESS;
}

GevStatus gatherDoubleVariables(Chain& chain, const FeatureNode& node, DoubleRule rule,
                                Bindings<double>& out) {
    for (const genicam::VariableRef& ref : node.pVariable) {
        FeatureNode* variableNode = chain.model().findNode(ref.node);
        if (variableNode == nullptr) {
            continue;
        }
        double value = 0.0;
        const GevStatus s = doubleVariable(chain, ref, *variableNode, rule, value);
        if (s == GEV_STATUS_SUCCESS) {
            out.add(ref.variable.c_str(), value);
        } else if (endsGathering(s)) {
            return s;
        }
    }
    return GEV_STATUS_SUCCESS;
}

GevStatus runIntegerFormula(Chain& chain, const Bindings<int64_t>& variables,
                            const std::string& formula, int64_t& result) {
    if (const char* error = evaluateIntegerFormula(variables, formula.c_str(), result)) {
        return formulaFailure(chain, error);
    }
    return GEV_STATUS_SUCCESS;
}

GevStatus runDoubleFormula(Chain& chain, const Bindings<double>& variables,
                           const std::string& formula, double& result) {
    if (const char* error = evaluateDoubleFormula(variables, formula.c_str(), result)) {
        return formulaFailure(chain, error);
    }
    return GEV_STATUS_SUCCESS;
}

GevStatus integerSwissKnife(Chain& chain, const FeatureNode& node, int64_t& result) {
    Bindings<int64_t> variables;
    if (const GevStatus s = gatherIntegerVariables(chain, node, variables)) {
        return s;
    }
    return runIntegerFormula(chain, variables, node.Formula, result);
}

}  // namespace kavro::features::detail
