// gevtool's image files: every pixel format the tool writes becomes the right netpbm samples
// (Bayer cells turned into colour, BGR swapped, 16-bit samples most significant byte first),
// and blocks it can't write are refused with a reason.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/image_files.h"

namespace {

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// `pixels` samples of the colour (10, 25, 40).
std::vector<uint8_t> sameColour(size_t pixels) {
    std::vector<uint8_t> samples;
    for (size_t i = 0; i < pixels; ++i)
        samples.insert(samples.end(), {10, 25, 40});
    return samples;
}

TEST(ImageFiles, PixelFormatsBecomeTheirNetpbmSamples) {
    const struct {
        const char* what;
        uint32_t format;
        uint32_t width;
        uint32_t height;
        std::vector<uint8_t> pixels;
        std::string header;
        std::vector<uint8_t> samples;
    } cases[] = {
        {"Mono8", 0x01080001, 2, 1, {5, 6}, "P5\n2 1\n255\n", {5, 6}},
        {"Mono16", 0x01100007, 1, 1, {0x34, 0x12}, "P5\n1 1\n65535\n", {0x12, 0x34}},
        {"BGR8", 0x02180015, 1, 1, {1, 2, 3}, "P6\n1 1\n255\n", {3, 2, 1}},
        // R G / G B with red 10, greens 20 and 30, blue 40: every pixel is (10, 25, 40).
        {"BayerRG8", 0x01080009, 2, 2, {10, 20, 30, 40}, "P6\n2 2\n255\n", sameColour(4)},
        {"BayerBG8", 0x0108000B, 2, 2, {40, 20, 30, 10}, "P6\n2 2\n255\n", sameColour(4)},
        // G R G / B G B: the odd last column takes the colour of the cell before it.
        {"BayerGR8", 0x01080008, 3, 2, {20, 10, 22, 40, 30, 44}, "P6\n3 2\n255\n", sameColour(6)},
    };
    const auto folder =
        std::filesystem::temp_directory_path() / ("gevtool_images_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    for (const auto& c : cases) {
        GevImageHeader header{};
        header.pixelFormat = c.format;
        header.sizeX = c.width;
        header.sizeY = c.height;
        const std::string path = (folder / c.what).string();
        ASSERT_EQ(gevtool::writeImageFile(path, gevtool::ImageFileFormat::Netpbm, header, c.pixels),
                  "")
            << c.what;
        std::vector<uint8_t> expected(c.header.begin(), c.header.end());
        expected.insert(expected.end(), c.samples.begin(), c.samples.end());
        EXPECT_EQ(readFile(path), expected) << c.what;
    }
    std::filesystem::remove_all(folder);

    GevImageHeader chunk{};
    chunk.pixelFormat = 0x01080001;
    chunk.sizeX = 0xFFFFFFFF;  // a block that is not an image
    chunk.sizeY = 64;
    const std::vector<uint8_t> bytes(64);
    EXPECT_NE(
        gevtool::writeImageFile("/nonexistent/x", gevtool::ImageFileFormat::Png, chunk, bytes), "");
    chunk.sizeX = 8;
    chunk.sizeY = 9;  // more than the bytes delivered
    EXPECT_NE(
        gevtool::writeImageFile("/nonexistent/x", gevtool::ImageFileFormat::Png, chunk, bytes), "");
    chunk.pixelFormat = 0x010C0006;  // Mono12Packed is not written
    EXPECT_EQ(gevtool::imageFileSuffix(chunk.pixelFormat, gevtool::ImageFileFormat::Png), "");
}

}  // namespace
