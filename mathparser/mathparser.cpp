// The public operations: argument checks, and no exception ever leaves them.
#include "mathparser/mathparser.h"

#include <cmath>
#include <cstring>
#include <new>
#include <string_view>
#include <type_traits>

#include "mathparser/compiler.h"
#include "mathparser/error_text.h"
#include "mathparser/evaluator.h"
#include "mathparser/formula_cache.h"
#include "mathparser/variable_table.h"

namespace kavro::mathparser {
namespace {

template <typename T>
class TableSource final : public VariableSource {
  public:
    explicit TableSource(const typename VariableTable<T>::Reader& reader) : reader_(reader) {}
    bool load(std::string_view name, Value& value) const override {
        T v{};
        if (!reader_.load(name, v)) {
            return false;
        }
        if constexpr (std::is_same_v<T, double>) {
            value = doubleValue(v);
        } else {
            value = integerValue(v);
        }
        return true;
    }

  private:
    const typename VariableTable<T>::Reader& reader_;
};

// The variables of one evaluation, searched from the last.
template <typename T>
class ListSource final : public VariableSource {
  public:
    explicit ListSource(std::span<const NamedValue<T>> variables) : variables_(variables) {}
    bool load(std::string_view name, Value& value) const override {
        for (auto it = variables_.rbegin(); it != variables_.rend(); ++it) {
            if (it->name != nullptr && name == it->name) {
                if constexpr (std::is_same_v<T, double>) {
                    value = doubleValue(it->value);
                } else {
                    value = integerValue(it->value);
                }
                return true;
            }
        }
        return false;
    }

  private:
    std::span<const NamedValue<T>> variables_;
};

// Reads no further than `limit` + 1 characters, so a huge text is rejected without a full scan.
bool boundedText(const char* text, size_t limit, std::string_view& out) {
    const size_t length = strnlen(text, limit + 1);
    if (length > limit) {
        return false;
    }
    out = std::string_view(text, length);
    return true;
}

// Compiles (once per text) and runs `formula`; `execute(program, value)` runs it with its
// variables.
template <typename T, typename Execute>
const char* evaluate(const char* formula, T* result, Execute&& execute) {
    if (formula == nullptr) {
        return "no formula";
    }
    if (result == nullptr) {
        return "no result address";
    }
    try {
        std::string_view text;
        if (!boundedText(formula, kMaxFormulaLength, text)) {
            return "formula too long";
        }
        const auto program = compiledFormula(text);
        if (program->error != nullptr) {
            return program->error;
        }
        Value value;
        if (const char* error = execute(*program, value)) {
            return error;
        }
        if constexpr (std::is_same_v<T, double>) {
            *result = asDouble(value);
        } else {
            if (value.isDouble && std::isnan(value.real)) {
                return "result is not a number";
            }
            *result = asInt64(value);
        }
        return nullptr;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    } catch (...) {
        return kInternalError;
    }
}

template <typename T>
const char* evaluate(const char* formula, T* result, VariableTable<T>& table, Mode mode) {
    return evaluate(formula, result, [&](const Program& program, Value& value) {
        return table.read([&](const typename VariableTable<T>::Reader& reader) {
            return run(program, mode, TableSource<T>(reader), value);
        });
    });
}

template <typename T>
const char* evaluateWith(const char* formula, std::span<const NamedValue<T>> variables, T* result,
                         Mode mode) {
    return evaluate(formula, result, [&](const Program& program, Value& value) {
        return run(program, mode, ListSource<T>(variables), value);
    });
}

template <typename T>
uint32_t find(const char* name, VariableTable<T>& table) noexcept {
    std::string_view text;
    if (name == nullptr || !boundedText(name, kMaxVariableName, text)) {
        return kNotDefined;
    }
    try {
        return table.find(text);
    } catch (...) {
        return kNotDefined;
    }
}

template <typename T>
uint32_t store(const char* name, const T* value, VariableTable<T>& table, bool define) noexcept {
    std::string_view text;
    if (name == nullptr || value == nullptr || !boundedText(name, kMaxVariableName, text)) {
        return kNotDefined;
    }
    try {
        return define ? table.define(text, *value) : table.set(text, *value);
    } catch (...) {
        return kNotDefined;
    }
}

}  // namespace

uint32_t findIntegerVariable(const char* name) {
    return find(name, integerVariables());
}

uint32_t defineIntegerVariable(const char* name, const int64_t* value) {
    return store(name, value, integerVariables(), true);
}

uint32_t setIntegerVariable(const char* name, const int64_t* value) {
    return store(name, value, integerVariables(), false);
}

const char* evaluateIntegerFormula(const char* formula, int64_t* result) {
    return evaluate(formula, result, integerVariables(), Mode::Integer);
}

uint32_t findDoubleVariable(const char* name) {
    return find(name, doubleVariables());
}

uint32_t defineDoubleVariable(const char* name, const double* value) {
    return store(name, value, doubleVariables(), true);
}

uint32_t setDoubleVariable(const char* name, const double* value) {
    return store(name, value, doubleVariables(), false);
}

const char* evaluateDoubleFormula(const char* formula, double* result) {
    return evaluate(formula, result, doubleVariables(), Mode::Double);
}

const char* evaluateIntegerFormulaWith(const char* formula,
                                       std::span<const NamedValue<int64_t>> variables,
                                       int64_t* result) {
    return evaluateWith(formula, variables, result, Mode::Integer);
}

const char* evaluateDoubleFormulaWith(const char* formula,
                                      std::span<const NamedValue<double>> variables,
                                      double* result) {
    return evaluateWith(formula, variables, result, Mode::Double);
}

}  // namespace kavro::mathparser
