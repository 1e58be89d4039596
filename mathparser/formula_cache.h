// Compiled programs by formula text, so each formula is parsed once per process.
#pragma once

#include <memory>
#include <string_view>

#include "mathparser/program.h"

namespace kavro::mathparser {

// The program for `text`, compiled on first use; failed compilations are kept too, with their
// error. Thread-safe. May throw std::bad_alloc.
std::shared_ptr<const Program> compiledFormula(std::string_view text);

}  // namespace kavro::mathparser
