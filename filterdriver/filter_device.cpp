#include "filterdriver/filter_device.h"

#include <mutex>

namespace kavro::filterdriver {

namespace {

struct Openers {
    std::mutex lock;
    FilterDeviceOpener chosen;
    FilterDeviceOpener fallback;
};

Openers& openers() {
    static Openers o;
    return o;
}

}  // namespace

void setFilterDeviceOpener(FilterDeviceOpener opener) {
    auto& o = openers();
    std::lock_guard lock(o.lock);
    o.chosen = std::move(opener);
}

void setDefaultFilterDeviceOpener(FilterDeviceOpener opener) {
    auto& o = openers();
    std::lock_guard lock(o.lock);
    o.fallback = std::move(opener);
}

std::unique_ptr<FilterDevice> openFilterDevice(const std::string& name, uint32_t& error) {
    FilterDeviceOpener opener;
    {
        auto& o = openers();
        std::lock_guard lock(o.lock);
        opener = o.chosen ? o.chosen : o.fallback;
    }
    if (!opener) {
        error = kErrorFileNotFound;
        return nullptr;
    }
    return opener(name, error);
}

}  // namespace kavro::filterdriver
