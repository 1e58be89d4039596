// The cache of loaded descriptions: the validated, pre-processed document of a description text
// kept in a file of the user's cache folder, so that a description seen before skips the schema
// check and the stylesheets. An entry is found by a hash of the text and the folders searched
// for the schema; it holds the whole text (compared, so a hash collision never hands out another
// description), the stamps of the schema and stylesheets it was made with (a changed file makes
// the entry stale) and a checksum over everything (a corrupt or foreign entry is ignored). The
// folder is kept below kMaxCacheBytes by removing the oldest entries.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "genicam/schema_location.h"

namespace kavro::genicam {

inline constexpr uint64_t kMaxCacheBytes = uint64_t{64} << 20;

// What identifies a file's contents without reading it.
struct FileStamp {
    bool exists = false;
    uint64_t size = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
    bool operator==(const FileStamp&) const = default;
};
[[nodiscard]] FileStamp fileStamp(const std::string& path);

// "<folder>/PreProcess_<n>.xsl".
[[nodiscard]] std::string stylesheetPath(std::string_view folder, int n);

// "$XDG_CACHE_HOME/KavroGigEVisionLib/descriptions", else "$HOME/.cache/..."; empty when neither
// variable is set to an absolute path.
[[nodiscard]] std::string userDescriptionCacheFolder();

// The schema file and stylesheets a load of `version` would use, as paths with their stamps,
// for the library and fallback folders searched.
[[nodiscard]] std::string toolIdentity(const std::string& libraryFolder,
                                       const std::string& fallbackFolder, SchemaVersion version);

struct CachedDescription {
    SchemaVersion version;
    std::string tools;          // toolIdentity() when the entry was made
    std::string schemaPath;     // the schema the text was checked against
    std::string_view document;  // the pre-processed document, serialised
    // Keeps `document` readable: the mapped entry file of an entry that was read.
    std::shared_ptr<const void> storage;
};

// The entry for `text` loaded with these folders; nothing when there is none or it is corrupt,
// foreign or made for another text.
[[nodiscard]] std::optional<CachedDescription> readCachedDescription(
    const std::string& cacheFolder, std::string_view text, const std::string& libraryFolder,
    const std::string& fallbackFolder);

// Stores the entry (atomically: a reader sees the old entry, the new one or none), then trims
// the folder. Failures are silent: the cache only saves time.
void writeCachedDescription(const std::string& cacheFolder, std::string_view text,
                            const std::string& libraryFolder, const std::string& fallbackFolder,
                            const CachedDescription& entry);

}  // namespace kavro::genicam
