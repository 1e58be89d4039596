#include "genicam/data_folder.h"

#include <filesystem>
#include <system_error>

#include "genicam/schema_location.h"
#include "platform/module.h"

namespace kavro::genicam {

std::string defaultDataFolder() {
    // `cmake --install --prefix` may put the library under another prefix than the one it was
    // configured for; the data folder keeps its place relative to the library's folder.
    const std::string& library = platform::libraryFolder();
    if (!library.empty()) {
        const std::string beside = joinPath(library, KAVRO_DATA_RELATIVE_DIR);
        std::error_code error;
        if (std::filesystem::is_directory(beside, error))
            return std::filesystem::path(beside).lexically_normal().string();
    }
    return KAVRO_DATA_DIR;
}

}  // namespace kavro::genicam
