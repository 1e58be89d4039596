// The formula evaluator used by SwissKnife and converter nodes: two process-wide variable tables
// (signed 64-bit integers and doubles) and the evaluation of integer and double formulas.
//
// Integer formulas compute in signed 64-bit two's complement: + - * ** and << wrap around,
// / and % truncate toward zero and fail with "division by zero" on a zero divisor, shift counts
// of 64 or more shift everything out (>> is arithmetic) and negative counts shift the other way.
// Floating literals, PI, E and the transcendental functions bring doubles in; arithmetic with a
// double operand is done in double, and a double result is truncated toward zero (saturating;
// NaN is an error). Double formulas compute in IEEE double (x/0 is infinite, % is fmod); bit
// operators and shifts convert their operands to 64-bit integers. Comparisons and logical
// operators give 1 or 0; && || and ?: evaluate only the operand they need. A variable named PI
// or E hides the constant.
//
// Every call is thread-safe. A variable keeps its value for the life of the process and is shared
// by every formula and thread; binding several variables and then evaluating is not atomic, so
// threads that need private values must use names of their own.
#pragma once

#include <cstdint>
#include <span>

namespace kavro::mathparser {

// Returned by the find, define and set calls for a name that is not (or could not be) defined.
inline constexpr uint32_t kNotDefined = 0xFFFFFFFF;

// Handle of the integer variable `name` (stable for the process), or kNotDefined.
uint32_t findIntegerVariable(const char* name);
// Defines `name` with the value at `value` now (a defined name just takes the value); the address
// is not kept. Returns the handle, or kNotDefined for a null/empty name or a full table.
uint32_t defineIntegerVariable(const char* name, const int64_t* value);
// Replaces the value of a defined name; an undefined name is left undefined (kNotDefined).
uint32_t setIntegerVariable(const char* name, const int64_t* value);
// Evaluates `formula` with signed 64-bit arithmetic. On success stores the result and returns
// null; otherwise returns an error text that lives until the process ends (never free it).
const char* evaluateIntegerFormula(const char* formula, int64_t* result);

// The same four for the double table and double formulas.
uint32_t findDoubleVariable(const char* name);
uint32_t defineDoubleVariable(const char* name, const double* value);
uint32_t setDoubleVariable(const char* name, const double* value);
const char* evaluateDoubleFormula(const char* formula, double* result);

// A variable value handed to one evaluation only.
template <typename T>
struct NamedValue {
    const char* name = nullptr;
    T value{};
};

// Evaluate with exactly `variables` (a later entry with the same name wins) and nothing else:
// neither process-wide table is read or changed, so no value is left over from another formula
// or thread. An unknown variable is an error. Same results and error texts as above.
const char* evaluateIntegerFormulaWith(const char* formula,
                                       std::span<const NamedValue<int64_t>> variables,
                                       int64_t* result);
const char* evaluateDoubleFormulaWith(const char* formula,
                                      std::span<const NamedValue<double>> variables,
                                      double* result);

}  // namespace kavro::mathparser
