// GVCP packet layouts, byte for byte.
#include <gtest/gtest.h>

#include <vector>

#include "gvcp/wire.h"
#include "gvcp/wire_events.h"

namespace kavro::gvcp {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(GvcpWire, CommandsHaveTheirExactLayout) {
    EXPECT_EQ(buildReadReg(0x1234, 0x0A00, 2),
              (Bytes{0x42, 0x01, 0x00, 0x80, 0x00, 0x08, 0x12, 0x34,  //
                     0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x0A, 0x04}));
    const uint32_t values[] = {0x11223344};
    EXPECT_EQ(buildWriteReg(7, 0x0B00, values),
              (Bytes{0x42, 0x01, 0x00, 0x82, 0x00, 0x08, 0x00, 0x07,  //
                     0x00, 0x00, 0x0B, 0x00, 0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(buildReadMem(1, 0x10000, 536),
              (Bytes{0x42, 0x01, 0x00, 0x84, 0x00, 0x08, 0x00, 0x01,  //
                     0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x18}));
    const uint8_t data[] = {0xAB, 0xCD};
    EXPECT_EQ(buildWriteMem(2, 0x20, data, 4),
              (Bytes{0x42, 0x01, 0x00, 0x86, 0x00, 0x08, 0x00, 0x02,  //
                     0x00, 0x00, 0x00, 0x20, 0xAB, 0xCD, 0x00, 0x00}));
}

TEST(GvcpWire, EventsWith64BitIdsCarryFlag0x10AndSeveralShareOneDatagram) {
    const EventRecord second{0x0003, 0xFFFF, 9, 10};
    const Bytes bytes = buildEvent({.extended = true,
                                    .reqId = 5,
                                    .eventId = 0x9001,
                                    .blockId = 0x0102030405060708ull,
                                    .timestamp = 0x1112131415161718ull,
                                    .data = {},
                                    .following = std::span(&second, 1)});
    const Bytes golden = {0x42, 0x11, 0x00, 0xC0, 0x00, 0x30, 0x00, 0x05,  //
                          0x00, 0x00, 0x90, 0x01, 0x00, 0x00, 0x00, 0x00,  //
                          0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  //
                          0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,  //
                          0x00, 0x00, 0x00, 0x03, 0xFF, 0xFF, 0x00, 0x00,  //
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09,  //
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(bytes, golden);
    const auto events = parseEvents(golden);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ((std::vector<uint64_t>{events[0].blockId, events[0].timestamp, events[1].eventId,
                                     events[1].blockId, events[1].timestamp}),
              (std::vector<uint64_t>{0x0102030405060708ull, 0x1112131415161718ull, 3, 9, 10}));
    // A length field that claims a third event the datagram does not hold gives two.
    Bytes lying = golden;
    lying[5] = 0x48;
    EXPECT_EQ(parseEvents(lying).size(), 2u);
}

TEST(GvcpWire, BuildersClampCountsToOneCommand) {
    EXPECT_EQ(buildReadReg(1, 0, 1000).size(), kHeaderSize + 540);
    std::vector<uint32_t> many(100, 0);
    EXPECT_EQ(buildWriteReg(1, 0, many).size(), kHeaderSize + 8 * 67);
    std::vector<uint8_t> big(2000, 0);
    EXPECT_EQ(buildWriteMem(1, 0, big, 2000).size(), kHeaderSize + 4 + 536);
}

}  // namespace
}  // namespace kavro::gvcp
