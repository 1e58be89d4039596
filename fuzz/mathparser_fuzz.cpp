// Formula text from the fuzzer, evaluated as integer and as double formula. The first byte
// picks a value for the variables the input may name.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mathparser/mathparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kavro::mathparser;
    if (size == 0) {
        return 0;
    }
    const int64_t integer = static_cast<int8_t>(data[0]);
    const double real = static_cast<double>(integer) / 3.0;
    for (const char* name : {"A", "B", "TO", "FROM", "x.y_1"}) {
        defineIntegerVariable(name, &integer);
        defineDoubleVariable(name, &real);
    }
    // An exact-size copy so a read past the terminator shows.
    std::vector<char> formula(size);
    std::memcpy(formula.data(), data + 1, size - 1);
    formula[size - 1] = '\0';
    int64_t intResult = 0;
    double doubleResult = 0;
    (void)evaluateIntegerFormula(formula.data(), &intResult);
    (void)evaluateDoubleFormula(formula.data(), &doubleResult);
    return 0;
}
