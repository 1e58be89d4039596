// Enumeration entry texts, the description texts with their cutting rules, invalidators and
// the enable status.
#include <string>

#include "tests/feature_calls/feature_call_support.h"

namespace kavro::test {
namespace {

using Enumerations = FeatureCallTest;
using Descriptions = FeatureCallTest;

constexpr uint32_t kPixelFormatReg = 0x10100;
constexpr uint32_t kModeReg = 0x10104;
constexpr uint32_t kSingleAvailableReg = 0x10108;
constexpr uint32_t kBinningReg = 0x1010C;
constexpr uint32_t kMono8 = 0x01080001;
constexpr uint32_t kMono16 = 0x01100007;

std::string entryOf(const char* feature, int32_t size = 16) {
    std::string buffer = filled(static_cast<size_t>(size) + 1);
    EXPECT_EQ(GEVGetFeatureEnumeration(kFeatureDevice, feature, buffer.data(), size),
              GEV_STATUS_SUCCESS)
        << feature;
    return buffer.substr(0, buffer.find('\0'));
}

TEST_F(Enumerations, CurrentValueGivesItsEntryText) {
    setWord(kPixelFormatReg, kMono16);
    EXPECT_EQ(entryOf("PixelFormat"), "Mono16");
    setWord(kModeReg, 4);
    EXPECT_EQ(entryOf("Mode"), "X4") << "the entry's Symbolic";
    setWord(kModeReg, 3);
    EXPECT_EQ(entryOf("Mode"), "Burst") << "no availability filter here";
    setWord(kModeReg, 9);
    EXPECT_EQ(entryOf("Mode"), "Off") << "a value without entry reports the entry of value 0";
}

TEST_F(Enumerations, TextIsCutToSizeAndTerminated) {
    setWord(kPixelFormatReg, kMono8);
    std::string buffer = filled(8);
    ASSERT_EQ(GEVGetFeatureEnumeration(kDevice, "PixelFormat", buffer.data(), 3),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("Mon\0xxxx", 8));
    buffer = filled(8);
    ASSERT_EQ(GEVGetFeatureEnumeration(kDevice, "PixelFormat", buffer.data(), 0),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("\0xxxxxxx", 8));
}

TEST_F(Enumerations, ValueWithoutAnyEntryIsReportedAndLogged) {
    setWord(kBinningReg, 7);
    std::string buffer = filled(8);
    EXPECT_EQ(GEVGetFeatureEnumeration(kDevice, "Binning", buffer.data(), 7),
              GEV_STATUS_FEATURE_TEXT_MISSING);
    EXPECT_EQ(buffer[0], '\0') << "the text is emptied";
    EXPECT_TRUE(logged("[ERROR] - Enumeration value 0x7 not found in enumeration entries."));
}

TEST_F(Enumerations, EntryTextAndFullEntryNameSelectTheSameEntry) {
    ASSERT_EQ(GEVSetFeatureEnumeration(kDevice, "PixelFormat", "Mono16"), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(kPixelFormatReg), kMono16);
    setWord(kPixelFormatReg, kMono8);
    ASSERT_EQ(GEVSetFeatureEnumeration(kDevice, "PixelFormat", "EnumEntry_PixelFormat_Mono16"),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(kPixelFormatReg), kMono16);

    EXPECT_EQ(GEVSetFeatureEnumeration(kDevice, "PixelFormat", "Mono32"),
              GEV_STATUS_FEATURE_TEXT_MISSING);
    EXPECT_EQ(GEVSetFeatureEnumeration(kDevice, "PixelFormat", "EnumEntry_Mode_Off"),
              GEV_STATUS_FEATURE_TEXT_MISSING)
        << "an entry of another enumeration";
    EXPECT_EQ(word(kPixelFormatReg), kMono16);
    EXPECT_EQ(GEVSetFeatureEnumeration(kDevice, "NoSuchFeature", "Mono8"),
              GEV_STATUS_FEATURE_NOT_FOUND);
}

TEST_F(Enumerations, EveryReportedTextCanBeSetAgain) {
    // "Quad" reports its Symbolic "X4"; both select it, and so does its full name.
    for (const char* text : {"X4", "Quad", "EnumEntry_Mode_Quad"}) {
        setWord(kModeReg, 0);
        ASSERT_EQ(GEVSetFeatureEnumeration(kDevice, "Mode", text), GEV_STATUS_SUCCESS) << text;
        EXPECT_EQ(word(kModeReg), 4u) << text;
    }
    EXPECT_EQ(GEVSetFeatureEnumeration(kDevice, "Mode", "EnumEntry_Mode_X4"),
              GEV_STATUS_FEATURE_TEXT_MISSING)
        << "a full name is matched as a name only";
    setWord(kModeReg, 3);
    ASSERT_EQ(GEVSetFeatureEnumeration(kDevice, "Mode", "Burst"), GEV_STATUS_SUCCESS)
        << "availability plays no part in selecting";
}

TEST_F(Enumerations, NamesByPositionSkipUnavailableEntries) {
    const auto names = [this](uint32_t singleAvailable) {
        setWord(kSingleAvailableReg, singleAvailable);
        std::vector<std::string> out;
        for (uint8_t p = 0; p < 6; ++p) {
            std::string buffer = filled(17);
            EXPECT_EQ(GEVGetFeatureEnumerationName(kDevice, "Mode", p, buffer.data(), 16),
                      GEV_STATUS_SUCCESS);
            if (buffer == filled(17))
                break;  // past the last: untouched
            out.push_back(buffer.substr(0, buffer.find('\0')));
        }
        return out;
    };
    // Burst is not implemented; Single is implemented and available only by its register.
    EXPECT_EQ(names(0), (std::vector<std::string>{"Off", "Continuous", "X4"}));
    EXPECT_EQ(names(1), (std::vector<std::string>{"Off", "Continuous", "Single", "X4"}));

    std::string buffer = filled(8);
    ASSERT_EQ(GEVGetFeatureEnumerationName(kDevice, "Mode", 1, buffer.data(), 4),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("Cont\0xxx", 8));

    // A flag whose node is missing fails the walk when it is reached.
    buffer = filled(8);
    ASSERT_EQ(GEVGetFeatureEnumerationName(kDevice, "Source", 0, buffer.data(), 7),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer.substr(0, 6), std::string("Line0\0", 6));
    EXPECT_EQ(GEVGetFeatureEnumerationName(kDevice, "Source", 1, buffer.data(), 7),
              GEV_STATUS_FEATURE_NOT_FOUND);
}

TEST_F(Descriptions, TextAttributesAreCutWithoutTerminator) {
    std::string buffer = filled(12);
    ASSERT_EQ(GEVGetFeatureDisplayName(kDevice, "Counter", buffer.data(), 4), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, "Counxxxxxxxx") << "exactly size bytes, no terminator";
    buffer = filled(12);
    ASSERT_EQ(GEVGetFeatureDisplayName(kDevice, "Counter", buffer.data(), 10), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("Counter 10\0x", 12)) << "a text that fits keeps its terminator";

    buffer = filled(16);
    ASSERT_EQ(GEVGetFeatureTooltip(kDevice, "Counter", buffer.data(), 15), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("Counts things\0xx", 16));
    buffer = filled(4);
    ASSERT_EQ(GEVGetFeatureUnit(kDevice, "Counter", buffer.data(), 3), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("ms\0x", 4));

    buffer = filled(4);
    EXPECT_EQ(GEVGetFeatureUnit(kDevice, "Level", buffer.data(), 3),
              GEV_STATUS_FEATURE_TEXT_MISSING);
    EXPECT_EQ(GEVGetFeatureDisplayName(kDevice, "Level", buffer.data(), 3),
              GEV_STATUS_FEATURE_TEXT_MISSING);
    EXPECT_EQ(GEVGetFeatureTooltip(kDevice, "NoSuchFeature", buffer.data(), 3),
              GEV_STATUS_FEATURE_NOT_FOUND);
    EXPECT_EQ(buffer, "xxxx");
}

TEST_F(Descriptions, InvalidatorsOfTheDataHolderByPosition) {
    std::string buffer = filled(10);
    ASSERT_EQ(GEVGetFeatureInvalidator(kDevice, "DerivedView", 0, buffer.data(), 9),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("Counter\0xx", 10));
    buffer = filled(6);
    ASSERT_EQ(GEVGetFeatureInvalidator(kDevice, "DerivedView", 1, buffer.data(), 3),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("Lev\0xx", 6));
    buffer = filled(6);
    ASSERT_EQ(GEVGetFeatureInvalidator(kDevice, "DerivedView", 2, buffer.data(), 5),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, "xxxxxx") << "past the last entry";
    EXPECT_EQ(GEVGetFeatureInvalidator(kDevice, "Counter", 0, buffer.data(), 5),
              GEV_STATUS_FEATURE_NOT_FOUND)
        << "no invalidators";
}

TEST_F(Descriptions, EnableStatusFollowsAccessAvailabilityAndLock) {
    struct Case {
        const char* feature;
        uint8_t enabled;
    };
    const Case cases[] = {
        {"Counter", 1},              // RW register
        {"Temperature", 0},          // RO register
        {"Controls", 1},             // a category
        {"CounterReadOnly", 0},      // imposed RO over RW
        {"TemperatureWritable", 0},  // imposed RW cannot lift a register's RO
        {"CounterWriteOnly", 1},     // imposed WO over RW
        {"Plain", 1},                // no access mode, no pValue: RW
        {"Deep", 0},                 // no access mode, data holder with pValue: RO
        {"Unready", 0},              // availability flag reads all ones: not available
    };
    for (const auto& c : cases) {
        uint8_t enabled = 0xAB;
        ASSERT_EQ(GEVGetFeatureEnableStatus(kDevice, c.feature, &enabled), GEV_STATUS_SUCCESS)
            << c.feature;
        EXPECT_EQ(enabled, c.enabled) << c.feature;
    }

    struct Flags {
        uint32_t available;
        uint32_t locked;
        uint8_t enabled;
    };
    for (const Flags f :
         {Flags{1, 0, 1}, Flags{1, 1, 0}, Flags{0, 0, 0}, Flags{0x100, 0, 0}, Flags{1, 0x100, 1}}) {
        setWord(0x10508, f.available);
        setWord(0x1050C, f.locked);
        uint8_t enabled = 0xAB;
        ASSERT_EQ(GEVGetFeatureEnableStatus(kDevice, "Guarded", &enabled), GEV_STATUS_SUCCESS);
        EXPECT_EQ(enabled, f.enabled)
            << "only the low 8 bits of " << f.available << "/" << f.locked << " count";
    }

    uint8_t untouched = 0xAB;
    EXPECT_EQ(GEVGetFeatureEnableStatus(kDevice, "NoSuchFeature", &untouched), GEV_STATUS_SUCCESS);
    EXPECT_EQ(untouched, 0xAB);
}

}  // namespace
}  // namespace kavro::test
