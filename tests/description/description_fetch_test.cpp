// Fetching a description through a scripted camera memory: which URL is read, what is logged,
// what stays held, unpacking and the saved copy.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "genicam/description_fetch.h"
#include "genicam/description_unzip.h"
#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "sim/camera_model.h"
#include "sim/description_image.h"
#include "sim/device_memory.h"
#include "tests/description/description_test_support.h"

namespace kavro::test {
namespace {

using genicam::DescriptionText;
using genicam::FetchEnvironment;

constexpr uint32_t kFirstUrl = 0x200;
constexpr uint32_t kSecondUrl = 0x400;

const std::string kXml = "<?xml version=\"1.0\"?> <RegisterDescription/>";  // 44 bytes

// Camera memory as address ranges; reads of an address listed in `failures` fail with its status.
class DescriptionFetch : public ::testing::Test {
  protected:
    void setUrl(uint32_t address, const std::string& url) {
        Bytes text(512, 0);
        std::copy(url.begin(), url.end(), text.begin());
        memory_[address] = text;
    }
    void place(uint32_t address, const Bytes& bytes) { memory_[address] = bytes; }
    void failReadsAt(uint32_t address, GevStatus status) { failures_[address] = status; }

    FetchEnvironment environment(bool save = false, const std::string& folder = {}) {
        FetchEnvironment env;
        env.readMemory = [this](uint32_t address, uint32_t length, uint8_t* out) -> GevStatus {
            reads_.push_back(address);
            if (const auto f = failures_.find(address); f != failures_.end())
                return f->second;
            const auto m = memory_.find(address);
            if (m == memory_.end() || m->second.size() < length)
                return GEV_STATUS_INVALID_ADDRESS;
            if (length != 0)
                std::memcpy(out, m->second.data(), length);
            return GEV_STATUS_SUCCESS;
        };
        env.log = [this](const char* line) { log_.emplace_back(line); };
        env.saveCopy = save;
        env.libraryFolder = folder;
        return env;
    }
    GevStatus fetch(const FetchEnvironment& env, const char* fileName = nullptr) {
        return genicam::fetchDescription(env, fileName, text_);
    }
    bool logged(const std::string& line) const {
        return std::find(log_.begin(), log_.end(), line) != log_.end();
    }
    static std::string textOf(const DescriptionText& text) {
        return std::string(text.bytes.begin(), text.bytes.end());
    }

    std::map<uint32_t, Bytes> memory_;
    std::map<uint32_t, GevStatus> failures_;
    std::vector<uint32_t> reads_;
    std::vector<std::string> log_;
    DescriptionText text_;
};

TEST_F(DescriptionFetch, LocalUrlReadsTheNamedRangeAndFailuresFallBackOnce) {
    place(0x10000, bytesOf(kXml + std::string(64, 'x')));
    // The length field is hexadecimal: 2C is 44, the size of kXml.
    ASSERT_EQ(kXml.size(), 0x2Cu);
    setUrl(kFirstUrl, "local:Camera.xml;10000;2C");
    ASSERT_EQ(fetch(environment()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(textOf(text_), kXml);
    EXPECT_EQ(text_.size, kXml.size());
    EXPECT_TRUE(logged("[INFO] - XML-Name: Camera.xml, Address: 0x00010000, Length: 44"));
    EXPECT_EQ(genicam::lastDescriptionName(), "Camera.xml");
    EXPECT_EQ(reads_, (std::vector<uint32_t>{kFirstUrl, 0x10000}));

    // The Second URL serves when the First can't be read for another reason than access denied.
    const struct {
        const char* what;
        GevStatus first;
        GevStatus second;  // 0: readable
        GevStatus status;
        const char* line;
        size_t reads;
    } cases[] = {
        {"first times out", GEV_STATUS_TIMEOUT, 0, GEV_STATUS_SUCCESS,
         "[INFO] - XML-Name: S.xml, Address: 0x00020000, Length: 44", 3},
        {"first access denied", GEV_STATUS_ACCESS_DENIED, 0, GEV_STATUS_ACCESS_DENIED,
         "[ERROR] - Can't get first url from memory.", 1},
        {"second access denied", GEV_STATUS_TIMEOUT, GEV_STATUS_ACCESS_DENIED,
         GEV_STATUS_ACCESS_DENIED, "[ERROR] - Can't get first url from memory.", 2},
        {"both fail", GEV_STATUS_TIMEOUT, GEV_STATUS_INVALID_ADDRESS, GEV_STATUS_URL_ERROR,
         "[ERROR] - Can't get url from memory.", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        failures_.clear();
        reads_.clear();
        log_.clear();
        setUrl(kSecondUrl, "Local:S.xml;20000;2C");
        place(0x20000, bytesOf(kXml));
        failReadsAt(kFirstUrl, c.first);
        if (c.second != 0)
            failReadsAt(kSecondUrl, c.second);
        EXPECT_EQ(fetch(environment()), c.status);
        EXPECT_TRUE(logged(c.line));
        EXPECT_EQ(reads_.size(), c.reads);
        EXPECT_EQ(text_.held, c.status == GEV_STATUS_SUCCESS);
        EXPECT_EQ(textOf(text_), c.status == GEV_STATUS_SUCCESS ? kXml : "");
    }
}

// A First URL that leads nowhere ends the fetch without the Second; the description range is
// read only when the URL names a sound one, and a failed fetch drops the text held before.
TEST_F(DescriptionFetch, FirstUrlsThatLeadNowhereDoNotFallBackToTheSecond) {
    setUrl(kSecondUrl, "local:S.xml;20000;2C");
    place(0x20000, bytesOf(kXml));
    failReadsAt(0x30000, GEV_STATUS_TIMEOUT);
    const struct {
        std::string url;
        GevStatus status;
        const char* line;
        size_t reads;  // the URL, then the description range
        bool held;     // what was read is kept
    } cases[] = {
        {"http://camera.invalid/c.xml", GEV_STATUS_NOT_SUPPORTED,
         "[ERROR] - Description URL http://camera.invalid/c.xml is a web address; downloads are "
         "not supported.",
         1, false},
        {"ftp:c.xml", GEV_STATUS_URL_ERROR,
         "[ERROR] - Unable to parse first URL for \"local:\" format.", 1, false},
        {"local:Camera.xml;30000;100", GEV_STATUS_DESCRIPTION_READ_ERROR,
         "[ERROR] - Unable to read xml file from memory.", 2, true},
        {"local:Camera.xml", GEV_STATUS_DESCRIPTION_EMPTY, "[ERROR] - Xml file size is 0.", 1,
         false},
        {"local:Camera.xml;20000", GEV_STATUS_DESCRIPTION_EMPTY, "[ERROR] - Xml file size is 0.", 2,
         false},
        {"local:" + std::string(255, 'n') + ";20000;2C", GEV_STATUS_URL_ERROR,
         "[ERROR] - Xml file name in URL is too long.", 1, false},
        {"local:Camera.xml;30000;FFFFFFFF", GEV_STATUS_DESCRIPTION_READ_ERROR,
         "[ERROR] - Xml file length 4294967295 is too large.", 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        reads_.clear();
        log_.clear();
        setUrl(kFirstUrl, c.url);
        EXPECT_EQ(fetch(environment()), c.status);
        EXPECT_TRUE(logged(c.line));
        EXPECT_EQ(reads_.size(), c.reads);
        EXPECT_EQ(text_.held, c.held);
        EXPECT_EQ(text_.bytes.size(), c.held ? 0x100u : 0u);
    }
}

TEST_F(DescriptionFetch, BrokenArchivesFailAndStayHeld) {
    const Bytes good = sim::makeZipArchive("inner.xml", bytesOf(kXml));
    Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2));
    Bytes flipped = good;
    flipped[40] ^= 0xFF;  // inside the compressed data: the checksum no longer matches
    const struct {
        const char* what;
        Bytes archive;
        const char* line;
    } cases[] = {
        {"not an archive", bytesOf(kXml), "[ERROR] - mz_zip_reader_init_file() failed!"},
        {"truncated", truncated, "[ERROR] - mz_zip_reader_init_file() failed!"},
        {"corrupt data", flipped, "[ERROR] - mz_zip_reader_extract_file_to_heap() failed!"},
        {"size claimed too small", withClaimedSize(good, kXml.size() - 1),
         "[ERROR] - mz_zip_reader_extract_file_to_heap() failed!"},
        {"size claimed too large", withClaimedSize(good, kXml.size() + 10),
         "[ERROR] - mz_zip_reader_extract_file_to_heap() failed!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        log_.clear();
        place(0x40000, c.archive);
        char url[64];
        std::snprintf(url, sizeof url, "local:Camera.zip;40000;%zX", c.archive.size());
        setUrl(kFirstUrl, url);
        EXPECT_EQ(fetch(environment()), GEV_STATUS_ZIP_ERROR);
        EXPECT_TRUE(logged(c.line));
        EXPECT_TRUE(text_.held);
        EXPECT_EQ(text_.bytes, c.archive);
        EXPECT_EQ(text_.size, c.archive.size());
    }
}

// A zipped description is unpacked; the copy saved is the archive as fetched.
TEST_F(DescriptionFetch, ZippedDescriptionIsUnpackedAndSavedAsFetchedUnderItsBaseName) {
    ScratchFolder folder;
    const Bytes archive = sim::makeZipArchive("inner.xml", bytesOf(kXml));
    place(0x40000, archive);
    char url[64];
    std::snprintf(url, sizeof url, "local:Camera.zip;40000;%zX?SchemaVersion=1.1.0",
                  archive.size());
    setUrl(kFirstUrl, url);
    ASSERT_EQ(fetch(environment(true, folder.str())), GEV_STATUS_SUCCESS);
    EXPECT_EQ(textOf(text_), kXml);
    EXPECT_EQ(text_.size, kXml.size());
    EXPECT_TRUE(logged("[INFO] - Successfully extracted file, size 44"));
    EXPECT_TRUE(logged("[INFO] - Save xml file."));
    const fs::path saved = folder.path() / genicam::kSavedFolder;
    EXPECT_EQ(readBytes(saved / "Camera.zip"), archive) << "the archive, not its content";

    // Copies live in a folder of their own: a camera naming a file shipped beside the library
    // (or trying to leave the folder) cannot replace it.
    const fs::path outside = folder.path() / "Escaped.xml";
    const Bytes shipped = bytesOf("shipped stylesheet");
    writeBytes(folder.path() / "PreProcess_1.xsl", shipped);
    place(0x10000, bytesOf(kXml));
    for (const char* name : {"../Escaped.xml", "PreProcess_1.xsl"}) {
        SCOPED_TRACE(name);
        std::snprintf(url, sizeof url, "local:%s;10000;2C", name);
        setUrl(kFirstUrl, url);
        ASSERT_EQ(fetch(environment(true, folder.str())), GEV_STATUS_SUCCESS);
    }
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_EQ(readBytes(saved / "Escaped.xml"), bytesOf(kXml));
    EXPECT_EQ(readBytes(folder.path() / "PreProcess_1.xsl"), shipped);
    EXPECT_EQ(readBytes(saved / "PreProcess_1.xsl"), bytesOf(kXml));
}

// The simulated camera's description memory: read-only regions. Where the description sits and
// what its URL says is read end to end by the description call tests.
using sim::DeviceMemory;

TEST(SimDescription, ReadOnlyRegionsAreReadableAndRefuseWrites) {
    DeviceMemory memory(0x10000, 0x1000);
    const Bytes content = {1, 2, 3, 4, 5};
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x9000, content)) << "inside the bootstrap";
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x10FFC, content)) << "reaches user memory";
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x20002, content)) << "misaligned";
    EXPECT_FALSE(memory.defineReadOnlyRegion(0xFFFFFFFC, content)) << "wraps";
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x20000, {}));
    ASSERT_TRUE(memory.defineReadOnlyRegion(0x20000, content));
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x20004, content)) << "overlaps the first";

    Bytes out(8, 0xEE);
    EXPECT_EQ(memory.readMemory(0x20000, out), gvcp::kStatusSuccess);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 0, 0, 0})) << "padded to whole words";
    Bytes beyond(8);
    EXPECT_EQ(memory.readMemory(0x20004, beyond), gvcp::kStatusInvalidAddress) << "past its end";
    uint32_t value = 0;
    EXPECT_EQ(memory.readRegister(0x20000, value), gvcp::kStatusSuccess);
    EXPECT_EQ(value, 0x01020304u);
    uint32_t written = 1;
    EXPECT_EQ(memory.writeMemory(0x20000, Bytes(4, 9), nullptr, written),
              gvcp::kStatusAccessDenied);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(memory.writeRegister(0x20004, 7, nullptr), gvcp::kStatusAccessDenied);
    EXPECT_EQ(memory.value(0x20000), 0x01020304u);
}

}  // namespace
}  // namespace kavro::test
