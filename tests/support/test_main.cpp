// Test entry point: every test process uses a device table of its own, so parallel test
// processes never see each other's open indexes, and a cache folder of its own (removed at the
// end), so no test reads or fills the user's cache of loaded descriptions.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/shared_table.h"

int main(int argc, char** argv) {
    kavro::platform::SharedOpenFlags::usePrivateTableForThisProcess();
    std::string cache =
        (std::filesystem::temp_directory_path() / "kavro-test-cache.XXXXXX").string();
    if (::mkdtemp(cache.data()) == nullptr || ::setenv("XDG_CACHE_HOME", cache.c_str(), 1) != 0) {
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(cache, ignored);
    return result;
}
