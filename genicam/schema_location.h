// Which schema file a description is checked against, and where it is found.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kavro::genicam {

struct SchemaVersion {
    std::uint8_t major = 1;
    std::uint8_t minor = 0;
};

// SchemaMajorVersion and SchemaMinorVersion of a top-level RegisterDescription element, read as
// decimal numbers modulo 256 (a non-number reads as 0); 1.0 when the description declares none.
[[nodiscard]] SchemaVersion schemaVersionOf(const xmlDoc& document);

// "<folder>/<file>", without doubling a separator the folder already ends with.
[[nodiscard]] std::string joinPath(std::string_view folder, std::string_view file);

// "GenApiSchema_Version_<major>_<minor>.xsd".
[[nodiscard]] std::string schemaFileName(SchemaVersion version);

struct SchemaLocation {
    std::string folder;  // also the folder of the pre-processing stylesheets
    std::string path;
};

// The schema file of `version` in the library folder if it can be read there, else in the
// fallback folder; nothing when neither has it. An empty folder is never searched.
[[nodiscard]] std::optional<SchemaLocation> findSchema(const std::string& libraryFolder,
                                                       const std::string& fallbackFolder,
                                                       SchemaVersion version);

}  // namespace kavro::genicam
