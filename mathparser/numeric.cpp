#include "mathparser/numeric.h"

#include <cmath>
#include <cstdint>

namespace kavro::mathparser {
namespace {

constexpr double kTwoPow63 = 9223372036854775808.0;

// Two's complement wrap-around through unsigned arithmetic.
int64_t wrap(uint64_t v) {
    return static_cast<int64_t>(v);
}
uint64_t bits(int64_t v) {
    return static_cast<uint64_t>(v);
}

int64_t shiftLeft(int64_t value, int64_t count);

// Arithmetic shift; counts of 64 and more leave only the sign, negative counts shift left.
int64_t shiftRight(int64_t value, int64_t count) {
    if (count < 0) {
        return count == INT64_MIN ? 0 : shiftLeft(value, -count);
    }
    if (count >= 64) {
        return value < 0 ? -1 : 0;
    }
    return value >> count;
}

// Counts of 64 and more give 0, negative counts shift right.
int64_t shiftLeft(int64_t value, int64_t count) {
    if (count < 0) {
        return count == INT64_MIN ? (value < 0 ? -1 : 0) : shiftRight(value, -count);
    }
    if (count >= 64) {
        return 0;
    }
    return wrap(bits(value) << count);
}

// Integer power, wrapping. A negative exponent gives the truncated quotient 1 / a**-e.
MathError integerPower(int64_t base, int64_t exponent, int64_t& out) {
    if (exponent < 0) {
        if (base == 0) {
            return MathError::DivisionByZero;
        }
        if (base == 1) {
            out = 1;
        } else if (base == -1) {
            out = (exponent & 1) != 0 ? -1 : 1;
        } else {
            out = 0;
        }
        return MathError::None;
    }
    uint64_t result = 1;
    uint64_t factor = bits(base);
    for (auto e = static_cast<uint64_t>(exponent); e != 0; e >>= 1) {
        if ((e & 1) != 0) {
            result *= factor;
        }
        factor *= factor;
    }
    out = wrap(result);
    return MathError::None;
}

MathError integerBinary(Op op, int64_t a, int64_t b, int64_t& out) {
    switch (op) {
        case Op::Add:
            out = wrap(bits(a) + bits(b));
            break;
        case Op::Subtract:
            out = wrap(bits(a) - bits(b));
            break;
        case Op::Multiply:
            out = wrap(bits(a) * bits(b));
            break;
        case Op::Divide:
            if (b == 0) {
                return MathError::DivisionByZero;
            }
            out = b == -1 ? wrap(0 - bits(a)) : a / b;
            break;
        case Op::Modulo:
            if (b == 0) {
                return MathError::DivisionByZero;
            }
            out = b == -1 ? 0 : a % b;
            break;
        case Op::Power:
            return integerPower(a, b, out);
        case Op::Equal:
            out = a == b;
            break;
        case Op::NotEqual:
            out = a != b;
            break;
        case Op::Less:
            out = a < b;
            break;
        case Op::LessEqual:
            out = a <= b;
            break;
        case Op::Greater:
            out = a > b;
            break;
        case Op::GreaterEqual:
            out = a >= b;
            break;
        default:
            out = 0;
            break;
    }
    return MathError::None;
}

Value doubleBinary(Op op, double a, double b) {
    switch (op) {
        case Op::Add:
            return doubleValue(a + b);
        case Op::Subtract:
            return doubleValue(a - b);
        case Op::Multiply:
            return doubleValue(a * b);
        case Op::Divide:
            return doubleValue(a / b);
        case Op::Modulo:
            return doubleValue(std::fmod(a, b));
        case Op::Power:
            return doubleValue(std::pow(a, b));
        case Op::Equal:
            return integerValue(a == b);
        case Op::NotEqual:
            return integerValue(a != b);
        case Op::Less:
            return integerValue(a < b);
        case Op::LessEqual:
            return integerValue(a <= b);
        case Op::Greater:
            return integerValue(a > b);
        case Op::GreaterEqual:
            return integerValue(a >= b);
        default:
            return integerValue(0);
    }
}

}  // namespace

int64_t toInt64(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    if (v >= kTwoPow63) {
        return INT64_MAX;
    }
    if (v < -kTwoPow63) {
        return INT64_MIN;
    }
    return static_cast<int64_t>(v);
}

MathError applyBinary(Op op, const Value& a, const Value& b, Value& out) {
    switch (op) {
        case Op::BitOr:
            out = integerValue(asInt64(a) | asInt64(b));
            return MathError::None;
        case Op::BitXor:
            out = integerValue(asInt64(a) ^ asInt64(b));
            return MathError::None;
        case Op::BitAnd:
            out = integerValue(asInt64(a) & asInt64(b));
            return MathError::None;
        case Op::ShiftLeft:
            out = integerValue(shiftLeft(asInt64(a), asInt64(b)));
            return MathError::None;
        case Op::ShiftRight:
            out = integerValue(shiftRight(asInt64(a), asInt64(b)));
            return MathError::None;
        default:
            break;
    }
    if (a.isDouble || b.isDouble) {
        out = doubleBinary(op, asDouble(a), asDouble(b));
        return MathError::None;
    }
    int64_t result = 0;
    const MathError error = integerBinary(op, a.integer, b.integer, result);
    out = integerValue(result);
    return error;
}

Value applyUnary(Op op, const Value& a) {
    switch (op) {
        case Op::Negate:
            return a.isDouble ? doubleValue(-a.real) : integerValue(wrap(0 - bits(a.integer)));
        case Op::Not:
            return integerValue(!isTrue(a));
        case Op::Complement:
            return integerValue(~asInt64(a));
        default:
            return a;
    }
}

Value applyFunction(Function f, const Value& a) {
    if (!a.isDouble) {
        // Integer in, integer out where the result is exact.
        const int64_t v = a.integer;
        switch (f) {
            case Function::Sgn:
                return integerValue((v > 0) - (v < 0));
            case Function::Neg:
                return integerValue(wrap(0 - bits(v)));
            case Function::Abs:
                return integerValue(v < 0 ? wrap(0 - bits(v)) : v);
            case Function::Trunc:
            case Function::Floor:
            case Function::Ceil:
            case Function::Round:
                return a;
            default:
                break;
        }
    }
    const double x = asDouble(a);
    switch (f) {
        case Function::Sgn:
            return doubleValue(std::isnan(x) ? x : (x > 0) - (x < 0));
        case Function::Neg:
            return doubleValue(-x);
        case Function::Atan:
            return doubleValue(std::atan(x));
        case Function::Cos:
            return doubleValue(std::cos(x));
        case Function::Sin:
            return doubleValue(std::sin(x));
        case Function::Tan:
            return doubleValue(std::tan(x));
        case Function::Abs:
            return doubleValue(std::fabs(x));
        case Function::Exp:
            return doubleValue(std::exp(x));
        case Function::Ln:
            return doubleValue(std::log(x));
        case Function::Lg:
            return doubleValue(std::log10(x));
        case Function::Sqrt:
            return doubleValue(std::sqrt(x));
        case Function::Trunc:
            return doubleValue(std::trunc(x));
        case Function::Floor:
            return doubleValue(std::floor(x));
        case Function::Ceil:
            return doubleValue(std::ceil(x));
        case Function::Round:
            return doubleValue(std::round(x));
        case Function::Asin:
            return doubleValue(std::asin(x));
        case Function::Acos:
            return doubleValue(std::acos(x));
    }
    return doubleValue(x);
}

// Rounds half away from zero at `digits` decimals; negative digits round left of the point.
Value roundDigits(const Value& x, const Value& digits) {
    // Beyond this 10**digits is no longer finite and nothing is left to round.
    constexpr int64_t kMaxDigits = 308;
    const int64_t d = asInt64(digits);
    if (!x.isDouble && d >= 0) {
        return x;
    }
    const double v = asDouble(x);
    if (d > kMaxDigits || !std::isfinite(v)) {
        return doubleValue(v);
    }
    if (d < -kMaxDigits) {
        return doubleValue(std::copysign(0.0, v));
    }
    const double scale = std::pow(10.0, static_cast<double>(d < 0 ? -d : d));
    if (d >= 0) {
        const double scaled = v * scale;
        return doubleValue(std::isfinite(scaled) ? std::round(scaled) / scale : v);
    }
    return doubleValue(std::round(v / scale) * scale);
}

}  // namespace kavro::mathparser
