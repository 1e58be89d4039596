// Inputs a camera or a file could hand over to hurt the host: descriptions of several megabytes,
// node names of 100 kB, an archive claiming gigabytes, a URL register without terminator.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "genicam/description_unzip.h"
#include "genicam/description_url.h"
#include "sim/description_image.h"
#include "tests/description/description_test_support.h"
#include "tests/genicam/feature_model_test_support.h"

// The largest single operator new request made while `gArmed` is set: shows whether a claimed
// size was ever allocated, which a caught bad_alloc or a lazily mapped block would hide. Kept out
// of line so that the compiler does not pair the malloc and free inside with the callers' new and
// delete.
namespace {
std::atomic<bool> gArmed{false};
std::atomic<size_t> gLargestRequest{0};
}  // namespace

[[gnu::noinline]] void* operator new(size_t size) {
    if (gArmed.load(std::memory_order_relaxed)) {
        size_t seen = gLargestRequest.load(std::memory_order_relaxed);
        while (size > seen && !gLargestRequest.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace kavro::genicam::test {
namespace {

// A valid schema 1.1 description: `blocks` groups, each holding a category and seven features
// that each carry a description of `padding` characters.
std::string largeDescription(size_t blocks, size_t padding) {
    const std::string text(padding, 'x');
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<RegisterDescription ModelName=\"KV-LARGE\" VendorName=\"Kavro\" "
        "SchemaMajorVersion=\"1\" SchemaMinorVersion=\"1\" "
        "xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">\n<Category Name=\"Root\">";
    for (size_t i = 0; i < blocks; ++i)
        out += "<pFeature>Block" + std::to_string(i) + "</pFeature>";
    out += "</Category>\n";
    for (size_t i = 0; i < blocks; ++i) {
        const std::string n = std::to_string(i);
        const std::string d = "<Description>" + text + "</Description>";
        out += "<Group Comment=\"block\"><Category Name=\"Block" + n + "\">";
        for (const char* f : {"Reg", "Int", "Flt", "Enum", "Cmd", "Bool", "Knife"})
            out += std::string("<pFeature>") + f + n + "</pFeature>";
        out += "</Category>";
        out += "<IntReg Name=\"Reg" + n + "\">" + d + "<Address>0x" + std::to_string(4 * i) +
               "</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort>"
               "</IntReg>";
        out += "<Integer Name=\"Int" + n + "\">" + d +
               "<Value>1</Value><Min>0</Min><Max>100</Max></Integer>";
        out += "<Float Name=\"Flt" + n + "\">" + d + "<Value>0.5</Value></Float>";
        out += "<Enumeration Name=\"Enum" + n + "\">" + d +
               "<EnumEntry Name=\"Off\"><Value>0</Value></EnumEntry>"
               "<EnumEntry Name=\"On\"><Value>1</Value></EnumEntry>"
               "<pValue>Reg" +
               n + "</pValue></Enumeration>";
        out += "<Command Name=\"Cmd" + n + "\">" + d + "<pValue>Reg" + n +
               "</pValue><CommandValue>1</CommandValue></Command>";
        out += "<Boolean Name=\"Bool" + n + "\">" + d + "<pValue>Reg" + n +
               "</pValue><OnValue>1</OnValue><OffValue>0</OffValue></Boolean>";
        out += "<SwissKnife Name=\"Knife" + n + "\">" + d + "<pVariable Name=\"A\">Flt" + n +
               "</pVariable><Formula>A * 2</Formula></SwissKnife>";
        out += "</Group>\n";
    }
    out += "<Port Name=\"Device\"/>\n</RegisterDescription>\n";
    return out;
}

TEST(HostileDescription, LargeDescriptionsAndLongNamesBuildButDeepNestingIsRefused) {
    const std::string text = largeDescription(600, 1150);
    ASSERT_GT(text.size(), size_t{5} << 20);
    const auto built = buildDescription(text);
    ASSERT_EQ(built->status, GEV_STATUS_SUCCESS) << built->log.all();
    const FeatureModel& model = *built->model;
    // The port, and per block a category, seven features and two enumeration entries (Root is
    // no node).
    EXPECT_EQ(model.nodes().size(), 1u + 600u * 10u);
    EXPECT_EQ(model.features().count(), 600u * 8u);
    ASSERT_NE(model.findNode("Knife599"), nullptr);
    EXPECT_EQ(model.findNode("Knife599")->Formula, "A * 2");

    // Half a million nested elements: refused by depth, not by running out of stack.
    std::string deep = "<RegisterDescription>";
    for (int i = 0; i < 500000; ++i)
        deep += "<Group>";
    ASSERT_GT(deep.size(), size_t{3} << 20);
    EXPECT_EQ(buildDescription(deep)->status, GEV_STATUS_XML_NOT_WELL_FORMED);

    // Names of 100 kB build and are found.
    const std::string integer = "I" + std::string(100000, 'n');
    const std::string enumeration = "E" + std::string(100000, 'e');
    const std::string entry = "V" + std::string(100000, 'v');
    const std::string longNames =
        "<?xml version=\"1.0\"?>"
        "<RegisterDescription ModelName=\"KV\" VendorName=\"Kavro\" SchemaMajorVersion=\"1\" "
        "SchemaMinorVersion=\"1\" xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">"
        "<Category Name=\"Root\"><pFeature>" +
        integer + "</pFeature><pFeature>" + enumeration +
        "</pFeature></Category>"
        "<Integer Name=\"" +
        integer + "\"><Value>7</Value></Integer><Enumeration Name=\"" + enumeration +
        "\"><EnumEntry Name=\"" + entry + "\"><Value>3</Value></EnumEntry><pValue>" + integer +
        "</pValue></Enumeration></RegisterDescription>";
    const auto named = buildDescription(longNames);
    ASSERT_EQ(named->status, GEV_STATUS_SUCCESS) << named->log.all();
    const FeatureModel& namedModel = *named->model;
    const FeatureNode* found = namedModel.findNode(integer);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Name, integer);
    EXPECT_EQ(found->Value, 7);
    // One character less or more is another name.
    EXPECT_EQ(namedModel.findNode(std::string_view(integer).substr(0, integer.size() - 1)),
              nullptr);
    EXPECT_EQ(namedModel.findNode(integer + "n"), nullptr);
    // The entry is found by its own name, its lifted node name carrying both long names.
    const FeatureNode* lifted = namedModel.findNode(entry);
    ASSERT_NE(lifted, nullptr);
    EXPECT_EQ(lifted->Name, "EnumEntry_" + enumeration + "_" + entry);
    ASSERT_NE(namedModel.findNode(lifted->Name), nullptr);
    const GevFeatureEntry* head = namedModel.features().head();
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(std::string(head->name), integer);
}

TEST(HostileArchive, EntryClaimingGigabytesIsRefusedUnallocated) {
    const std::string xml(4096, 'x');
    const std::vector<uint8_t> good = sim::makeZipArchive(
        "Camera.xml",
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(xml.data()), xml.size()));
    for (const uint32_t claimed : {0xC0000000u, 0xFFFFFFFEu, uint32_t{kMaxDescriptionSize + 1}}) {
        SCOPED_TRACE(claimed);
        const std::vector<uint8_t> archive = kavro::test::withClaimedSize(good, claimed);
        std::vector<uint8_t> text = archive;
        RecordingLog log;
        gLargestRequest = 0;
        gArmed = true;
        const GevStatus status = unzipDescription(text, log.sink());
        gArmed = false;
        EXPECT_EQ(status, GEV_STATUS_ZIP_ERROR);
        EXPECT_TRUE(log.contains("[ERROR] - mz_zip_reader_extract_file_to_heap() failed!"))
            << log.all();
        EXPECT_EQ(text, archive);
        EXPECT_LT(gLargestRequest.load(), size_t{1} << 20);
    }
}

TEST(HostileUrl, RegisterWithoutTerminatorIsReadWithinItsBytes) {
    using Form = DescriptionUrl::Form;
    const auto filled = [](const std::string& start, char fill) {
        std::string text = start;
        text.resize(kUrlRegisterSize, fill);
        return text;
    };
    const std::string name(kMaxDescriptionNameLength, 'n');
    const struct {
        const char* what;
        std::string text;
        Form form;
        size_t pathLength;
    } cases[] = {
        {"no scheme", filled("", 'x'), Form::Unknown, 0},
        {"file path to the end", filled("file:", 'p'), Form::File, kUrlRegisterSize - 5},
        {"scheme in the last bytes", filled("", 'x').replace(506, 6, "local:"), Form::LocalNoLength,
         0},
        {"separator in the last byte", filled("local:", 'n').replace(511, 1, ";"),
         Form::NameTooLong, 0},
        {"numbers to the end", filled("local:" + name + ";", 'F'), Form::Local, name.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.text.size(), kUrlRegisterSize);
        // Exactly sized and without any zero byte, so that a read past the end shows under ASan.
        const std::vector<uint8_t> bytes(c.text.begin(), c.text.end());
        ASSERT_EQ(std::count(bytes.begin(), bytes.end(), 0), 0);
        const DescriptionUrl url = parseDescriptionUrl(bytes);
        EXPECT_EQ(url.form, c.form);
        EXPECT_EQ(url.path.size(), c.pathLength);
        if (c.form == Form::Local) {
            EXPECT_EQ(url.address, 0xFFFFFFFFu);
            EXPECT_EQ(url.length, 0xFFFFFFFFu);
        }
    }
}

}  // namespace
}  // namespace kavro::genicam::test
