#include "mathparser/formula_cache.h"

#include <functional>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "mathparser/compiler.h"

namespace kavro::mathparser {
namespace {

// A description holds a few hundred formulas; the bound only matters for hostile input, and
// dropping everything when it is reached is as good as any policy then.
constexpr size_t kMaxEntries = 8192;

struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept {
        return std::hash<std::string_view>{}(s);
    }
};

struct Cache {
    std::shared_mutex mutex;
    std::unordered_map<std::string, std::shared_ptr<const Program>, TextHash, std::equal_to<>>
        programs;
};

Cache& cache() {
    static auto* instance = new Cache;
    return *instance;
}

}  // namespace

std::shared_ptr<const Program> compiledFormula(std::string_view text) {
    Cache& c = cache();
    {
        std::shared_lock lock(c.mutex);
        const auto found = c.programs.find(text);
        if (found != c.programs.end()) {
            return found->second;
        }
    }
    // Compiled outside the lock; if another thread got there first its program is kept.
    auto program = compile(text);
    std::unique_lock lock(c.mutex);
    if (c.programs.size() >= kMaxEntries) {
        c.programs.clear();
    }
    return c.programs.emplace(std::string(text), std::move(program)).first->second;
}

}  // namespace kavro::mathparser
