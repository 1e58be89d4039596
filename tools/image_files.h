// Writing delivered images to PNG or netpbm (PGM for grey, PPM for colour) files.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "KavroGigEVisionLib.h"

namespace gevtool {

enum class ImageFileFormat { Png, Netpbm };

// The file name suffix for an image of `pixelFormat` ("png", "pgm" or "ppm"); empty when the
// pixel format is not one the tool can write (Mono8/10/12/16, RGB8, BGR8, Bayer 8).
[[nodiscard]] std::string imageFileSuffix(uint32_t pixelFormat, ImageFileFormat format);

// Writes the image (`pixels` as the copying calls deliver it: lines without padding) to
// `path`; Bayer images become colour. Returns an error text, empty on success.
[[nodiscard]] std::string writeImageFile(const std::string& path, ImageFileFormat format,
                                         const GevImageHeader& header,
                                         std::span<const uint8_t> pixels);

}  // namespace gevtool
