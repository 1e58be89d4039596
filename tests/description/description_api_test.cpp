// The description calls against a simulated camera: building the feature model from the
// camera's description, the raw text calls, the saved copy, and release at close.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "KavroGigEVisionLib.h"
#include "frame/device_table.h"
#include "genicam/description_api.h"
#include "genicam/description_fetch.h"
#include "genicam/feature_model.h"
#include "gvcp/wire.h"
#include "platform/byte_order.h"
#include "sim/description_image.h"
#include "tests/description/description_test_support.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {
namespace {

const Bytes& builtIn() {
    static const Bytes bytes(sim::builtInDescription().begin(), sim::builtInDescription().end());
    return bytes;
}

std::string localUrl(const char* name, size_t length) {
    char url[96];
    std::snprintf(url, sizeof url, "Local:%s;%X;%zX", name, sim::kDescriptionAddress, length);
    return url;
}

class DescriptionCalls : public SimCameraTest {
  protected:
    void SetUp() override {
        SimCameraTest::SetUp();
        ASSERT_EQ(GEVSetDescriptionDataFolder(KAVRO_SCHEMA_DIR), GEV_STATUS_SUCCESS);
        genicam::setLibraryFolderOverride(library_.str());
    }
    void TearDown() override {
        (void)GEVClose(kDevice);
        genicam::setLibraryFolderOverride({});
        (void)GEVSetDescriptionDataFolder(nullptr);
        SimCameraTest::TearDown();
    }
    // Opens without control (no heartbeat traffic: scripted faults hit the calls under test).
    void open(const sim::CameraConfig& config = {}, uint8_t save = 0) {
        startCamera(config);
        const GevConnectInfo info = loopbackConnectInfo(camera().addressNet());
        ASSERT_EQ(GEVInit(kDevice, &info, &LogCapture::callback, save, 0), GEV_STATUS_SUCCESS);
        LogCapture::instance().clear();
        camera().clearReceivedCommands();
    }
    frame::GevDevice& record() { return *frame::DeviceTable::instance().record(kDevice); }
    std::vector<uint32_t> memoryReads() const {
        std::vector<uint32_t> addresses;
        for (const auto& c : commands(gvcp::kReadMemCmd))
            addresses.push_back(platform::loadBe32(c.bytes.data() + gvcp::kHeaderSize));
        return addresses;
    }
    Bytes heldText(uint32_t size) {
        Bytes text(size, 0);
        void* buffer = text.data();
        EXPECT_EQ(GEVGetXmlFile(kDevice, &buffer), GEV_STATUS_SUCCESS);
        return text;
    }
    static bool logged(const std::string& line) { return LogCapture::instance().contains(line); }

    ScratchFolder library_;
};

TEST_F(DescriptionCalls, InitXmlBuildsTheModelFromThePlainDescriptionAndCloseReleasesIt) {
    open();
    ASSERT_EQ(GEVInitXml(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record().descriptionReady.load(), 1u);
    EXPECT_NE(genicam::FeatureModels::instance().get(kDevice), nullptr);
    EXPECT_TRUE(logged("[INFO] - Get xml and parse it."));
    char line[128];
    std::snprintf(line, sizeof line,
                  "[INFO] - XML-Name: KavroSimCamera.xml, Address: 0x00800000, "
                  "Length: %zu",
                  builtIn().size());
    EXPECT_TRUE(logged(line));
    EXPECT_EQ(library_.fileCount(), 0u) << "saved only when the open asked for it";

    // The build let the text go; its size stays known.
    Bytes scratch(8);
    void* buffer = scratch.data();
    EXPECT_EQ(GEVGetXmlFile(kDevice, &buffer), GEV_STATUS_DESCRIPTION_READ_ERROR);

    // Closing releases the model and the size.
    ASSERT_EQ(GEVClose(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(genicam::FeatureModels::instance().get(kDevice), nullptr);
    EXPECT_EQ(GEVGetXmlFile(kDevice, &buffer), GEV_STATUS_DESCRIPTION_EMPTY);

    // The raw text calls check the index themselves (the others go through the shared guard).
    uint32_t size = 1;
    EXPECT_EQ(GEVGetXmlSize(kDevice, &size), GEV_STATUS_URL_ERROR);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(GEVGetXmlSize(0, &size), GEV_STATUS_DEVICE_NOT_OPEN);
    EXPECT_EQ(GEVGetXmlSize(21, &size), GEV_STATUS_DEVICE_NOT_OPEN);
    EXPECT_EQ(GEVGetXmlFile(21, &buffer), GEV_STATUS_DEVICE_NOT_OPEN);
}

// The raw text calls hand out the unpacked text once; the build saves the archive as fetched.
TEST_F(DescriptionCalls, ZippedDescriptionIsHandedOutOnceAndBuildsAndItsArchiveIsSaved) {
    sim::CameraConfig config;
    config.zipDescription = true;
    open(config, /*save=*/1);
    uint32_t size = 0;
    ASSERT_EQ(GEVGetXmlSize(kDevice, &size), GEV_STATUS_SUCCESS);
    EXPECT_EQ(size, builtIn().size());
    EXPECT_EQ(heldText(size), builtIn());
    Bytes again(size);
    void* buffer = again.data();
    EXPECT_EQ(GEVGetXmlFile(kDevice, &buffer), GEV_STATUS_DESCRIPTION_READ_ERROR);
    EXPECT_EQ(GEVGetXmlFile(kDevice, nullptr), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(GEVGetXmlSize(kDevice, nullptr), GEV_STATUS_INVALID_ARGUMENT);

    ASSERT_EQ(GEVInitXml(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record().descriptionReady.load(), 1u);
    EXPECT_TRUE(
        logged("[INFO] - Successfully extracted file, size " + std::to_string(builtIn().size())));
    const Bytes archive = sim::makeZipArchive(sim::kDescriptionName, builtIn());
    EXPECT_EQ(readBytes(library_.path() / genicam::kSavedFolder / "KavroSimCamera.zip"), archive);
}

// Descriptions that do not build leave no model; what was fetched stays held.
TEST_F(DescriptionCalls, DescriptionsThatDoNotBuildLeaveNoModel) {
    Bytes archive = sim::makeZipArchive(sim::kDescriptionName, builtIn());
    archive.resize(archive.size() - 30);  // the end of the central directory is gone
    const Bytes broken = bytesOf("<RegisterDescription><unclosed></RegisterDescription>");
    const struct {
        const char* what;
        Bytes bytes;
        std::string url;
        GevStatus status;
        const char* line;
    } cases[] = {
        {"URL without separator",
         {},
         "Local:KavroSimCamera.xml",
         GEV_STATUS_DESCRIPTION_EMPTY,
         "[ERROR] - Xml file size is 0."},
        {"corrupted archive", archive, localUrl("Broken.zip", archive.size()), GEV_STATUS_ZIP_ERROR,
         "[ERROR] - mz_zip_reader_init_file() failed!"},
        {"not well-formed", broken, localUrl("Bad.xml", broken.size()),
         GEV_STATUS_XML_NOT_WELL_FORMED, "[INFO] - XML-Name: Bad.xml"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::CameraConfig config;
        config.descriptionBytes = c.bytes;
        config.firstUrl = c.url;
        open(config);
        EXPECT_EQ(GEVInitXml(kDevice), c.status);
        EXPECT_EQ(LogCapture::instance().count(c.line), 1u);
        EXPECT_EQ(record().descriptionReady.load(), 0u);
        EXPECT_EQ(genicam::FeatureModels::instance().get(kDevice), nullptr);
        if (c.bytes.empty()) {
            uint32_t size = 1;
            EXPECT_EQ(GEVGetXmlSize(kDevice, &size), GEV_STATUS_DESCRIPTION_EMPTY);
            EXPECT_EQ(size, 0u);
            Bytes scratch(8);
            void* buffer = scratch.data();
            EXPECT_EQ(GEVGetXmlFile(kDevice, &buffer), GEV_STATUS_DESCRIPTION_EMPTY);
        } else if (c.status == GEV_STATUS_ZIP_ERROR) {
            EXPECT_EQ(heldText(static_cast<uint32_t>(c.bytes.size())), c.bytes);
        }
        ASSERT_EQ(GEVClose(kDevice), GEV_STATUS_SUCCESS);
        camera_.reset();
    }
}

TEST_F(DescriptionCalls, HostZipIsUnpackedAndNeverSaved) {
    ScratchFolder files;
    const fs::path zipped = files.path() / "host.zip";
    writeBytes(zipped, sim::makeZipArchive(sim::kDescriptionName, builtIn()));
    open({}, /*save=*/1);
    ASSERT_EQ(GEVSetXmlFile(kDevice, zipped.c_str()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record().descriptionReady.load(), 1u);
    EXPECT_EQ(library_.fileCount(), 0u);
    EXPECT_TRUE(memoryReads().empty()) << "the description came from the host";
    EXPECT_EQ(GEVSetXmlFile(kDevice, (files.str() + "/missing.xml").c_str()),
              GEV_STATUS_FILE_OPEN_ERROR);
    EXPECT_EQ(record().descriptionReady.load(), 0u);
    EXPECT_EQ(genicam::FeatureModels::instance().get(kDevice), nullptr);
}

TEST_F(DescriptionCalls, ReceiversAndStreamlessCamerasGetNoImageMemory) {
    const struct {
        const char* what;
        uint32_t deviceMode;
        uint32_t streamChannels;
    } cases[] = {
        {"receiver class", 0x90000000, 1},
        {"no stream channel", 0x80000000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::CameraConfig config;
        config.deviceMode = c.deviceMode;
        config.streamChannels = c.streamChannels;
        open(config);
        // A block left by an earlier build goes.
        ASSERT_TRUE(record().imageMemory.allocate(4096));
        EXPECT_EQ(GEVInitXml(kDevice), GEV_STATUS_SUCCESS);
        EXPECT_EQ(record().descriptionReady.load(), 1u);
        EXPECT_FALSE(record().imageMemory.exists());
        uint32_t size = 1;
        EXPECT_EQ(GEVGetMemorySize(kDevice, &size), GEV_STATUS_SUCCESS);
        EXPECT_EQ(size, 0u);
        ASSERT_EQ(GEVClose(kDevice), GEV_STATUS_SUCCESS);
        camera_.reset();
    }
}

}  // namespace
}  // namespace kavro::test
