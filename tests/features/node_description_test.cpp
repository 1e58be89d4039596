// The descriptions the library is used with evaluate: every value node of the simulator's own
// description reads without a formula error or a reference cycle.
#include <string>

#include "sim/description_image.h"
#include "tests/features/node_test_support.h"

namespace kavro::test {
namespace {

class SimulatorDescription : public NodeValueTest {
  protected:
    // Plain memory from the end of the bootstrap registers on holds the feature registers.
    void configure(sim::CameraConfig& config) override { config.userMemoryBase = 0xA000; }
};

// Reads every value node of `model`; none may end in a formula error or a reference cycle.
size_t evaluateAll(genicam::FeatureModel& model, uint8_t device) {
    size_t evaluated = 0;
    for (const auto& node : model.nodes()) {
        const bool isFloat = node->kind == genicam::NodeKind::Float;
        if (node->kind != genicam::NodeKind::Integer && !isFloat &&
            node->kind != genicam::NodeKind::Enumeration &&
            node->kind != genicam::NodeKind::Boolean) {
            continue;
        }
        GevStatus status = GEV_STATUS_SUCCESS;
        if (isFloat) {
            double value = 0;
            status = features::readFloat(device, model, node->Name, value);
        } else {
            uint64_t value = 0;
            status = features::readInteger(device, model, node->Name, value);
        }
        EXPECT_NE(status, GEV_STATUS_FORMULA_ERROR) << node->Name;
        EXPECT_NE(status, GEV_STATUS_REFERENCE_CYCLE) << node->Name;
        ++evaluated;
    }
    return evaluated;
}

TEST_F(SimulatorDescription, SampleDescriptionsEvaluate) {
    camera().model().writeRegister(0x20200, 1000);  // a line period to divide by
    for (const char* file : {"camera_v1_0.xml", "camera_v1_1.xml"}) {
        std::ifstream in(std::filesystem::path(KAVRO_TEST_DATA_DIR) / "genicam" / file);
        std::ostringstream text;
        text << in.rdbuf();
        auto model = loadModelText(text.str());
        ASSERT_NE(model, nullptr) << file;
        EXPECT_GT(evaluateAll(*model, kDevice), 10u) << file;
    }
}

TEST_F(SimulatorDescription, EveryValueNodeEvaluates) {
    const auto bytes = sim::builtInDescription();
    auto model = loadModelText(std::string(bytes.begin(), bytes.end()));
    ASSERT_NE(model, nullptr);
    camera().model().writeRegister(0xA100, 640);  // WidthReg
    camera().model().writeRegister(0xA104, 480);  // HeightReg
    const size_t evaluated = evaluateAll(*model, kDevice);
    EXPECT_GT(evaluated, 20u);

    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t payload = 0;
    uint64_t highBitDepth = 0;
    ASSERT_EQ(features::readInteger(kDevice, *model, "Width", width), GEV_STATUS_SUCCESS);
    ASSERT_EQ(features::readInteger(kDevice, *model, "Height", height), GEV_STATUS_SUCCESS);
    ASSERT_EQ(features::readInteger(kDevice, *model, "PayloadSize", payload), GEV_STATUS_SUCCESS);
    EXPECT_EQ(width, 640u);
    EXPECT_EQ(payload, width * height);
    ASSERT_EQ(features::readInteger(kDevice, *model, "HighBitDepthAvailable", highBitDepth),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(highBitDepth, 1u) << "640 <= 1024 + 1024 / 2: a constant and an expression";
}

}  // namespace
}  // namespace kavro::test
