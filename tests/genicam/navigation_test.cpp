// The navigation calls on a device's feature list, through the C interface.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "feature_model_test_support.h"
#include "tests/support/sim_fixture.h"

namespace kavro::genicam::test {
namespace {

class Navigation : public kavro::test::SimCameraTest {
  protected:
    void SetUp() override {
        SimCameraTest::SetUp();
        openTransportOnly();
    }
    void TearDown() override {
        FeatureModels::instance().release(kDevice);
        SimCameraTest::TearDown();
    }

    void install(std::string_view nodes) {
        const auto built = buildFlat(nodes);
        ASSERT_EQ(built->status, GEV_STATUS_SUCCESS) << built->log.all();
        FeatureModels::instance().set(kDevice, built->model);
    }
};

TEST_F(Navigation, WalksTheExampleTree) {
    install(kExampleTree);
    uint8_t count = 99;
    ASSERT_EQ(get_root_count(kDevice, &count), GEV_STATUS_SUCCESS);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(get_feature_count(kDevice, 1, &count), GEV_STATUS_SUCCESS);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(get_feature_count(kDevice, 2, &count), GEV_STATUS_SUCCESS);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(get_sub_feature_count(kDevice, 1, 2, &count), GEV_STATUS_SUCCESS);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(get_sub_feature_count(kDevice, 1, 1, &count), GEV_STATUS_SUCCESS);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(get_subsub_feature_count(kDevice, 1, 2, 1, &count), GEV_STATUS_SUCCESS);
    EXPECT_EQ(count, 0);

    char name[16] = {};
    ASSERT_EQ(get_root_name(kDevice, 2, name, 15), GEV_STATUS_SUCCESS);
    EXPECT_STREQ(name, "z");
    ASSERT_EQ(get_feature_name(kDevice, 1, 2, name, 15), GEV_STATUS_SUCCESS);
    EXPECT_STREQ(name, "B");
    ASSERT_EQ(get_sub_feature_name(kDevice, 1, 2, 1, name, 15), GEV_STATUS_SUCCESS);
    EXPECT_STREQ(name, "y");
}

// The fourth level is reached; names are cut to the length asked for, with a terminator.
TEST_F(Navigation, ReachesTheFourthLevelAndCutsNames) {
    install(R"(<Category Name="Root"><pFeature>AcquisitionControl</pFeature></Category>
        <Category Name="AcquisitionControl"><pFeature>B</pFeature></Category>
        <Category Name="B"><pFeature>C</pFeature></Category>
        <Category Name="C"><pFeature>d</pFeature><pFeature>e</pFeature></Category>
        <Integer Name="d"/>)");
    uint8_t count = 0;
    ASSERT_EQ(get_subsub_feature_count(kDevice, 1, 1, 1, &count), GEV_STATUS_SUCCESS);
    EXPECT_EQ(count, 2);
    char name[8] = {};
    ASSERT_EQ(get_subsub_feature_name(kDevice, 1, 1, 1, 2, name, 7), GEV_STATUS_SUCCESS);
    EXPECT_STREQ(name, "e");

    GevFeatureEntry* head = nullptr;
    uint8_t maxDepth = 0;
    ASSERT_EQ(GEVGetFeatureList(kDevice, &head, &maxDepth), GEV_STATUS_SUCCESS);
    EXPECT_EQ(maxDepth, 3);
    std::string walked;
    for (const GevFeatureEntry* entry = head; entry != nullptr; entry = entry->next) {
        walked += std::string(entry->name) + std::to_string(entry->level) +
                  (entry->isLeaf != 0 ? "" : "/") + std::to_string(entry->index) + " ";
    }
    EXPECT_EQ(walked, "AcquisitionControl0/1 B1/2 C2/3 d34 e35 ");

    std::array<char, 12> buffer{};
    buffer.fill('#');
    ASSERT_EQ(get_root_name(kDevice, 1, buffer.data(), 3), GEV_STATUS_SUCCESS);
    EXPECT_EQ(std::string(buffer.data(), 4), std::string("Acq\0", 4));
    EXPECT_EQ(buffer[4], '#');
    // u32 lengths of 2^31 and more are negative as signed lengths: refused.
    EXPECT_EQ(get_feature_name(kDevice, 1, 1, buffer.data(), 0x80000000u),
              GEV_STATUS_NOT_IMPLEMENTED);
}

TEST_F(Navigation, ChecksComeInOrderAndFailuresLeaveOutputsAlone) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    uint8_t count = 77;
    // Before any build.
    EXPECT_EQ(get_root_count(kDevice, &count), GEV_STATUS_FEATURE_LIST_EMPTY);
    EXPECT_EQ(get_root_name(kDevice, 1, buffer, 7), GEV_STATUS_FEATURE_LIST_EMPTY);
    GevFeatureEntry* head = reinterpret_cast<GevFeatureEntry*>(buffer);
    uint8_t maxDepth = 9;
    EXPECT_EQ(GEVGetFeatureList(kDevice, &head, &maxDepth), GEV_STATUS_FEATURE_LIST_EMPTY);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(maxDepth, 0);

    install(kExampleTree);
    // Position 0, null buffer and length 0 come before the list.
    EXPECT_EQ(get_feature_name(kDevice, 1, 0, buffer, 7), GEV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(get_root_name(kDevice, 1, nullptr, 7), GEV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(get_root_name(kDevice, 1, buffer, 0), GEV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(get_sub_feature_count(kDevice, 0, 1, &count), GEV_STATUS_NOT_IMPLEMENTED);
    // Positions beyond the entries of their level.
    EXPECT_EQ(get_root_name(kDevice, 3, buffer, 7), GEV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(get_feature_count(kDevice, 3, &count), GEV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(get_sub_feature_name(kDevice, 1, 1, 1, buffer, 7), GEV_STATUS_NOT_IMPLEMENTED);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(8, '#'));
    EXPECT_EQ(get_root_count(kDevice, nullptr), GEV_STATUS_INVALID_ARGUMENT);

    // A closed index answers 0xC001 before anything else; the list call does not ask.
    closeTransportOnly();
    EXPECT_EQ(get_feature_name(kDevice, 1, 0, nullptr, 0), GEV_STATUS_DEVICE_NOT_OPEN);
    EXPECT_EQ(get_root_count(kDevice, &count), GEV_STATUS_DEVICE_NOT_OPEN);
    EXPECT_EQ(GEVGetFeatureList(kDevice, &head, &maxDepth), GEV_STATUS_SUCCESS);
    EXPECT_EQ(maxDepth, 2);
}

TEST_F(Navigation, CountsWrapAt256) {
    auto model = std::make_shared<FeatureModel>();
    for (int i = 0; i < 257; ++i) {
        model->features().insert(model->features().count() + 1, "f" + std::to_string(i), true, 0);
    }
    FeatureModels::instance().set(kDevice, model);
    uint8_t count = 0;
    ASSERT_EQ(get_root_count(kDevice, &count), GEV_STATUS_SUCCESS);
    EXPECT_EQ(count, 1);
    char name[8] = {};
    ASSERT_EQ(get_root_name(kDevice, 255, name, 7), GEV_STATUS_SUCCESS);
    EXPECT_STREQ(name, "f254");
}

}  // namespace
}  // namespace kavro::genicam::test
