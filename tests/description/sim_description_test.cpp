// The simulated camera's description memory: read-only regions. Where the description sits and
// what its URL says is read end to end by the description call tests.
#include <gtest/gtest.h>

#include <string>

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "sim/camera_model.h"
#include "sim/description_image.h"
#include "sim/device_memory.h"
#include "tests/description/description_test_support.h"

namespace kavro::test {
namespace {

using sim::DeviceMemory;

TEST(SimDescription, ReadOnlyRegionsAreReadableAndRefuseWrites) {
    DeviceMemory memory(0x10000, 0x1000);
    const Bytes content = {1, 2, 3, 4, 5};
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x9000, content)) << "inside the bootstrap";
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x10FFC, content)) << "reaches user memory";
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x20002, content)) << "misaligned";
    EXPECT_FALSE(memory.defineReadOnlyRegion(0xFFFFFFFC, content)) << "wraps";
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x20000, {}));
    ASSERT_TRUE(memory.defineReadOnlyRegion(0x20000, content));
    EXPECT_FALSE(memory.defineReadOnlyRegion(0x20004, content)) << "overlaps the first";

    Bytes out(8, 0xEE);
    EXPECT_EQ(memory.readMemory(0x20000, out), gvcp::kStatusSuccess);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 0, 0, 0})) << "padded to whole words";
    Bytes beyond(8);
    EXPECT_EQ(memory.readMemory(0x20004, beyond), gvcp::kStatusInvalidAddress) << "past its end";
    uint32_t value = 0;
    EXPECT_EQ(memory.readRegister(0x20000, value), gvcp::kStatusSuccess);
    EXPECT_EQ(value, 0x01020304u);
    uint32_t written = 1;
    EXPECT_EQ(memory.writeMemory(0x20000, Bytes(4, 9), nullptr, written),
              gvcp::kStatusAccessDenied);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(memory.writeRegister(0x20004, 7, nullptr), gvcp::kStatusAccessDenied);
    EXPECT_EQ(memory.value(0x20000), 0x01020304u);
}

}  // namespace
}  // namespace kavro::test
