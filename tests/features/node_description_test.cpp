// The descriptions the library is used with evaluate: their formulas are accepted and their
// references do not loop.
#include <string>

#include "mathparser/formula_cache.h"
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
    std::shared_ptr<genicam::FeatureModel> model;
    for (const char* file : {"camera_v1_0.xml", "camera_v1_1.xml"}) {
        model = loadModelText(genicam::test::sample(file));
        ASSERT_NE(model, nullptr) << file;
        EXPECT_GT(evaluateAll(*model, kDevice), 10u) << file;
    }

    // A formula of the 1.1 sample with a constant and an expression, over the width register.
    const struct {
        uint32_t width;
        uint64_t available;
    } cases[] = {{1536, 1}, {1540, 0}};
    for (const auto& c : cases) {
        camera().model().writeRegister(0xA100, c.width);  // WidthReg, write-through
        model->findNode("WidthReg")->Cachable = genicam::kCacheWriteThrough;
        uint64_t value = 9;
        ASSERT_EQ(features::readInteger(kDevice, *model, "HighBitDepthAvailable", value),
                  GEV_STATUS_SUCCESS);
        EXPECT_EQ(value, c.available) << "W <= LIMIT + HALF with W " << c.width;
    }
}

// The simulator's description changes with the simulator, and its registers are served only
// by a camera that models them: every formula must compile and no read may loop.
TEST_F(SimulatorDescription, FormulasCompileAndNoReadLoops) {
    const auto bytes = sim::builtInDescription();
    auto model = loadModelText(std::string(bytes.begin(), bytes.end()));
    ASSERT_NE(model, nullptr);
    size_t formulas = 0;
    for (const auto& node : model->nodes()) {
        for (const std::string* text : {&node->Formula, &node->FormulaTo, &node->FormulaFrom}) {
            if (text->empty())
                continue;
            const auto program = mathparser::compiledFormula(*text);
            EXPECT_EQ(program->error, nullptr) << node->Name << ": " << *text;
            ++formulas;
        }
        uint64_t value = 0;
        EXPECT_NE(features::readInteger(kDevice, *model, node->Name, value),
                  GEV_STATUS_REFERENCE_CYCLE)
            << node->Name;
    }
    EXPECT_GT(formulas, 2u);
}

}  // namespace
}  // namespace kavro::test
