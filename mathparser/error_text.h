// Error texts handed to callers must outlive every call, so they are kept in one process-wide
// pool; equal texts share one copy.
#pragma once

#include <string_view>

namespace kavro::mathparser {

// A stable copy of `text`. When the pool is full or memory runs out, `fallback` (a literal) is
// returned instead, so hostile input cannot grow the pool without bound.
const char* internErrorText(std::string_view text, const char* fallback) noexcept;

// Texts that need no formatting.
inline constexpr const char* kOutOfMemory = "out of memory";
inline constexpr const char* kInternalError = "internal error";

}  // namespace kavro::mathparser
