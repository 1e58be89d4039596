// Helpers of the description retrieval tests: scratch folders, file access and archives.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/scratch_folder.h"

namespace kavro::test {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

inline Bytes readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A zip archive whose central directory claims `size` uncompressed bytes for its first entry.
inline Bytes withClaimedSize(Bytes archive, uint32_t size) {
    const uint8_t signature[] = {'P', 'K', 1, 2};
    const auto at =
        std::search(archive.begin(), archive.end(), std::begin(signature), std::end(signature));
    const size_t offset = static_cast<size_t>(at - archive.begin()) + 24;
    for (size_t i = 0; i < 4; ++i)
        archive.at(offset + i) = static_cast<uint8_t>(size >> (8 * i));
    return archive;
}

}  // namespace kavro::test
