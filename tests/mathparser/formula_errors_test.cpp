// Formulas that must fail, and the texts they fail with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mathparser/mathparser.h"

namespace kavro::mathparser {
namespace {

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

TEST(MathParserErrors, SyntaxErrorsNameWhatAndWhere) {
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
    });
}

TEST(MathParserErrors, FunctionsAreUpperCaseAndTakeTheirArguments) {
    expectErrors({
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

TEST(MathParserErrors, MissingArguments) {
    int64_t integer = 0;
    double real = 0;
    EXPECT_STREQ(evaluateIntegerFormula(nullptr, &integer), "no formula");
    EXPECT_STREQ(evaluateIntegerFormula("1", nullptr), "no result address");
    EXPECT_STREQ(evaluateDoubleFormula(nullptr, &real), "no formula");
    EXPECT_STREQ(evaluateDoubleFormula("1", nullptr), "no result address");
}

// Callers keep and log the pointer without freeing it: the same failure gives the same text.
TEST(MathParserErrors, TextsAreStable) {
    int64_t result = 0;
    const char* first = evaluateIntegerFormula("1 +", &result);
    const char* second = evaluateIntegerFormula("1 +", &result);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    const char* unknown = evaluateIntegerFormula("StableUnknown", &result);
    EXPECT_EQ(unknown, evaluateIntegerFormula("StableUnknown*2", &result));
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

TEST(MathParserErrors, ModerateNestingIsAccepted) {
    std::string formula;
    for (int i = 0; i < 40; ++i) {
        formula += "(1+";
    }
    formula += "0";
    formula += std::string(40, ')');
    int64_t result = 0;
    ASSERT_EQ(evaluateIntegerFormula(formula.c_str(), &result), nullptr);
    EXPECT_EQ(result, 40);
}

}  // namespace
}  // namespace kavro::mathparser
