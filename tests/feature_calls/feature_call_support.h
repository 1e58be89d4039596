// The feature call tests' camera: the simulator with the feature call test description.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "gvcp/wire.h"
#include "tests/support/description_file_fixture.h"

namespace kavro::test {

// The device index FeatureCallTest opens (SimCameraTest::kDevice, for helpers outside it).
inline constexpr uint8_t kFeatureDevice = 1;

// The feature call test description on the simulated camera.
class FeatureCallTest : public DescriptionFileTest {
  protected:
    static_assert(kDevice == kFeatureDevice);

    void SetUp() override {
        DescriptionFileTest::SetUp();
        describe(std::string(KAVRO_TEST_DATA_DIR) + "/feature_calls/features.xml");
    }
};

// A text buffer pre-filled with 'x', to see exactly which bytes a call wrote.
inline std::string filled(size_t size) {
    return std::string(size, 'x');
}

}  // namespace kavro::test
