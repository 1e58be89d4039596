// A process-wide table of named variables of one type. Names are never removed, so the handle
// returned for a name (its position in the table) stays valid for the life of the process.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "mathparser/mathparser.h"

namespace kavro::mathparser {

// Bounds for hostile descriptions; real ones bind a handful of names.
inline constexpr size_t kMaxVariables = 65536;
inline constexpr size_t kMaxVariableName = 1024;

template <typename T>
class VariableTable {
  public:
    // Read access to the values while the table is read-locked (see read()).
    class Reader {
      public:
        bool load(std::string_view name, T& value) const {
            const auto found = table_.index_.find(name);
            if (found == table_.index_.end()) {
                return false;
            }
            value = table_.values_[found->second];
            return true;
        }

      private:
        friend class VariableTable;
        explicit Reader(const VariableTable& table) : table_(table) {}
        const VariableTable& table_;
    };

    uint32_t find(std::string_view name) const {
        std::shared_lock lock(mutex_);
        const auto found = index_.find(name);
        return found == index_.end() ? kNotDefined : found->second;
    }

    // May throw std::bad_alloc.
    uint32_t define(std::string_view name, T value) {
        if (name.empty() || name.size() > kMaxVariableName) {
            return kNotDefined;
        }
        std::unique_lock lock(mutex_);
        const auto found = index_.find(name);
        if (found != index_.end()) {
            values_[found->second] = value;
            return found->second;
        }
        if (values_.size() >= kMaxVariables) {
            return kNotDefined;
        }
        values_.push_back(value);
        const auto handle = static_cast<uint32_t>(values_.size() - 1);
        try {
            index_.emplace(std::string(name), handle);
        } catch (...) {
            values_.pop_back();
            throw;
        }
        return handle;
    }

    uint32_t set(std::string_view name, T value) {
        std::unique_lock lock(mutex_);
        const auto found = index_.find(name);
        if (found == index_.end()) {
            return kNotDefined;
        }
        values_[found->second] = value;
        return found->second;
    }

    // Calls fn(reader) with the table read-locked, so one evaluation sees one consistent set of
    // values while define and set calls of other threads wait.
    template <typename Fn>
    auto read(Fn&& fn) const {
        std::shared_lock lock(mutex_);
        return fn(Reader(*this));
    }

  private:
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };

    mutable std::shared_mutex mutex_;
    std::unordered_map<std::string, uint32_t, NameHash, std::equal_to<>> index_;
    std::vector<T> values_;
};

// The two tables shared by every formula of the process.
VariableTable<int64_t>& integerVariables();
VariableTable<double>& doubleVariables();

}  // namespace kavro::mathparser
