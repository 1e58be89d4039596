// Writing node values against the simulated camera: converters back to their data holder, field
// merge, register lengths, float rounding, read-only registers, copies and the cache.
#include <bit>
#include <numbers>
#include <string>

#include "tests/features/node_test_support.h"

namespace kavro::test {
namespace {

using NodeWrite = NodeValueTest;

TEST_F(NodeWrite, ConverterWritesTheConvertedValueToItsDataHolder) {
    ASSERT_EQ(writeInt("Doubled", 5), GEV_STATUS_SUCCESS);
    EXPECT_EQ(registerWrites(), (Writes{{0x10500, 10}}));
    EXPECT_EQ(node("DoubleConverter").Value, 10);

    // Named directly, the converter converts as its read does; the value read back is the one
    // written.
    camera().clearReceivedCommands();
    ASSERT_EQ(writeInt("DoubleConverter", 7), GEV_STATUS_SUCCESS);
    EXPECT_EQ(registerWrites(), (Writes{{0x10500, 14}}));
    EXPECT_EQ(intOf("DoubleConverter"), 7u);
}

TEST_F(NodeWrite, FieldIsMergedIntoTheRegisterInBothNumberings) {
    setWord(0x10200, 0x11223344);
    ASSERT_EQ(writeInt("FieldLittle", 0xAB), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x10200), 0x1122AB44u);
    ASSERT_EQ(writeInt("FieldBig", 0x1CD), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x10200), 0x1122CD44u) << "bits beyond the field are dropped";
    EXPECT_EQ(registerReads(), (Reads{0x10200, 0x10200}));

    camera().clearReceivedCommands();
    setWord(0x10204, 0xFFFFFFFF);
    ASSERT_EQ(writeInt("FieldWriteOnly", 0xA), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(registerReads().empty()) << "a write-only register is not read first";
    EXPECT_EQ(registerWrites(), (Writes{{0x10204, 0xA0}}));
}

TEST_F(NodeWrite, EightByteRegisterGetsHighWordFirstAndTwoByteRegisterKeepsItsNeighbours) {
    ASSERT_EQ(writeInt("Wide", 0x0123456789ABCDEF), GEV_STATUS_SUCCESS);
    EXPECT_EQ(registerWrites(), (Writes{{0x10300, 0x01234567}, {0x10304, 0x89ABCDEF}}));
    setWord(0x10310, 0x11223344);
    ASSERT_EQ(writeInt("Short", 0x1CAFE), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x10310), 0x1122CAFEu);
    EXPECT_EQ(intOf("Short"), 0xCAFEu);
}

TEST_F(NodeWrite, FloatConverterOverAnIntegerRegisterRoundsUp) {
    const struct {
        double value;
        uint32_t raw;
    } cases[] = {{1.02, 11}, {-0.15, 0xFFFFFFFF}, {2.0, 20}};
    for (const auto& c : cases) {
        ASSERT_EQ(writeDouble("Gain", c.value), GEV_STATUS_SUCCESS);
        EXPECT_EQ(word(0x10600), c.raw) << c.value;
    }
    EXPECT_EQ(node("GainConverter").FloatValue, 2.0);
}

TEST_F(NodeWrite, FloatRegistersTakeTheirSingleOrDoublePattern) {
    ASSERT_EQ(writeDouble("Exposure", 1.5), GEV_STATUS_SUCCESS);
    EXPECT_EQ(registerWrites(), (Writes{{0x10700, std::bit_cast<uint32_t>(3.0f)}}));
    EXPECT_DOUBLE_EQ(floatOf("Exposure"), 1.5);

    camera().clearReceivedCommands();
    ASSERT_EQ(writeDouble("Precise", std::numbers::pi), GEV_STATUS_SUCCESS);
    const uint64_t bits = std::bit_cast<uint64_t>(2 * std::numbers::pi);
    EXPECT_EQ(registerWrites(), (Writes{{0x10A00, static_cast<uint32_t>(bits >> 32)},
                                        {0x10A04, static_cast<uint32_t>(bits)}}));
    EXPECT_EQ(floatOf("Precise"), std::numbers::pi);
    ASSERT_EQ(writeDouble("PreciseReg", 0.1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(floatOf("PreciseReg"), 0.1) << "no single-precision rounding";
}

TEST_F(NodeWrite, ReadOnlyRegisterCountsAsChangedWithoutSendingAndCopiesFollowAWrite) {
    ASSERT_EQ(writeInt("ReadOnlyReg", 5), GEV_STATUS_SUCCESS);
    EXPECT_EQ(sentCommands(), 0u);
    EXPECT_EQ(node("ReadOnlyReg").changed, 1);

    // Value copies follow the own write, in order.
    ASSERT_EQ(writeInt("Master", 42), GEV_STATUS_SUCCESS);
    EXPECT_EQ(registerWrites(), (Writes{{0x10904, 42}, {0x10908, 42}}));
    EXPECT_EQ(node("CopyA").Value, 42);
}

TEST_F(NodeWrite, WriteThroughCacheIsEmptiedBySendingAWrite) {
    setWord(0x10800, 5);
    EXPECT_EQ(intOf("Cached"), 5u);
    ASSERT_EQ(writeInt("Cached", 9), GEV_STATUS_SUCCESS);
    EXPECT_EQ(node("Cached").Cachable, genicam::kCacheWriteThrough);
    EXPECT_EQ(intOf("Cached"), 9u);
    EXPECT_EQ(registerReads().size(), 2u);
}

TEST_F(NodeWrite, IndexedWritesGoWhereTheReadLooks) {
    ASSERT_EQ(writeInt("Selector", 1), GEV_STATUS_SUCCESS);
    ASSERT_EQ(writeInt("Indexed", 99), GEV_STATUS_SUCCESS);
    EXPECT_EQ(intOf("Indexed"), 99u) << "the later of two entries with the same index";

    ASSERT_EQ(writeInt("Selector", 2), GEV_STATUS_SUCCESS);
    ASSERT_EQ(writeInt("Indexed", 98), GEV_STATUS_SUCCESS);
    EXPECT_EQ(node("IndexedSource").Value, 98);

    ASSERT_EQ(writeInt("Selector", 3), GEV_STATUS_SUCCESS);
    ASSERT_EQ(writeInt("Indexed", 97), GEV_STATUS_SUCCESS);
    EXPECT_EQ(intOf("Indexed"), 97u) << "no entry: the default takes the value";
    EXPECT_EQ(sentCommands(), 0u);
}

TEST_F(NodeWrite, PartialFailureKeepsWhatWasWritten) {
    camera().faults().deviceStatusNext(1, 0x8006);
    EXPECT_EQ(writeInt("Doubled", 4), 0x8006);
    EXPECT_EQ(node("DoubleConverter").Value, 0) << "the holder's write failed first";
    EXPECT_EQ(node("DoubledReg").changed, 0);
}

// Descriptions whose references lead back to a node being evaluated, or nest without end, stop
// with a status and a log line.
using NodeCycle = NodeValueTest;

// An address through its own alias, a variable naming its own formula, a converter without
// data holder.
TEST_F(NodeCycle, ReferencesBackToTheNodeAreCycles) {
    uint64_t value = 0;
    double real = 0;
    EXPECT_EQ(readInt("LoopAlias", value), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Reference cycle at node LoopReg."));
    EXPECT_EQ(writeInt("LoopReg", 1), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_EQ(sentCommands(), 0u);
    EXPECT_EQ(readInt("SelfKnife", value), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_EQ(readDouble("SelfKnife", real), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_EQ(writeInt("HeadlessUser", 3), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_TRUE(LogCapture::instance().contains("[ERROR] - Reference cycle at node Headless."));
}

// A chain of swiss knives, each reading the next; the last one is a plain Integer holding 1.
std::string knifeChain(int length) {
    std::string text = R"(<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="KV-CHAIN" VendorName="Kavro" StandardNameSpace="None"
    SchemaMajorVersion="1" SchemaMinorVersion="1" SchemaSubMinorVersion="0"
    MajorVersion="1" MinorVersion="0" SubMinorVersion="0"
    ProductGuid="0F0E0D0C-0B0A-0908-0706-050403020100"
    VersionGuid="00010203-0405-0607-0809-0A0B0C0D0E0F"
    xmlns="http://www.genicam.org/GenApi/Version_1_1">
  <Category Name="Root"><pFeature>K0</pFeature></Category>
)";
    for (int i = 0; i < length; ++i) {
        text += "  <IntSwissKnife Name=\"K" + std::to_string(i) + "\"><pVariable Name=\"N\">K" +
                std::to_string(i + 1) + "</pVariable><Formula>N + 1</Formula></IntSwissKnife>\n";
    }
    text += "  <Integer Name=\"K" + std::to_string(length) + "\"><Value>1</Value></Integer>\n";
    text += "</RegisterDescription>\n";
    return text;
}

TEST_F(NodeCycle, DeepChainsStopAtTheDepthLimit) {
    auto shallow = loadModelText(knifeChain(60));
    ASSERT_NE(shallow, nullptr);
    uint64_t value = 0;
    ASSERT_EQ(features::readInteger(kDevice, *shallow, "K0", value), GEV_STATUS_SUCCESS);
    EXPECT_EQ(value, 61u);

    auto deep = loadModelText(knifeChain(200));
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(features::readInteger(kDevice, *deep, "K0", value), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_TRUE(
        LogCapture::instance().contains("[ERROR] - Reference chain deeper than 64 at node K64."));
}

}  // namespace
}  // namespace kavro::test
