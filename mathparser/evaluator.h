// Runs a compiled Program. Allocation-free except for the first report of an unknown variable.
#pragma once

#include <string_view>

#include "mathparser/numeric.h"
#include "mathparser/program.h"

namespace kavro::mathparser {

// Where the evaluator finds the value of a variable.
class VariableSource {
  public:
    virtual bool load(std::string_view name, Value& value) const = 0;

  protected:
    ~VariableSource() = default;
};

enum class Mode : uint8_t {
    // Integer literals and variables are 64-bit integers; floating literals, PI, E and the
    // transcendental functions bring doubles in, and arithmetic with a double is double.
    Integer,
    // Every value is a double; bit operators and shifts convert their operands to 64-bit
    // integers and their result back to double.
    Double,
};

// Null on success with the result in `out`, else an error text that lives for the process.
const char* run(const Program& program, Mode mode, const VariableSource& variables, Value& out);

}  // namespace kavro::mathparser
