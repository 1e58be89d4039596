#include "image_files.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace gevtool {
namespace {

constexpr uint32_t kMono8 = 0x01080001;
constexpr uint32_t kMono10 = 0x01100003;
constexpr uint32_t kMono12 = 0x01100005;
constexpr uint32_t kMono16 = 0x01100007;
constexpr uint32_t kRgb8 = 0x02180014;
constexpr uint32_t kBgr8 = 0x02180015;
constexpr uint32_t kBayerGr8 = 0x01080008;
constexpr uint32_t kBayerRg8 = 0x01080009;
constexpr uint32_t kBayerGb8 = 0x0108000A;
constexpr uint32_t kBayerBg8 = 0x0108000B;

enum class Layout { None, Grey8, Grey16, Rgb8 };

Layout layoutOf(uint32_t pixelFormat) {
    switch (pixelFormat) {
        case kMono8:
            return Layout::Grey8;
        case kMono10:
        case kMono12:
        case kMono16:
            return Layout::Grey16;
        case kRgb8:
        case kBgr8:
        case kBayerGr8:
        case kBayerRg8:
        case kBayerGb8:
        case kBayerBg8:
            return Layout::Rgb8;
        default:
            return Layout::None;
    }
}

// Colour of each pixel from its 2x2 Bayer cell: red and blue of the cell, green the mean of its
// two greens. `redColumn`/`redRow` place the red sample within the cell. A last column or row
// that is only half a cell (odd width or height) takes the colour of the cell before it, so
// that no sample of another colour is mixed in.
std::vector<uint8_t> demosaic(std::span<const uint8_t> raw, uint32_t width, uint32_t height,
                              uint32_t redColumn, uint32_t redRow) {
    const auto cellStart = [](uint32_t position, uint32_t size) {
        const uint32_t start = position & ~1u;
        return start + 1 >= size && start >= 2 ? start - 2 : start;
    };
    std::vector<uint8_t> rgb(size_t{width} * height * 3);
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t cy = cellStart(y, height);
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t cx = cellStart(x, width);
            // Clamped only for images one pixel wide or high, which have no whole cell.
            const auto at = [&](uint32_t dx, uint32_t dy) -> uint32_t {
                const uint32_t sx = std::min(cx + dx, width - 1);
                const uint32_t sy = std::min(cy + dy, height - 1);
                return raw[size_t{sy} * width + sx];
            };
            const uint32_t red = at(redColumn, redRow);
            const uint32_t blue = at(1 - redColumn, 1 - redRow);
            const uint32_t green = (at(1 - redColumn, redRow) + at(redColumn, 1 - redRow)) / 2;
            uint8_t* out = &rgb[(size_t{y} * width + x) * 3];
            out[0] = static_cast<uint8_t>(red);
            out[1] = static_cast<uint8_t>(green);
            out[2] = static_cast<uint8_t>(blue);
        }
    }
    return rgb;
}

// The image as 8-bit RGB, 8-bit grey or native-order 16-bit grey samples.
std::vector<uint8_t> toOutputSamples(const GevImageHeader& h, std::span<const uint8_t> pixels) {
    const size_t count = size_t{h.sizeX} * h.sizeY;
    switch (h.pixelFormat) {
        case kBayerGr8:
            return demosaic(pixels, h.sizeX, h.sizeY, 1, 0);
        case kBayerRg8:
            return demosaic(pixels, h.sizeX, h.sizeY, 0, 0);
        case kBayerGb8:
            return demosaic(pixels, h.sizeX, h.sizeY, 0, 1);
        case kBayerBg8:
            return demosaic(pixels, h.sizeX, h.sizeY, 1, 1);
        case kBgr8: {
            std::vector<uint8_t> rgb(pixels.begin(), pixels.begin() + count * 3);
            for (size_t i = 0; i < count; ++i)
                std::swap(rgb[i * 3], rgb[i * 3 + 2]);
            return rgb;
        }
        case kMono10:
        case kMono12:
        case kMono16: {
            // Delivered little endian; kept as host-order 16-bit samples.
            std::vector<uint8_t> grey(count * 2);
            for (size_t i = 0; i < count; ++i) {
                const uint16_t v = static_cast<uint16_t>(pixels[2 * i] | pixels[2 * i + 1] << 8);
                std::memcpy(&grey[2 * i], &v, 2);
            }
            return grey;
        }
        default: {
            const size_t bytes = count * (h.pixelFormat == kRgb8 ? 3 : 1);
            return {pixels.begin(), pixels.begin() + bytes};
        }
    }
}

std::string writeNetpbm(const std::string& path, Layout layout, uint32_t width, uint32_t height,
                        const std::vector<uint8_t>& samples) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file)
        return "can't create " + path;
    std::fprintf(file.get(), "%s\n%u %u\n%u\n", layout == Layout::Rgb8 ? "P6" : "P5", width, height,
                 layout == Layout::Grey16 ? 65535u : 255u);
    if (layout == Layout::Grey16) {
        // Netpbm wants 16-bit samples most significant byte first.
        std::vector<uint8_t> big(samples.size());
        for (size_t i = 0; i + 1 < samples.size(); i += 2) {
            uint16_t v = 0;
            std::memcpy(&v, &samples[i], 2);
            big[i] = static_cast<uint8_t>(v >> 8);
            big[i + 1] = static_cast<uint8_t>(v & 0xFF);
        }
        if (std::fwrite(big.data(), 1, big.size(), file.get()) != big.size())
            return "can't write " + path;
    } else if (std::fwrite(samples.data(), 1, samples.size(), file.get()) != samples.size()) {
        return "can't write " + path;
    }
    return {};
}

std::string writePng(const std::string& path, Layout layout, uint32_t width, uint32_t height,
                     const std::vector<uint8_t>& samples) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = layout == Layout::Rgb8    ? PNG_FORMAT_RGB
                   : layout == Layout::Grey8 ? PNG_FORMAT_GRAY
                                             : PNG_FORMAT_LINEAR_Y;
    if (png_image_write_to_file(&image, path.c_str(), 0, samples.data(), 0, nullptr) == 0) {
        std::string error = "can't write " + path + ": " + image.message;
        png_image_free(&image);
        return error;
    }
    return {};
}

}  // namespace

std::string imageFileSuffix(uint32_t pixelFormat, ImageFileFormat format) {
    const Layout layout = layoutOf(pixelFormat);
    if (layout == Layout::None)
        return {};
    if (format == ImageFileFormat::Png)
        return "png";
    return layout == Layout::Rgb8 ? "ppm" : "pgm";
}

std::string writeImageFile(const std::string& path, ImageFileFormat format,
                           const GevImageHeader& header, std::span<const uint8_t> pixels) {
    const Layout layout = layoutOf(header.pixelFormat);
    if (layout == Layout::None) {
        char text[64];
        std::snprintf(text, sizeof text, "pixel format 0x%08X can't be written",
                      header.pixelFormat);
        return text;
    }
    // Guards the size arithmetic below too: blocks that are not images carry 0xFFFFFFFF.
    if (header.sizeX > 65535 || header.sizeY > 65535)
        return "the block is not an image of a size the tool writes";
    const bool packed = header.pixelFormat == kRgb8 || header.pixelFormat == kBgr8;
    const size_t needed = size_t{header.sizeX} * header.sizeY *
                          (packed                     ? 3
                           : layout == Layout::Grey16 ? 2
                                                      : 1);
    if (header.sizeX == 0 || header.sizeY == 0 || pixels.size() < needed)
        return "the image is smaller than its header says";
    const std::vector<uint8_t> samples = toOutputSamples(header, pixels);
    return format == ImageFileFormat::Png
               ? writePng(path, layout, header.sizeX, header.sizeY, samples)
               : writeNetpbm(path, layout, header.sizeX, header.sizeY, samples);
}

}  // namespace gevtool
