#include "mathparser/error_text.h"

#include <mutex>
#include <string>
#include <unordered_set>

namespace kavro::mathparser {
namespace {

// Plenty for every distinct message a set of device descriptions can produce.
constexpr size_t kMaxTexts = 4096;

struct Pool {
    std::mutex mutex;
    // Node-based: an element never moves, so its c_str() stays valid.
    std::unordered_set<std::string> texts;
};

Pool& pool() {
    // Never destroyed: texts may still be read while static destructors run.
    static Pool* instance = new Pool;
    return *instance;
}

}  // namespace

const char* internErrorText(std::string_view text, const char* fallback) noexcept {
    try {
        Pool& p = pool();
        std::lock_guard lock(p.mutex);
        std::string key(text);
        auto found = p.texts.find(key);
        if (found != p.texts.end()) {
            return found->c_str();
        }
        if (p.texts.size() >= kMaxTexts) {
            return fallback;
        }
        return p.texts.insert(std::move(key)).first->c_str();
    } catch (...) {
        return fallback;
    }
}

}  // namespace kavro::mathparser
