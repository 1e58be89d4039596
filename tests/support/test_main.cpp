// Test entry point: every test process uses a device table of its own, so parallel test
// processes never see each other's open indexes.
#include <gtest/gtest.h>

#include "platform/shared_table.h"

int main(int argc, char** argv) {
    kavro::platform::SharedOpenFlags::usePrivateTableForThisProcess();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
