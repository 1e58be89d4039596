// The camera pixel formats the element streams and the caps each stands for: the mono and RGB
// formats as video/x-raw, the 8-bit Bayer formats as video/x-bayer.
#pragma once

#include <gst/gst.h>

#include <cstdint>
#include <span>

namespace kavro::gst {

struct PixelFormatCaps {
    uint32_t code;               // camera pixel format code
    const char* entry;           // PixelFormat entry name in the camera's description
    const char* alternateEntry;  // older name of the same entry, or null
    const char* mediaType;       // "video/x-raw" or "video/x-bayer"
    const char* format;          // the caps' format field
    uint32_t bytesPerPixel;
};

std::span<const PixelFormatCaps> pixelFormatTable();
// The entry of `code`, or null when the element can't stream it.
const PixelFormatCaps* pixelFormatByCode(uint32_t code);
// The entry named by a PixelFormat entry name (either form), or null.
const PixelFormatCaps* pixelFormatByEntry(const char* entry);
// The entry that a caps structure (media type and format) stands for, or null.
const PixelFormatCaps* pixelFormatByCaps(const GstStructure* structure);

// Every format of the table, any size: the pad template.
GstCaps* templateCaps();

}  // namespace kavro::gst
