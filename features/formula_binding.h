// The variables of one formula and its evaluation: the values are gathered first (node reads,
// register traffic), then the formula is evaluated with exactly those variables. Nothing is kept
// between evaluations, so a variable that could not be read is unknown to the formula (which then
// fails) instead of carrying a value from another formula, device or call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mathparser/mathparser.h"

namespace kavro::features::detail {

// `name` stays valid until the evaluation (node strings, literals).
template <typename T>
using Binding = mathparser::NamedValue<T>;

// The variables of one formula in binding order; the usual handful is kept in place.
template <typename T>
class Bindings final {
  public:
    // May throw std::bad_alloc beyond the in-place capacity.
    void add(const char* name, T value) {
        if (count_ < inline_.size() && spill_.empty()) {
            inline_[count_] = Binding<T>{name, value};
        } else {
            if (spill_.empty()) {
                spill_.assign(inline_.begin(), inline_.begin() + count_);
            }
            spill_.push_back(Binding<T>{name, value});
        }
        ++count_;
    }
    [[nodiscard]] std::span<const Binding<T>> items() const {
        if (spill_.empty()) {
            return std::span<const Binding<T>>(inline_.data(), count_);
        }
        return std::span<const Binding<T>>(spill_);
    }

  private:
    std::array<Binding<T>, 8> inline_{};
    std::vector<Binding<T>> spill_;
    size_t count_ = 0;
};

// Evaluates `formula` with `variables` (a later one of the same name wins). Null on success with
// the result stored, else the evaluator's error text (lives for the process).
[[nodiscard]] const char* evaluateIntegerFormula(const Bindings<int64_t>& variables,
                                                 const char* formula, int64_t& result);
[[nodiscard]] const char* evaluateDoubleFormula(const Bindings<double>& variables,
                                                const char* formula, double& result);

}  // namespace kavro::features::detail
