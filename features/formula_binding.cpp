#include "features/formula_binding.h"

#include <mutex>

#include "mathparser/mathparser.h"

namespace kavro::features::detail {
namespace {

// Serialises bind-and-evaluate across the process: the variable tables are shared by every
// device and formula.
std::mutex& formulaLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

const char* evaluateIntegerFormula(const Bindings<int64_t>& variables, const char* formula,
                                   int64_t& result) {
    std::lock_guard lock(formulaLock());
    int64_t scratch = 0;  // one slot rewritten before each call: the evaluator copies the value
    for (const Binding<int64_t>& binding : variables.items()) {
        scratch = binding.value;
        if (mathparser::findIntegerVariable(binding.name) == mathparser::kNotDefined) {
            (void)mathparser::defineIntegerVariable(binding.name, &scratch);
        } else {
            (void)mathparser::setIntegerVariable(binding.name, &scratch);
        }
    }
    int64_t value = 0;
    const char* error = mathparser::evaluateIntegerFormula(formula, &value);
    if (error == nullptr) {
        result = value;
    }
    return error;
}

const char* evaluateDoubleFormula(const Bindings<double>& variables, const char* formula,
                                  double& result) {
    std::lock_guard lock(formulaLock());
    double scratch = 0.0;
    for (const Binding<double>& binding : variables.items()) {
        scratch = binding.value;
        if (mathparser::findDoubleVariable(binding.name) == mathparser::kNotDefined) {
            (void)mathparser::defineDoubleVariable(binding.name, &scratch);
        } else {
            (void)mathparser::setDoubleVariable(binding.name, &scratch);
        }
    }
    double value = 0.0;
    const char* error = mathparser::evaluateDoubleFormula(formula, &value);
    if (error == nullptr) {
        result = value;
    }
    return error;
}

}  // namespace kavro::features::detail
