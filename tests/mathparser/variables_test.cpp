// The process-wide variable tables: binding, lookup, and use from several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "mathparser/mathparser.h"

namespace kavro::mathparser {
namespace {

// How the device-description code binds: find, then define or set, through one scratch value.
void bindInteger(const char* name, int64_t value) {
    int64_t scratch = value;
    if (findIntegerVariable(name) == kNotDefined) {
        defineIntegerVariable(name, &scratch);
    } else {
        setIntegerVariable(name, &scratch);
    }
}

void bindDouble(const char* name, double value) {
    double scratch = value;
    if (findDoubleVariable(name) == kNotDefined) {
        defineDoubleVariable(name, &scratch);
    } else {
        setDoubleVariable(name, &scratch);
    }
}

int64_t integerResult(const char* formula) {
    int64_t result = 0;
    const char* error = evaluateIntegerFormula(formula, &result);
    EXPECT_EQ(error, nullptr) << formula << ": " << error;
    return result;
}

double doubleResult(const char* formula) {
    double result = 0;
    const char* error = evaluateDoubleFormula(formula, &result);
    EXPECT_EQ(error, nullptr) << formula << ": " << error;
    return result;
}

TEST(MathParserVariables, DefineFindAndSetAndInvalidArgumentsAreRejected) {
    EXPECT_EQ(findIntegerVariable("Vt_Width"), kNotDefined);
    int64_t scratch = 640;
    const uint32_t handle = defineIntegerVariable("Vt_Width", &scratch);
    ASSERT_NE(handle, kNotDefined);
    EXPECT_EQ(findIntegerVariable("Vt_Width"), handle);
    // The value was copied: the caller reuses its scratch slot for the next variable.
    scratch = 480;
    EXPECT_EQ(integerResult("Vt_Width * 2"), 1280);

    EXPECT_EQ(setIntegerVariable("Vt_Width", &scratch), handle);
    EXPECT_EQ(integerResult("Vt_Width * 2"), 960);
    scratch = 1;
    EXPECT_EQ(defineIntegerVariable("Vt_Width", &scratch), handle) << "redefining keeps the handle";
    EXPECT_EQ(integerResult("Vt_Width"), 1);

    // Set does not define; invalid arguments are rejected.
    int64_t value = 5;
    double real = 5;
    EXPECT_EQ(setIntegerVariable("Vt_NeverDefined", &value), kNotDefined);
    EXPECT_EQ(findIntegerVariable("Vt_NeverDefined"), kNotDefined);
    EXPECT_EQ(setDoubleVariable("Vt_NeverDefined", &real), kNotDefined);
    EXPECT_EQ(findDoubleVariable("Vt_NeverDefined"), kNotDefined);
    EXPECT_EQ(findIntegerVariable(nullptr), kNotDefined);
    EXPECT_EQ(defineIntegerVariable(nullptr, &value), kNotDefined);
    EXPECT_EQ(defineIntegerVariable("", &value), kNotDefined);
    EXPECT_EQ(defineIntegerVariable("Vt_NoValue", nullptr), kNotDefined);
    EXPECT_EQ(findIntegerVariable("Vt_NoValue"), kNotDefined);
}

TEST(MathParserVariables, IntegerAndDoubleTablesAreSeparate) {
    bindInteger("Vt_Separate", 7);
    EXPECT_EQ(findDoubleVariable("Vt_Separate"), kNotDefined);
    double result = 0;
    EXPECT_STREQ(evaluateDoubleFormula("Vt_Separate", &result), "unknown variable \"Vt_Separate\"");
    bindDouble("Vt_Separate", 2.5);
    EXPECT_EQ(integerResult("Vt_Separate"), 7);
    EXPECT_EQ(doubleResult("Vt_Separate"), 2.5);
}

// Names are case-sensitive and may hold dots and underscores; values keep all 64 bits.
TEST(MathParserVariables, NamesAndValuesAreKeptExactly) {
    bindInteger("pValue_1", 3);
    bindInteger("Vt.Gain.Raw", 100);
    bindInteger("vt_case", 1);
    bindInteger("VT_CASE", 2);
    EXPECT_EQ(integerResult("pValue_1 + Vt.Gain.Raw"), 103);
    EXPECT_EQ(integerResult("vt_case * 10 + VT_CASE"), 12);
    bindInteger("Vt_Big", INT64_MIN);
    EXPECT_EQ(integerResult("Vt_Big"), INT64_MIN);
    EXPECT_EQ(integerResult("Vt_Big >> 63"), -1);
    EXPECT_EQ(integerResult("Vt_Big - 1"), INT64_MAX);
}

// A variable named like a constant wins over it. Checked in a child process so that the
// process-wide definition cannot change the constant for other tests.
TEST(MathParserVariablesDeathTest, VariableShadowsConstant) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bindInteger("PI", 3);
            bindDouble("E", 2.0);
            const bool ok = integerResult("PI * 10") == 30 && doubleResult("E * 2") == 4.0 &&
                            doubleResult("PI") > 3.14;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Threads that bind names of their own always see their own values, while sharing formula
// texts with each other through the compiled-formula cache.
TEST(MathParserVariables, ConcurrentBindingAndEvaluation) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string a = "Thread" + std::to_string(t) + "_A";
            const std::string b = "Thread" + std::to_string(t) + "_B";
            const std::string formula = a + " * 2 + " + b;
            const std::string scaled = "(" + a + " + 0.5) * 2";
            for (int i = 0; i < kRounds; ++i) {
                const int64_t va = t * 100000 + i;
                bindInteger(a.c_str(), va);
                bindInteger(b.c_str(), i);
                bindDouble(a.c_str(), static_cast<double>(va));
                int64_t result = 0;
                double real = 0;
                // Each round also compiles a text no other round has seen.
                const std::string fresh = std::to_string(i) + " + " + std::to_string(t);
                if (evaluateIntegerFormula(formula.c_str(), &result) != nullptr ||
                    result != va * 2 + i ||
                    evaluateDoubleFormula(scaled.c_str(), &real) != nullptr ||
                    real != static_cast<double>(va) * 2 + 1 ||
                    evaluateIntegerFormula("(0x10 << 2) | 1", &result) != nullptr || result != 65 ||
                    evaluateIntegerFormula(fresh.c_str(), &result) != nullptr || result != i + t) {
                    failures.fetch_add(1);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace kavro::mathparser
