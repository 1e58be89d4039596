// Turns formula text into a Program. Syntax errors are reported through Program::error.
#pragma once

#include <memory>
#include <string_view>

#include "mathparser/program.h"

namespace kavro::mathparser {

// Longest formula text accepted; description formulas are far shorter.
inline constexpr size_t kMaxFormulaLength = 64 * 1024;
// Parser recursion bound: keeps hostile nesting from exhausting the thread's stack.
inline constexpr int kMaxNestingDepth = 256;
// Largest value stack an accepted program may need; evaluation keeps it in a fixed array.
inline constexpr size_t kMaxStack = kMaxNestingDepth + 16;

// May throw std::bad_alloc.
std::shared_ptr<const Program> compile(std::string_view text);

}  // namespace kavro::mathparser
