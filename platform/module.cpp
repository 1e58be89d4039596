#include "platform/module.h"

#include <dlfcn.h>

namespace kavro::platform {

namespace {
std::string findLibraryFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&findLibraryFolder), &info) == 0 ||
        info.dli_fname == nullptr) {
        return {};
    }
    std::string path(info.dli_fname);
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}
}  // namespace

const std::string& libraryFolder() {
    static const std::string folder = findLibraryFolder();
    return folder;
}

}  // namespace kavro::platform
