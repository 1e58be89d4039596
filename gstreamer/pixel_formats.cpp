#include "gstreamer/pixel_formats.h"

#include <array>
#include <cstring>

namespace kavro::gst {

namespace {

constexpr std::array kFormats{
    PixelFormatCaps{0x01080001, "Mono8", nullptr, "video/x-raw", "GRAY8", 1},
    PixelFormatCaps{0x01100007, "Mono16", nullptr, "video/x-raw", "GRAY16_LE", 2},
    PixelFormatCaps{0x02180014, "RGB8", "RGB8Packed", "video/x-raw", "RGB", 3},
    PixelFormatCaps{0x02180015, "BGR8", "BGR8Packed", "video/x-raw", "BGR", 3},
    PixelFormatCaps{0x01080008, "BayerGR8", nullptr, "video/x-bayer", "grbg", 1},
    PixelFormatCaps{0x01080009, "BayerRG8", nullptr, "video/x-bayer", "rggb", 1},
    PixelFormatCaps{0x0108000A, "BayerGB8", nullptr, "video/x-bayer", "gbrg", 1},
    PixelFormatCaps{0x0108000B, "BayerBG8", nullptr, "video/x-bayer", "bggr", 1},
};

bool same(const char* a, const char* b) {
    return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

}  // namespace

std::span<const PixelFormatCaps> pixelFormatTable() {
    return kFormats;
}

const PixelFormatCaps* pixelFormatByCode(uint32_t code) {
    for (const auto& f : kFormats) {
        if (f.code == code)
            return &f;
    }
    return nullptr;
}

const PixelFormatCaps* pixelFormatByEntry(const char* entry) {
    for (const auto& f : kFormats) {
        if (same(f.entry, entry) || same(f.alternateEntry, entry))
            return &f;
    }
    return nullptr;
}

const PixelFormatCaps* pixelFormatByCaps(const GstStructure* structure) {
    const char* format = gst_structure_get_string(structure, "format");
    for (const auto& f : kFormats) {
        if (gst_structure_has_name(structure, f.mediaType) && same(f.format, format))
            return &f;
    }
    return nullptr;
}

GstCaps* templateCaps() {
    GstCaps* caps = gst_caps_new_empty();
    for (const auto& f : kFormats) {
        gst_caps_append_structure(
            caps, gst_structure_new(f.mediaType, "format", G_TYPE_STRING, f.format, "width",
                                    GST_TYPE_INT_RANGE, 1, G_MAXINT, "height", GST_TYPE_INT_RANGE,
                                    1, G_MAXINT, "framerate", GST_TYPE_FRACTION_RANGE, 0, 1,
                                    G_MAXINT, 1, nullptr));
    }
    return caps;
}

}  // namespace kavro::gst
