// The URL registers' text taken apart: which form, which name, where and how long.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "genicam/description_url.h"

namespace kavro::genicam {
namespace {

using Form = DescriptionUrl::Form;

DescriptionUrl parse(const std::string& text) {
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    return parseDescriptionUrl(bytes);
}

TEST(DescriptionUrl, LocalFormsGiveNameAddressLengthAndPackingFileFormsTheirPath) {
    const struct {
        const char* url;
        const char* name;
        bool zipped;
        uint32_t address;
        uint32_t length;
    } cases[] = {
        {"local:Camera.zip;8C400000;33A382", "Camera.zip", true, 0x8C400000, 0x33A382},
        {"Local:Camera.xml;10000;1A2B", "Camera.xml", false, 0x10000, 0x1A2B},
        // A query part ends the length.
        {"local:Camera.zip;8C400000;33A382?SchemaVersion=1.1.0", "Camera.zip", true, 0x8C400000,
         0x33A382},
        {"local:a.xml;0x10000;0x20", "a.xml", false, 0x10000, 0x20},
        // The address field holds at most 8 characters; the one after them is taken for the
        // separator, so the length starts within an over-long field.
        {"local:Cam.xml;0001000011A2B;x", "Cam.xml", false, 0x10000, 0x1A2B},
        {"local:Cam.xml;000100009;1A2B", "Cam.xml", false, 0x10000, 0},
        // The length is at most 8 characters.
        {"local:Cam.xml;10;123456789", "Cam.xml", false, 0x10, 0x12345678},
        // No second separator: the length would lie beyond the text.
        {"local:a.xml;10000", "a.xml", false, 0x10000, 0},
        {"local:;10;20", "", false, 0x10, 0x20},
        // The name is counted from the text's start wherever the scheme stands.
        {"my local:b.zip;4;8", "al:b.zip", true, 4, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const DescriptionUrl url = parse(c.url);
        ASSERT_EQ(url.form, Form::Local);
        EXPECT_EQ(url.path, c.name);
        EXPECT_EQ(url.zipped, c.zipped);
        EXPECT_EQ(url.address, c.address);
        EXPECT_EQ(url.length, c.length);
    }

    // File forms give their path; other schemes are web addresses or unknown.
    const struct {
        const char* url;
        const char* path;
    } files[] = {
        {"file:///tmp/cam.xml", "/tmp/cam.xml"},
        {"file://localhost/tmp/cam.xml", "/tmp/cam.xml"},
        {"File:cam.zip", "cam.zip"},
        {"file:///opt/My%20Camera/cam.zip?SchemaVersion=1.1.0", "/opt/My Camera/cam.zip"},
        {"file:/tmp/a%2fb%zz%00.xml#part", "/tmp/a/b%zz%00.xml"},
        {"file://camera.invalid/cam.xml", "//camera.invalid/cam.xml"},
        // "file:" wins over "local:".
        {"local:x.xml;1;2 file:y.xml", "y.xml"},
    };
    for (const auto& c : files) {
        SCOPED_TRACE(c.url);
        const DescriptionUrl url = parse(c.url);
        EXPECT_EQ(url.form, Form::File);
        EXPECT_EQ(url.path, c.path);
    }
    EXPECT_EQ(parse("http://example.invalid/cam.xml").form, Form::Web);
    EXPECT_EQ(parse("HTTPS://example.invalid/cam.xml").form, Form::Web);
    EXPECT_EQ(parse("LOCAL:x.xml;1;2").form, Form::Unknown);
    EXPECT_EQ(parse("").form, Form::Unknown);
}

// A separator after the terminator does not count: there is nothing to read. (No separator at
// all, and names too long, are read end to end by the fetch tests.)
TEST(DescriptionUrl, SeparatorAfterTheTerminatorIsNone) {
    std::vector<uint8_t> bytes(kUrlRegisterSize, 0);
    const std::string text = "local:Camera.xml";
    std::copy(text.begin(), text.end(), bytes.begin());
    bytes[100] = ';';
    EXPECT_EQ(parseDescriptionUrl(bytes).form, Form::LocalNoLength);
}

}  // namespace
}  // namespace kavro::genicam
