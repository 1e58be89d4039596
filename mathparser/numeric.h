// Value arithmetic of the evaluator. Integers are signed 64-bit and wrap around on overflow;
// doubles follow IEEE 754. Nothing here has undefined behaviour for any input.
#pragma once

#include <cstdint>

#include "mathparser/program.h"

namespace kavro::mathparser {

struct Value {
    int64_t integer = 0;
    double real = 0.0;
    bool isDouble = false;
};

inline Value integerValue(int64_t v) {
    return Value{v, 0.0, false};
}
inline Value doubleValue(double v) {
    return Value{0, v, true};
}

// Truncates toward zero; NaN gives 0 and out-of-range values saturate.
int64_t toInt64(double v);
inline double asDouble(const Value& v) {
    return v.isDouble ? v.real : static_cast<double>(v.integer);
}
inline int64_t asInt64(const Value& v) {
    return v.isDouble ? toInt64(v.real) : v.integer;
}
inline bool isTrue(const Value& v) {
    return v.isDouble ? v.real != 0.0 : v.integer != 0;
}

enum class MathError : uint8_t { None, DivisionByZero };

// Binary operators (Op::BitOr .. Op::Power). Arithmetic on two integers stays integer; a double
// operand makes it double. Bit operators and shifts always work on 64-bit integers.
MathError applyBinary(Op op, const Value& a, const Value& b, Value& out);
Value applyUnary(Op op, const Value& a);
Value applyFunction(Function f, const Value& a);
Value roundDigits(const Value& x, const Value& digits);

}  // namespace kavro::mathparser
