#include "features/formula_binding.h"

namespace kavro::features::detail {

const char* evaluateIntegerFormula(const Bindings<int64_t>& variables, const char* formula,
                                   int64_t& result) {
    int64_t value = 0;
    const char* error = mathparser::evaluateIntegerFormulaWith(formula, variables.items(), &value);
    if (error == nullptr) {
        result = value;
    }
    return error;
}

const char* evaluateDoubleFormula(const Bindings<double>& variables, const char* formula,
                                  double& result) {
    double value = 0.0;
    const char* error = mathparser::evaluateDoubleFormulaWith(formula, variables.items(), &value);
    if (error == nullptr) {
        result = value;
    }
    return error;
}

}  // namespace kavro::features::detail
