// A simulated camera opened on kDevice without the control handshake (the camera does not ask
// for it), a device description built from a file by GEVSetXmlFile, and the camera memory
// behind the features.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "genicam/description_api.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {

using Bytes = std::vector<uint8_t>;

class DescriptionFileTest : public SimCameraTest {
  protected:
    void SetUp() override {
        SimCameraTest::SetUp();
        genicam::setLibraryFolderOverride(KAVRO_SCHEMA_DIR);
        sim::CameraConfig config;
        config.enforceControlPrivilege = false;
        startCamera(config);
        openTransportOnly();
    }
    void TearDown() override {
        genicam::releaseDeviceDescription(kDevice);
        genicam::setLibraryFolderOverride({});
        SimCameraTest::TearDown();
    }
    // Builds the description from `path`, then forgets the commands and log lines of the build.
    void describe(const std::string& path) {
        ASSERT_EQ(GEVSetXmlFile(kDevice, path.c_str()), GEV_STATUS_SUCCESS);
        camera().clearReceivedCommands();
        LogCapture::instance().clear();
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

}  // namespace kavro::test
