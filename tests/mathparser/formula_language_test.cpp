// The formula language, table by table: each row is {name, formula, expected result}.
#include <gtest/gtest.h>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "mathparser/mathparser.h"

namespace kavro::mathparser {
namespace {

struct IntegerCase {
    const char* name;
    const char* formula;
    int64_t expected;
};

struct DoubleCase {
    const char* name;
    const char* formula;
    double expected;
};

void expectIntegers(const std::vector<IntegerCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.formula);
        int64_t result = 0x5A5A;
        const char* error = evaluateIntegerFormula(c.formula, &result);
        ASSERT_EQ(error, nullptr) << error;
        EXPECT_EQ(result, c.expected);
    }
}

void expectDoubles(const std::vector<DoubleCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.formula);
        double result = -12345.0;
        const char* error = evaluateDoubleFormula(c.formula, &result);
        ASSERT_EQ(error, nullptr) << error;
        EXPECT_NEAR(result, c.expected, 1e-12 * std::max(1.0, std::fabs(c.expected)));
    }
}

TEST(MathParserLanguage, PrecedenceFromWeakestToStrongest) {
    expectIntegers({
        {"power-precedence", "2**10*2", 2048},
        {"power-right-assoc", "2**3**2", 512},
        {"mul-before-add", "2+3*4", 14},
        {"mod-with-mul", "2*7%4", 2},
        {"sub-left-assoc", "10-4-3", 3},
        {"div-left-assoc", "100/10/5", 2},
        {"add-before-shift", "1<<2+1", 8},
        {"shift-before-relation", "1<<3 > 7", 1},
        {"relation-before-equality", "2 = 1 < 2", 0},
        {"equality-before-and", "6 & 3 = 3", 0},
        {"and-before-xor", "6 ^ 3 & 5", 7},
        {"xor-before-or", "1 | 6 ^ 6", 1},
        {"or-before-logical-and", "0 | 2 && 4", 1},
        {"logical-and-before-or", "1 || 0 && 0", 1},
        {"ternary-weakest-then", "1 ? 2 : 3 + 4", 2},
        {"ternary-condition-logical", "0 || 1 ? 10 : 20", 10},
        {"ternary-else-chain", "0 ? 1 : 0 ? 2 : 3", 3},
        {"ternary-in-then", "1 ? 0 ? 4 : 5 : 6", 5},
        {"ternary-in-parentheses", "(1 ? 2 : 3) * 10", 20},
        {"unary-minus-before-power", "-2**2", 4},
        {"unary-chain", "- -3", 3},
        {"unary-plus", "+5", 5},
        {"not-before-add", "!0+1", 2},
        {"complement-before-and", "~0&0xF", 15},
        {"whitespace-anywhere", " \t( 1\n+\r\n2 ) ", 3},
    });
}

TEST(MathParserLanguage, IntegerArithmeticIsSigned64Bit) {
    expectIntegers({
        {"division-truncates", "7/2", 3},
        {"division-toward-zero", "-7/2", -3},
        {"modulo-sign-of-dividend", "-7%3", -1},
        {"power-zero", "5**0", 1},
        {"power-negative-exponent", "2**-1", 0},
        {"power-minus-one-odd", "(-1)**-3", -1},
        {"power-one-negative", "1**-5", 1},
        {"add-wraps", "0x7FFFFFFFFFFFFFFF+1", INT64_MIN},
        {"sub-wraps", "(-0x7FFFFFFFFFFFFFFF-1)-1", INT64_MAX},
        {"mul-wraps", "3037000500*3037000500", -9223372036709301616},
        {"power-wraps", "3**40", -6289078614652622815},
        {"power-overflow-to-zero", "2**64", 0},
        {"min-divided-by-minus-one", "(-0x7FFFFFFFFFFFFFFF-1)/-1", INT64_MIN},
        {"min-modulo-minus-one", "(-0x7FFFFFFFFFFFFFFF-1)%-1", 0},
        {"negate-min", "-(-0x7FFFFFFFFFFFFFFF-1)", INT64_MIN},
        {"abs-min", "ABS(-0x7FFFFFFFFFFFFFFF-1)", INT64_MIN},
    });
}

TEST(MathParserLanguage, BitOperatorsShiftsAndComparisons) {
    expectIntegers({
        {"or", "0xF0|0x0F", 255},
        {"xor", "0xFF^0x0F", 240},
        {"and", "0xFF&0x0F", 15},
        {"not-nonzero", "!5", 0},
        {"shift-to-sign", "1<<63", INT64_MIN},
        {"shift-left-64", "1<<64", 0},
        {"shift-right-arithmetic", "-8>>1", -4},
        {"shift-right-beyond", "-1>>70", -1},
        {"shift-right-beyond-positive", "5>>64", 0},
        {"shift-left-negative-count", "4<<-1", 2},
        {"shift-right-negative-count", "16>>-2", 64},
        {"equal", "3 = 3", 1},
        {"not-equal-false", "3<>3", 0},
        {"not-equal-true", "3<>4", 1},
        {"less", "2<3", 1},
        {"less-equal", "2<=2", 1},
        {"greater", "3>2", 1},
        {"greater-equal", "3>=4", 0},
        {"logical-or-value", "0 || 9", 1},
        {"logical-or-false", "0 || 0", 0},
        // Only the chosen operand runs, so a guarded division never fails.
        {"short-and", "0 && 1/0", 0},
        {"short-or", "1 || 1/0", 1},
        {"ternary-then", "1 ? 5 : 1/0", 5},
        {"ternary-else", "0 ? 1%0 : 6", 6},
        {"unknown-variable-not-read", "1 ? 3 : NeverDefinedVariable", 3},
    });
}

TEST(MathParserLanguage, Literals) {
    expectIntegers({
        {"hex-upper-prefix-lower-digits", "0X1f", 31},
        {"hex-32-bit", "0x80000000", 2147483648},
        {"hex-all-ones-is-minus-one", "0xffffffffffffffff", -1},
        {"hex-leading-zeros", "0x00000000000000000001", 1},
        {"decimal-above-int64", "18446744073709551615", -1},
        {"exponent", "1.5e3", 1500},
        {"exponent-upper-signed", "15E+2", 1500},
        {"leading-dot", ".5+.5", 1},
        {"trailing-dot", "2.*3", 6},
    });
    expectDoubles({
        {"exponent-negative", "1e-3*1000", 1.0},
        {"hex-in-double", "0x10/4", 4.0},
        {"hex-all-ones-in-double", "0xFFFFFFFFFFFFFFFF", -1.0},
    });
}

// An integer formula keeps integers until a floating literal, constant or function brings a
// double in; the final double is truncated toward zero.
TEST(MathParserLanguage, IntegerFormulaWithDoubles) {
    expectIntegers({
        {"literal-promotes", "3*1.5", 4},
        {"integer-division-first", "7/2*2.0", 6},
        {"double-division", "10/4.0", 2},
        {"truncates-toward-zero", "-2.7", -2},
        {"saturates", "1e30", INT64_MAX},
        {"saturates-negative", "-1e30", INT64_MIN},
        {"pi", "PI*1000", 3141},
        {"e", "E*1000", 2718},
        {"double-modulo", "7.5%2*10", 15},
        {"bit-op-truncates", "5.9|0", 5},
        {"comparison-of-doubles", "0.1+0.2 > 0.3", 1},
    });
}

TEST(MathParserLanguage, DoubleFormulaComputesInDouble) {
    expectDoubles({
        {"division", "7/2", 3.5},
        {"bit-results-are-doubles", "(5&3)/(6&4)", 0.25},
        {"shift", "1 << 3", 8.0},
        {"bit-op-truncates-operands", "5.9 | 0.5", 5.0},
        {"modulo-is-fmod", "7.5%2", 1.5},
        {"modulo-sign", "-7.5%2", -1.5},
        {"power-fraction", "2**0.5", std::sqrt(2.0)},
        {"power-negative", "2**-1", 0.5},
        {"comparison", "3 > 2", 1.0},
        {"not", "!2.5", 0.0},
        {"complement", "~0", -1.0},
        {"ternary", "0.0 ? 1 : 2.5", 2.5},
    });
    double result = 0;
    ASSERT_EQ(evaluateDoubleFormula("1/0", &result), nullptr);
    EXPECT_TRUE(std::isinf(result));
    ASSERT_EQ(evaluateDoubleFormula("SQRT(-1)", &result), nullptr);
    EXPECT_TRUE(std::isnan(result));
}

TEST(MathParserLanguage, Functions) {
    const double pi = std::acos(-1.0);
    expectDoubles({
        {"sgn-negative", "SGN(-0.5)", -1.0},
        {"sgn-zero", "SGN(0)", 0.0},
        {"sgn-positive", "SGN(3)", 1.0},
        {"neg", "NEG(1.5)", -1.5},
        {"abs", "ABS(-1.5)", 1.5},
        {"atan", "ATAN(1)", pi / 4},
        {"cos", "COS(PI)", -1.0},
        {"sin", "SIN(PI/2)", 1.0},
        {"tan", "TAN(PI/4)", 1.0},
        {"exp", "EXP(1)", std::exp(1.0)},
        {"ln", "LN(E)", 1.0},
        {"lg", "LG(100)", 2.0},
        {"sqrt", "SQRT(2)", std::sqrt(2.0)},
        {"trunc", "TRUNC(-2.7)", -2.0},
        {"floor", "FLOOR(-2.5)", -3.0},
        {"ceil", "CEIL(-2.5)", -2.0},
        {"round-half-away", "ROUND(-2.5)", -3.0},
        {"round-digits", "ROUND(3.14159, 2)", 3.14},
        {"round-negative-digits", "ROUND(1250, -2)", 1300.0},
        {"round-huge-digits", "ROUND(1.5, 400)", 1.5},
        {"asin", "ASIN(1)", pi / 2},
        {"acos", "ACOS(-1)", pi},
        {"nested", "SQRT(ABS(NEG(16)))", 4.0},
        {"expression-argument", "ROUND(10/4, 1 + 0)", 2.5},
    });
    expectIntegers({
        {"sgn", "SGN(-5)", -1},
        {"neg", "NEG(3)", -3},
        {"abs", "ABS(-4)", 4},
        {"round-integer-exact", "ROUND(0x7FFFFFFFFFFFFFFF)", INT64_MAX},
        {"round", "ROUND(2.5)", 3},
        {"round-negative-digits", "ROUND(1234, -2)", 1200},
        {"sin-then-scale", "SIN(1)*100", 84},  // the other functions compute in double alike
    });
}

TEST(MathParserLanguage, LongFlatAndModeratelyNestedFormulas) {
    std::string flat = "1";
    for (int i = 0; i < 20000; ++i)
        flat += "+1";
    const std::string nested = [] {
        std::string f;
        for (int i = 0; i < 40; ++i)
            f += "(1+";
        return f + "0" + std::string(40, ')');
    }();
    expectIntegers({{"flat", flat.c_str(), 20001}, {"nested", nested.c_str(), 40}});
}

// Formulas that must fail, and the texts they fail with.
struct ErrorCase {
    const char* name;
    const char* formula;
    const char* error;
};

void expectErrors(const std::vector<ErrorCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.formula);
        int64_t result = 77;
        const char* error = evaluateIntegerFormula(c.formula, &result);
        ASSERT_NE(error, nullptr);
        EXPECT_STREQ(error, c.error);
        EXPECT_EQ(result, 77) << "a failure leaves the result alone";
    }
}

TEST(MathParserErrors, SyntaxAndFunctionErrorsNameWhatAndWhere) {
    expectErrors({
        {"empty", "", "empty formula"},
        {"blank", "  \t", "empty formula"},
        {"missing-operand", "1 +", "unexpected end of formula at column 4"},
        {"missing-parenthesis", "(1+2", "expected \")\" but found end of formula at column 5"},
        {"extra-parenthesis", "(1+2))", "unexpected \")\" at column 6"},
        {"two-numbers", "1 2", "unexpected \"2\" at column 3"},
        {"number-then-name", "12abc", "unexpected \"abc\" at column 3"},
        {"c-style-not-equal", "1 != 2", "unexpected \"!\" at column 3"},
        {"missing-colon", "1 ? 2", "expected \":\" but found end of formula at column 6"},
        {"stray-colon", "1 : 2", "unexpected \":\" at column 3"},
        {"bad-character", "1 $ 2", "unexpected character \"$\" at column 3"},
        {"hex-without-digits", "0x", "hexadecimal number without digits \"0x\" at column 1"},
        {"hex-too-long", "1+0x10000000000000000",
         "number does not fit in 64 bits \"0x10000000000000000\" at column 3"},
        {"decimal-too-long", "18446744073709551616",
         "number does not fit in 64 bits \"18446744073709551616\" at column 1"},
        {"exponent-out-of-range", "1e999", "number out of range \"1e999\" at column 1"},
        // Functions are upper case and take their arguments.
        {"unknown-function", "FOO(1)", "unknown function \"FOO\" at column 1"},
        {"lower-case-function", "2*sin(1)", "unknown function \"sin\" at column 3"},
        {"missing-argument-list", "SIN 1", "expected \"(\" after SIN at column 5"},
        {"function-as-value", "ABS+1", "expected \"(\" after ABS at column 4"},
        {"no-arguments", "SQRT()", "unexpected \")\" at column 6"},
        {"two-arguments", "SIN(1, 2)", "SIN takes one argument at column 6"},
        {"round-three-arguments", "ROUND(1,2,3)", "ROUND takes one or two arguments at column 10"},
    });
}

TEST(MathParserErrors, EvaluationErrors) {
    expectErrors({
        {"division-by-zero", "1/0", "division by zero"},
        {"modulo-by-zero", "5%(3-3)", "division by zero"},
        {"zero-to-negative-power", "0**-1", "division by zero"},
        {"not-a-number", "SQRT(-1)", "result is not a number"},
        {"unknown-variable", "NoSuchVariable_xyz + 1", "unknown variable \"NoSuchVariable_xyz\""},
    });
    double result = 0;
    EXPECT_STREQ(evaluateDoubleFormula("2*Undefined.Double", &result),
                 "unknown variable \"Undefined.Double\"");
}

// Missing arguments are refused. Callers keep and log an error text without freeing it: the
// same failure gives the same text.
TEST(MathParserErrors, MissingArgumentsAndStableTexts) {
    int64_t integer = 0;
    double real = 0;
    EXPECT_STREQ(evaluateIntegerFormula(nullptr, &integer), "no formula");
    EXPECT_STREQ(evaluateIntegerFormula("1", nullptr), "no result address");
    EXPECT_STREQ(evaluateDoubleFormula(nullptr, &real), "no formula");
    EXPECT_STREQ(evaluateDoubleFormula("1", nullptr), "no result address");

    const char* first = evaluateIntegerFormula("1 +", &integer);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, evaluateIntegerFormula("1 +", &integer));
    const char* unknown = evaluateIntegerFormula("StableUnknown", &integer);
    EXPECT_EQ(unknown, evaluateIntegerFormula("StableUnknown*2", &integer));
}

// Hostile descriptions must not exhaust the stack or memory.
TEST(MathParserErrors, NestingAndLengthAreBounded) {
    const int depth = 100000;
    const std::vector<std::pair<std::string, std::string>> nests = {
        {"(", ")"}, {"-", ""}, {"2**", ""}, {"1?", ":0"}, {"SIN(", ")"},
    };
    for (const auto& [open, close] : nests) {
        SCOPED_TRACE(open);
        std::string formula;
        for (int i = 0; i < depth; ++i) {
            formula += open;
        }
        formula += "1";
        for (int i = 0; i < depth; ++i) {
            formula += close;
        }
        if (formula.size() > 64 * 1024) {
            formula.resize(60 * 1024);  // keep under the length bound: the depth must trip
        }
        int64_t result = 0;
        EXPECT_STREQ(evaluateIntegerFormula(formula.c_str(), &result), "formula nested too deeply");
    }
    const std::string longFormula(64 * 1024 + 1, '1');
    int64_t result = 0;
    EXPECT_STREQ(evaluateIntegerFormula(longFormula.c_str(), &result), "formula too long");
}

}  // namespace
}  // namespace kavro::mathparser
