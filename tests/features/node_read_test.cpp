// Reading node values against the simulated camera: address computation, bit fields, register
// lengths, indexes, formulas, converters and the cache.
#include <bit>
#include <numbers>
#include <thread>

#include "frame/device_table.h"
#include "tests/features/node_test_support.h"

namespace kavro::test {
namespace {

using NodeRead = NodeValueTest;

// Register layouts: pValue chains, bit fields in both numberings, eight- and two-byte registers
// and sign extension.
TEST_F(NodeRead, RegistersAreReadInTheirLayout) {
    setWord(0x10120, 1234);
    EXPECT_EQ(intOf("Width"), 1234u);
    EXPECT_EQ(intOf("WidthAlias"), 1234u) << "two pValue steps";
    EXPECT_EQ(registerReads(), (Reads{0x10120, 0x10120})) << "at Address plus pAddress";

    setWord(0x10200, 0xA5C3B2E1);
    EXPECT_EQ(intOf("FieldLittle"), 0xB2u);
    EXPECT_EQ(intOf("FieldBig"), 0xB2u);

    camera().clearReceivedCommands();
    setWord(0x10300, 0x01234567);
    setWord(0x10304, 0x89ABCDEF);
    EXPECT_EQ(intOf("Wide"), 0x0123456789ABCDEFull);
    EXPECT_EQ(registerReads(), (Reads{0x10300, 0x10304})) << "high word, then low word";
    // An eight-byte float register holds a double.
    const uint64_t bits = std::bit_cast<uint64_t>(2 * std::numbers::pi);
    setWord(0x10A00, static_cast<uint32_t>(bits >> 32));
    setWord(0x10A04, static_cast<uint32_t>(bits));
    EXPECT_EQ(floatOf("PreciseReg"), 2 * std::numbers::pi);
    EXPECT_EQ(floatOf("Precise"), std::numbers::pi) << "through the converter";
    EXPECT_EQ(intOf("PreciseReg"), bits);

    camera().clearReceivedCommands();
    setWord(0x10310, 0x1122BEEF);
    EXPECT_EQ(intOf("Short"), 0xBEEFu) << "bytes, most significant first";
    EXPECT_EQ(intOf("ShortLowByte"), 0xEFu) << "big-endian bits of a two-byte register";
    EXPECT_TRUE(registerReads().empty());

    setWord(0x10C40, static_cast<uint32_t>(-10));  // bits 4..7 are all set
    EXPECT_EQ(static_cast<int64_t>(intOf("SignedReg")), -10);
    EXPECT_EQ(static_cast<int64_t>(intOf("SignedNibble")), -1);
    EXPECT_EQ(static_cast<int64_t>(intOf("SignedHalf")), -5);
    EXPECT_DOUBLE_EQ(floatOf("SignedHalfFloat"), -5.0);
}

// Big-endian bits count from the register's top bit, whatever its length (four-byte and
// two-byte fields are read above).
TEST_F(NodeRead, FieldMaskCountsBigEndianBitsFromTheTop) {
    EXPECT_EQ(features::fieldMask(8, 15, true, 16).mask, 0xFFu);
    EXPECT_EQ(features::fieldMask(0, 0, true, 64).mask, 1ull << 63);
    EXPECT_EQ(features::fieldMask(40, 47, false, 64).shift, 40u);
}

TEST_F(NodeRead, UnusableLengthsAndTheInvalidAddressSendNothing) {
    uint64_t value = 7;
    EXPECT_EQ(readInt("Oversized", value), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(LogCapture::instance().contains(
        "[ERROR] - Register length 1000 of node Oversized not supported."));
    EXPECT_EQ(readInt("NoLength", value), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(readInt("Nowhere", value), GEV_STATUS_INVALID_ADDRESS);
    EXPECT_EQ(value, 7u) << "a failed read leaves the output alone";
    EXPECT_EQ(sentCommands(), 0u);
}

TEST_F(NodeRead, IndexedValuesLastMatchWinsAndIndexesMoveTheRegister) {
    const struct {
        int64_t selector;
        uint64_t expected;
    } cases[] = {{0, 20}, {1, 11}, {2, 77}, {3, 5}, {256, 5}, {-1, 5}};
    for (const auto& c : cases) {
        ASSERT_EQ(writeInt("Selector", c.selector), GEV_STATUS_SUCCESS);
        EXPECT_EQ(intOf("Indexed"), c.expected) << "selector " << c.selector;
    }

    // The index times its offset, and swiss knife address parts, move the register.
    ASSERT_EQ(writeInt("Selector", 3), GEV_STATUS_SUCCESS);
    setWord(0x1040C, 0x33);
    EXPECT_EQ(intOf("LutEntry"), 0x33u);
    setWord(0x104B0, 0x44);
    EXPECT_EQ(intOf("Banked"), 0x44u);
    EXPECT_EQ(registerReads(), (Reads{0x1040C, 0x104B0}));
}

TEST_F(NodeRead, SwissKnivesBindTheirVariablesAndConvertersReadTheirDataHolder) {
    EXPECT_EQ(intOf("Sum"), 34u);
    ASSERT_EQ(writeInt("VarA", 7), GEV_STATUS_SUCCESS);
    EXPECT_EQ(intOf("Sum"), 74u);

    setWord(0x10120, 100);
    EXPECT_DOUBLE_EQ(floatOf("Ratio"), 100.75);

    // Converters read their data holder.
    setWord(0x10500, 10);
    EXPECT_EQ(intOf("Doubled"), 5u);
    uint64_t raw = 0;
    ASSERT_EQ(features::readNodeRaw(kDevice, *model_, "DoubleConverter", raw), GEV_STATUS_SUCCESS);
    EXPECT_EQ(raw, 10u);
    setWord(0x10600, 25);
    EXPECT_DOUBLE_EQ(floatOf("Gain"), 2.5);
    setWord(0x10700, std::bit_cast<uint32_t>(3.0f));
    EXPECT_DOUBLE_EQ(floatOf("Exposure"), 1.5);
    EXPECT_DOUBLE_EQ(floatOf("ScaleDoubled"), 6.0) << "over a literal Float";
}

TEST_F(NodeRead, FormulaFailsWhenAVariableCannotBeReadAndLogsInTwoLines) {
    EXPECT_EQ(intOf("Sum"), 34u) << "another formula's A";
    uint64_t value = 0;
    EXPECT_EQ(readInt("Leaky", value), GEV_STATUS_FORMULA_ERROR);
    LogCapture::instance().clear();
    EXPECT_EQ(readInt("Broken", value), GEV_STATUS_FORMULA_ERROR);
    const auto lines = LogCapture::instance().lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[ERROR] - MathParser: ");
    EXPECT_FALSE(lines[1].empty());
    EXPECT_EQ(lines[1].find("[ERROR]"), std::string::npos) << "the evaluator's text, as it is";
}

TEST_F(NodeRead, EveryIndexCountsAndAFloatRegisterIsWrittenWhereItIsRead) {
    ASSERT_EQ(writeInt("Selector", 1), GEV_STATUS_SUCCESS);
    ASSERT_EQ(writeInt("VarA", 2), GEV_STATUS_SUCCESS);
    setWord(0x10C84, 77);  // 1 * 4 + 2 * 16 on
    EXPECT_EQ(intOf("TwoIndexes"), 77u);

    ASSERT_EQ(writeInt("Selector", 2), GEV_STATUS_SUCCESS);
    ASSERT_EQ(writeDouble("IndexedFloat", 1.5), GEV_STATUS_SUCCESS);
    EXPECT_EQ(registerWrites(), (Writes{{0x10C28, std::bit_cast<uint32_t>(1.5f)}}));
    EXPECT_EQ(floatOf("IndexedFloat"), 1.5);
    ASSERT_EQ(writeDouble("IndexedScale", 7.25), GEV_STATUS_SUCCESS);
    EXPECT_EQ(floatOf("IndexedScale"), 7.25) << "an indexed value, written where it is read";
}

TEST_F(NodeRead, ChunkPortsReadTheLastImagesChunkAndOtherPortsFail) {
    // The image's own tag (id 1, 100 bytes), then chunk 0x12345678 of 8 bytes and its tag.
    const std::vector<uint8_t> chunks = {0, 0, 0, 1,    0,    0,    0,    100,  0x34, 0x12, 0, 0,
                                         0, 0, 0, 0x2A, 0x12, 0x34, 0x56, 0x78, 0,    0,    0, 8};
    frame::openDevice(kDevice)->lastChunkData.store(chunks);
    EXPECT_EQ(intOf("ChunkValue"), 0x2Au);
    EXPECT_EQ(intOf("ChunkLittle"), 0x1234u);

    uint64_t value = 9;
    EXPECT_EQ(readInt("StrayPortReg", value), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(LogCapture::instance().contains(
        "[ERROR] - Port Elsewhere of node StrayPortReg not supported."));
    frame::openDevice(kDevice)->lastChunkData.clear();
    EXPECT_EQ(readInt("ChunkValue", value), GEV_STATUS_INVALID_ADDRESS) << "no chunk in the image";
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(sentCommands(), 0u);
}

TEST_F(NodeRead, WriteThroughCacheServesUntilAnInvalidatorIsWritten) {
    setWord(0x10800, 5);
    EXPECT_EQ(intOf("Cached"), 5u);
    setWord(0x10800, 6);
    EXPECT_EQ(intOf("Cached"), 5u) << "served from the cache";
    EXPECT_EQ(registerReads().size(), 1u);

    ASSERT_EQ(writeInt("Trigger", 1), GEV_STATUS_SUCCESS);
    camera().clearReceivedCommands();
    EXPECT_EQ(intOf("Cached"), 6u);
    EXPECT_EQ(intOf("Cached"), 6u);
    EXPECT_EQ(registerReads().size(), 1u) << "read afresh once, then served again";
}

TEST_F(NodeRead, CacheBelongsToItsAddressAndGoesStaleWithAnyWriteItNames) {
    setWord(0x10C00, 1);
    setWord(0x10C04, 2);
    EXPECT_EQ(intOf("CachedBanked"), 1u);
    ASSERT_EQ(writeInt("Selector", 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(intOf("CachedBanked"), 2u) << "the index moved the register";

    // The invalidator names the feature over the register written, and the other way round.
    setWord(0x10810, 5);
    EXPECT_EQ(intOf("CachedByFeature"), 5u);
    setWord(0x10810, 6);
    ASSERT_EQ(writeInt("Trigger", 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(intOf("CachedByFeature"), 6u);
    setWord(0x10810, 7);
    ASSERT_EQ(writeInt("TriggerFeature", 2), GEV_STATUS_SUCCESS);
    EXPECT_EQ(intOf("CachedByFeature"), 7u);

    // A converter's read of its data holder honours the invalidators too.
    setWord(0x10800, 10);
    EXPECT_DOUBLE_EQ(floatOf("CachedHalf"), 5.0);
    setWord(0x10800, 20);
    ASSERT_EQ(writeInt("Trigger", 3), GEV_STATUS_SUCCESS);
    EXPECT_DOUBLE_EQ(floatOf("CachedHalf"), 10.0);
}

TEST_F(NodeRead, OneCacheServesFloatAndIntegerReadsAlike) {
    const uint64_t bits = std::bit_cast<uint64_t>(50.0);
    setWord(0x10A10, static_cast<uint32_t>(bits >> 32));
    setWord(0x10A14, static_cast<uint32_t>(bits));
    EXPECT_EQ(floatOf("CachedRate"), 50.0) << "fills the cache";
    EXPECT_EQ(intOf("CachedRate"), bits) << "the integer view of the cached register";
    EXPECT_DOUBLE_EQ(floatOf("CachedPeriod"), 20.0) << "a formula variable over the cache";
    EXPECT_EQ(registerReads().size(), 2u) << "one fetch, two words";

    setWord(0x10800, std::bit_cast<uint32_t>(0.25f));
    EXPECT_EQ(intOf("Cached"), std::bit_cast<uint32_t>(0.25f)) << "fills the cache";
    EXPECT_EQ(floatOf("Cached"), 0.25) << "the float view of the cached register";
}

TEST_F(NodeRead, WriteAroundCachesOnlyReadOnlyRegisters) {
    setWord(0x10808, 1);
    setWord(0x1080C, 2);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(intOf("AroundReadOnly"), 1u);
        EXPECT_EQ(intOf("AroundReadWrite"), 2u);
    }
    EXPECT_EQ(registerReads(), (Reads{0x10808, 0x1080C, 0x1080C, 0x1080C}));
}

// Formulas of two devices with the same variable names evaluated at once: each sees its own.
TEST_F(NodeRead, ConcurrentFormulasKeepTheirOwnVariables) {
    auto other = loadTestModel("nodes.xml");
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(features::writeInteger(kDevice, *other, "VarA", 5), GEV_STATUS_SUCCESS);
    ASSERT_EQ(features::writeInteger(kDevice, *other, "VarB", 6), GEV_STATUS_SUCCESS);
    auto loop = [](genicam::FeatureModel& model, uint64_t expected, int& wrong) {
        for (int i = 0; i < 2000; ++i) {
            uint64_t value = 0;
            if (features::readInteger(kDevice, model, "Sum", value) != GEV_STATUS_SUCCESS ||
                value != expected)
                ++wrong;
        }
    };
    int wrongHere = 0;
    int wrongThere = 0;
    std::thread a(loop, std::ref(*model_), 34u, std::ref(wrongHere));
    std::thread b(loop, std::ref(*other), 56u, std::ref(wrongThere));
    a.join();
    b.join();
    EXPECT_EQ(wrongHere, 0);
    EXPECT_EQ(wrongThere, 0);
}

}  // namespace
}  // namespace kavro::test
