// The simulated camera opened with control, its built-in description loaded with GEVInitXml and
// its stream channel open: acquisitions driven through the camera's features.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "KavroGigEVisionLib.h"
#include "frame/device_table.h"
#include "genicam/description_api.h"
#include "sim/feature_registers.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {

class DescribedCameraTest : public SimCameraTest {
  protected:
    // Small images, so that streams stay light on a loaded machine and under the sanitizers.
    static constexpr uint32_t kWidth = 160;
    static constexpr uint32_t kHeight = 120;
    // Image waits are generous: a slow machine must not make a test fail.
    static constexpr uint32_t kImageTimeoutMs = 3000;

    void SetUp() override {
        SimCameraTest::SetUp();
        genicam::setLibraryFolderOverride(KAVRO_SCHEMA_DIR);
        startCamera(config);
        const GevConnectInfo info = loopbackConnectInfo(camera().addressNet());
        ASSERT_EQ(GEVInit(kDevice, &info, &LogCapture::callback, 0, 1), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVInitXml(kDevice), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVOpenStreamChannel(kDevice, 0, 0, 0), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVSetFeatureInteger(kDevice, "Width", kWidth), GEV_STATUS_SUCCESS);
        ASSERT_EQ(GEVSetFeatureInteger(kDevice, "Height", kHeight), GEV_STATUS_SUCCESS);
        GevChannelParameter p{};
        ASSERT_EQ(GEVGetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
        p.imageTimeout = kImageTimeoutMs;
        ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
        LogCapture::instance().clear();
    }
    void TearDown() override {
        (void)GEVClose(kDevice);
        genicam::setLibraryFolderOverride({});
        SimCameraTest::TearDown();
    }

    // Feature writes that must succeed.
    void setInteger(const char* name, int64_t value) {
        ASSERT_EQ(GEVSetFeatureInteger(kDevice, name, value), GEV_STATUS_SUCCESS) << name;
    }
    void setEntry(const char* name, const char* entry) {
        ASSERT_EQ(GEVSetFeatureEnumeration(kDevice, name, entry), GEV_STATUS_SUCCESS) << name;
    }

    uint64_t integer(const char* name) {
        uint64_t value = 0;
        EXPECT_EQ(GEVGetFeatureInteger(kDevice, name, &value), GEV_STATUS_SUCCESS) << name;
        return value;
    }
    double floating(const char* name) {
        double value = 0;
        EXPECT_EQ(GEVGetFeatureFloat(kDevice, name, &value), GEV_STATUS_SUCCESS) << name;
        return value;
    }
    std::string enumeration(const char* name) {
        char text[101] = {};
        EXPECT_EQ(GEVGetFeatureEnumeration(kDevice, name, text, 100), GEV_STATUS_SUCCESS) << name;
        return text;
    }
    uint32_t cameraWord(uint32_t address) { return camera().model().readRegister(address); }
    frame::GevDevice& record() { return test::record(kDevice); }
    static bool logged(const std::string& line) { return LogCapture::instance().contains(line); }

    sim::CameraConfig config;
};

}  // namespace kavro::test
