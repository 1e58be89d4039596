// A simulated camera opened on the test's device with the feature call test description built
// by GEVSetXmlFile, and access to the camera's memory behind the features.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "genicam/description_api.h"
#include "gvcp/wire.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {

using Bytes = std::vector<uint8_t>;

// The device index FeatureCallTest opens (SimCameraTest::kDevice, for helpers outside it).
inline constexpr uint8_t kFeatureDevice = 1;

class FeatureCallTest : public SimCameraTest {
  protected:
    static_assert(kDevice == kFeatureDevice);

    void SetUp() override {
        SimCameraTest::SetUp();
        genicam::setLibraryFolderOverride(KAVRO_SCHEMA_DIR);
        sim::CameraConfig config;
        config.enforceControlPrivilege = false;  // opened without the control handshake
        startCamera(config);
        openTransportOnly();
        const std::string path = std::string(KAVRO_TEST_DATA_DIR) + "/feature_calls/features.xml";
        ASSERT_EQ(GEVSetXmlFile(kDevice, path.c_str()), GEV_STATUS_SUCCESS);
        camera().clearReceivedCommands();
        LogCapture::instance().clear();
    }
    void TearDown() override {
        genicam::releaseDeviceDescription(kDevice);
        genicam::setLibraryFolderOverride({});
        SimCameraTest::TearDown();
    }

    void setWord(uint32_t address, uint32_t value) {
        camera().model().writeRegister(address, value);
    }
    uint32_t word(uint32_t address) { return camera().model().readRegister(address); }
    void putBytes(uint32_t address, const Bytes& bytes) {
        camera().model().writeMemory(address, bytes);
    }
    Bytes bytesAt(uint32_t address, uint32_t count) {
        return camera().model().readMemory(address, count);
    }
    static bool logged(const std::string& line) { return LogCapture::instance().contains(line); }
};

// A text buffer pre-filled with 'x', to see exactly which bytes a call wrote.
inline std::string filled(size_t size) {
    return std::string(size, 'x');
}

}  // namespace kavro::test
