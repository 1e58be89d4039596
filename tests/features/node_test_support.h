// A simulated camera with the evaluation test description loaded as the model of the test's
// device, and helpers to look at what reached the camera's registers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "features/node_access.h"
#include "gvcp/wire.h"
#include "platform/byte_order.h"
#include "tests/genicam/feature_model_test_support.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {

// The model of a description text (with the shipped schemas and stylesheets); null, with the
// loader's lines as failures, when it does not build.
inline std::shared_ptr<genicam::FeatureModel> loadModelText(const std::string& content) {
    const auto built = genicam::test::buildDescription(content);
    EXPECT_EQ(built->status, GEV_STATUS_SUCCESS) << built->log.all();
    return built->status == GEV_STATUS_SUCCESS ? built->model : nullptr;
}

inline std::shared_ptr<genicam::FeatureModel> loadTestModel(const std::string& file) {
    return loadModelText(
        genicam::test::readFile(genicam::test::fs::path(KAVRO_TEST_DATA_DIR) / "features" / file));
}

class NodeValueTest : public SimCameraTest {
  protected:
    void SetUp() override {
        SimCameraTest::SetUp();
        sim::CameraConfig config;
        config.enforceControlPrivilege = false;  // opened without taking control
        configure(config);
        startCamera(config);
        openTransportOnly();
        model_ = loadTestModel("nodes.xml");
        ASSERT_NE(model_, nullptr);
        camera().clearReceivedCommands();
        LogCapture::instance().clear();
    }

    virtual void configure(sim::CameraConfig&) {}

    GevStatus readInt(const std::string& name, uint64_t& value) {
        return features::readInteger(kDevice, *model_, name, value);
    }
    GevStatus readDouble(const std::string& name, double& value) {
        return features::readFloat(kDevice, *model_, name, value);
    }
    GevStatus writeInt(const std::string& name, int64_t value) {
        return features::writeInteger(kDevice, *model_, name, value);
    }
    GevStatus writeDouble(const std::string& name, double value) {
        return features::writeFloat(kDevice, *model_, name, value);
    }
    uint64_t intOf(const std::string& name) {
        uint64_t value = 0;
        EXPECT_EQ(readInt(name, value), GEV_STATUS_SUCCESS) << name;
        return value;
    }
    double floatOf(const std::string& name) {
        double value = 0;
        EXPECT_EQ(readDouble(name, value), GEV_STATUS_SUCCESS) << name;
        return value;
    }
    genicam::FeatureNode& node(const std::string& name) { return *model_->findNode(name); }

    void setWord(uint32_t address, uint32_t value) {
        camera().model().writeRegister(address, value);
    }
    uint32_t word(uint32_t address) { return camera().model().readRegister(address); }

    // Addresses of the READREG commands since the last clear, in order.
    std::vector<uint32_t> registerReads() const {
        std::vector<uint32_t> out;
        for (const auto& c : commands(gvcp::kReadRegCmd))
            out.push_back(platform::loadBe32(c.bytes.data() + gvcp::kHeaderSize));
        return out;
    }
    // (address, value) of the WRITEREG commands since the last clear, in order.
    std::vector<std::pair<uint32_t, uint32_t>> registerWrites() const {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (const auto& c : commands(gvcp::kWriteRegCmd))
            out.emplace_back(platform::loadBe32(c.bytes.data() + gvcp::kHeaderSize),
                             platform::loadBe32(c.bytes.data() + gvcp::kHeaderSize + 4));
        return out;
    }
    size_t sentCommands() const { return camera_->receivedCommands().size(); }

    std::shared_ptr<genicam::FeatureModel> model_;
};

using Writes = std::vector<std::pair<uint32_t, uint32_t>>;
using Reads = std::vector<uint32_t>;

}  // namespace kavro::test
