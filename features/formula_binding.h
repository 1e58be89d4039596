// Binding formula variables to the evaluator's process-wide variable tables and evaluating a
// formula, as one step: the variables' values are gathered first (node reads, register traffic),
// then bound and the formula evaluated under one process-wide formula lock, so evaluations on
// other threads or devices cannot change a bound value before it is used. No register traffic
// happens under that lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kavro::features::detail {

template <typename T>
struct Binding {
    const char* name = nullptr;  // stays valid until the evaluation (node strings, literals)
    T value{};
};

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

// Binds each variable in order (find it; define it when undefined, else set it) and evaluates
// `formula`. Null on success with the result stored, else the evaluator's error text (lives for
// the process).
[[nodiscard]] const char* evaluateIntegerFormula(const Bindings<int64_t>& variables,
                                                 const char* formula, int64_t& result);
[[nodiscard]] const char* evaluateDoubleFormula(const Bindings<double>& variables,
                                                const char* formula, double& result);

}  // namespace kavro::features::detail
