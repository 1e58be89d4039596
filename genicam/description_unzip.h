// Unpacking a zipped device description held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "genicam/xml_diagnostics.h"

namespace kavro::genicam {

// Largest description the library takes, packed or unpacked: real ones are a few MiB at most.
inline constexpr size_t kMaxDescriptionSize = size_t{64} << 20;

// Replaces the zip archive in `text` by the contents of its first entry. On failure `text` keeps
// the archive, one of "[ERROR] - mz_zip_reader_init_file() failed!" (not an archive),
// "[ERROR] - mz_zip_reader_file_stat() failed!" (no first entry) or
// "[ERROR] - mz_zip_reader_extract_file_to_heap() failed!" (the entry can't be unpacked, is
// larger than kMaxDescriptionSize, or does not unpack to its recorded size) goes to `log`, and
// GEV_STATUS_ZIP_ERROR is returned. On success logs
// "[INFO] - Successfully extracted file, size <bytes>".
[[nodiscard]] GevStatus unzipDescription(std::vector<uint8_t>& text, const LogSink& log);

}  // namespace kavro::genicam
