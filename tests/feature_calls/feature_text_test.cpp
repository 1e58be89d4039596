// Enumeration entry texts, the description texts with their cutting rules, invalidators and
// the enable status.
#include <cstring>
#include <limits>
#include <string>

#include "tests/feature_calls/feature_call_support.h"
#include "tests/genicam/genicam_test_support.h"

namespace kavro::test {
namespace {

using genicam::test::ints;
using Enumerations = FeatureCallTest;
using Descriptions = FeatureCallTest;

constexpr uint32_t kPixelFormatReg = 0x10100;
constexpr uint32_t kModeReg = 0x10104;
constexpr uint32_t kMono16 = 0x01100007;

// The call's result in a buffer of `bytes` pre-filled with 'x'.
std::string written(GevStatus (*call)(uint8_t, const char*, char*, int32_t), const char* feature,
                    int32_t size, size_t bytes, GevStatus expected = GEV_STATUS_SUCCESS) {
    std::string buffer = filled(bytes);
    EXPECT_EQ(call(kFeatureDevice, feature, buffer.data(), size), expected) << feature;
    return buffer;
}

GevFeatureParameter parameterOf(const char* feature) {
    GevFeatureParameter p;
    std::memset(&p, 0xAB, sizeof p);
    EXPECT_EQ(GEVGetFeatureParameter(kFeatureDevice, feature, &p), GEV_STATUS_SUCCESS) << feature;
    return p;
}

TEST_F(Enumerations, EntryTextsAndNamesGetAndSelectEntries) {
    const auto entry = [](const char* feature) {
        const std::string text = written(GEVGetFeatureEnumeration, feature, 16, 17);
        return text.substr(0, text.find('\0'));
    };
    setWord(kPixelFormatReg, kMono16);
    EXPECT_EQ(entry("PixelFormat"), "Mono16");
    setWord(kModeReg, 4);
    EXPECT_EQ(entry("Mode"), "X4") << "the entry's Symbolic";
    setWord(kModeReg, 3);
    EXPECT_EQ(entry("Mode"), "Burst") << "no availability filter here";
    setWord(kModeReg, 9);
    EXPECT_EQ(entry("Mode"), "Off") << "a value without entry reports the entry of value 0";

    setWord(kPixelFormatReg, 0x01080001);
    EXPECT_EQ(written(GEVGetFeatureEnumeration, "PixelFormat", 3, 6), std::string("Mon\0xx", 6));

    setWord(0x1010C, 7);
    EXPECT_EQ(written(GEVGetFeatureEnumeration, "Binning", 7, 2, GEV_STATUS_FEATURE_TEXT_MISSING),
              std::string("\0x", 2))
        << "no entry for the value nor for 0: the text is emptied";
    EXPECT_TRUE(logged("[ERROR] - Enumeration value 0x7 not found in enumeration entries."));

    // Names by position skip unavailable entries.
    const auto names = [this](uint32_t singleAvailable) {
        setWord(0x10108, singleAvailable);
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

    std::string buffer = filled(6);
    ASSERT_EQ(GEVGetFeatureEnumerationName(kDevice, "Mode", 1, buffer.data(), 4),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("Cont\0x", 6));
    EXPECT_EQ(GEVGetFeatureEnumerationName(kDevice, "Source", 1, buffer.data(), 5),
              GEV_STATUS_FEATURE_NOT_FOUND)
        << "the flag node of the second entry is missing";

    // The entry text and the full entry name select the same entry.
    ASSERT_EQ(GEVSetFeatureEnumeration(kDevice, "PixelFormat", "Mono16"), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(kPixelFormatReg), kMono16);
    setWord(kPixelFormatReg, 0);
    ASSERT_EQ(GEVSetFeatureEnumeration(kDevice, "PixelFormat", "EnumEntry_PixelFormat_Mono16"),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(kPixelFormatReg), kMono16);

    // "Quad" reports its Symbolic "X4"; every text that names it selects it.
    for (const char* text : {"X4", "Quad", "EnumEntry_Mode_Quad"}) {
        setWord(kModeReg, 0);
        ASSERT_EQ(GEVSetFeatureEnumeration(kDevice, "Mode", text), GEV_STATUS_SUCCESS) << text;
        EXPECT_EQ(word(kModeReg), 4u) << text;
    }
    ASSERT_EQ(GEVSetFeatureEnumeration(kDevice, "Mode", "Burst"), GEV_STATUS_SUCCESS)
        << "availability plays no part in selecting";
    EXPECT_EQ(word(kModeReg), 3u);

    for (const char* text : {"Mono32", "EnumEntry_Mode_Off", "EnumEntry_PixelFormat_X"})
        EXPECT_EQ(GEVSetFeatureEnumeration(kDevice, "PixelFormat", text),
                  GEV_STATUS_FEATURE_TEXT_MISSING)
            << text;
    EXPECT_EQ(word(kPixelFormatReg), kMono16);
}

TEST_F(Descriptions, TextAttributesAndInvalidatorsAreCutWithoutTerminator) {
    EXPECT_EQ(written(GEVGetFeatureDisplayName, "Counter", 4, 6), "Counxx");
    EXPECT_EQ(written(GEVGetFeatureDisplayName, "Counter", 10, 12),
              std::string("Counter 10\0x", 12))
        << "a text that fits keeps its terminator";
    EXPECT_EQ(written(GEVGetFeatureTooltip, "Counter", 20, 15),
              std::string("Counts things\0x", 15));
    EXPECT_EQ(written(GEVGetFeatureUnit, "Counter", 3, 4), std::string("ms\0x", 4));
    EXPECT_EQ(written(GEVGetFeatureUnit, "Level", 3, 4, GEV_STATUS_FEATURE_TEXT_MISSING), "xxxx");
    EXPECT_EQ(written(GEVGetFeatureTooltip, "Nothing", 3, 4, GEV_STATUS_FEATURE_NOT_FOUND), "xxxx");

    // The invalidators of the data holder, by position.
    const auto invalidator = [](const char* feature, uint8_t position, int32_t size,
                                GevStatus expected = GEV_STATUS_SUCCESS) {
        std::string buffer = filled(10);
        EXPECT_EQ(GEVGetFeatureInvalidator(kFeatureDevice, feature, position, buffer.data(), size),
                  expected);
        return buffer;
    };
    EXPECT_EQ(invalidator("DerivedView", 0, 9), std::string("Counter\0xx", 10));
    EXPECT_EQ(invalidator("DerivedView", 1, 3), std::string("Lev\0xxxxxx", 10));
    EXPECT_EQ(invalidator("DerivedView", 2, 9), filled(10)) << "past the last entry";
    EXPECT_EQ(invalidator("Counter", 0, 9, GEV_STATUS_FEATURE_NOT_FOUND), filled(10));
}

TEST_F(Descriptions, EnableStatusAndFlagsFollowAccessAvailabilityAndLock) {
    const auto enabled = [](const char* feature) {
        uint8_t value = 0xAB;
        EXPECT_EQ(GEVGetFeatureEnableStatus(kFeatureDevice, feature, &value), GEV_STATUS_SUCCESS);
        return value;
    };
    EXPECT_EQ(enabled("Counter"), 1) << "RW register";
    EXPECT_EQ(enabled("Temperature"), 0) << "RO register";
    EXPECT_EQ(enabled("Controls"), 1) << "a category";
    EXPECT_EQ(enabled("CounterReadOnly"), 0) << "imposed RO over RW";
    EXPECT_EQ(enabled("TemperatureWritable"), 0) << "imposed RW cannot lift the register's RO";
    EXPECT_EQ(enabled("CounterWriteOnly"), 1) << "imposed WO over RW";
    EXPECT_EQ(enabled("Plain"), 1) << "no access mode, no pValue: RW";
    EXPECT_EQ(enabled("Deep"), 0) << "no access mode, data holder with pValue: RO";
    EXPECT_EQ(enabled("Unready"), 0) << "an availability flag of all ones";
    EXPECT_EQ(enabled("Nothing"), 0xAB) << "a missing feature leaves the output";

    struct Flags {
        uint32_t available, locked;
        uint8_t enabled;
    };
    for (const Flags f :
         {Flags{1, 0, 1}, Flags{1, 1, 0}, Flags{0, 0, 0}, Flags{0x100, 0, 0}, Flags{1, 0x100, 1}}) {
        setWord(0x10508, f.available);
        setWord(0x1050C, f.locked);
        SCOPED_TRACE(testing::Message() << "low 8 bits of " << f.available << " / " << f.locked);
        EXPECT_EQ(enabled("Guarded"), f.enabled);
        const GevFeatureParameter p = parameterOf("Guarded");
        EXPECT_EQ(p.available, (f.available & 0xFF) != 0 ? 1 : 0);
        EXPECT_EQ(p.locked, (f.locked & 0xFF) != 0 ? 1 : 0);
    }
    GevFeatureParameter p{};
    EXPECT_EQ(GEVGetFeatureParameter(kDevice, "Hidden", &p), GEV_STATUS_FEATURE_NOT_FOUND)
        << "a data holder that is not implemented";
}

// GEVGetFeatureParameter: limits with their defaults, references and slopes, increments, the
// Boolean and command values, enumeration entry counts and the access-mode rules.
using FeatureParameters = FeatureCallTest;

TEST_F(FeatureParameters, LimitsWithoutMinAndMax) {
    const GevFeatureParameter plain = parameterOf("Plain");
    EXPECT_EQ(ints(plain.kind, plain.min, plain.max, plain.inc, plain.representation,
                   plain.implemented, plain.available, plain.locked),
              ints(GEV_FEATURE_INTEGER, 0, 4294967295, 1, 5, 1, 1, 0));
    EXPECT_EQ(plain.floatMax, 4294967295.0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&plain);
    for (size_t i : {1, 7, 50, 55, 91, 95})
        EXPECT_EQ(bytes[i], 0) << "reserved byte " << i;

    const GevFeatureParameter ratio = parameterOf("Ratio");
    EXPECT_EQ(ratio.kind, GEV_FEATURE_FLOAT);
    EXPECT_EQ(ratio.floatMin, -9223372036854775808.0);
    EXPECT_EQ(ratio.floatMax, 9223372036854775808.0);
    EXPECT_EQ(ratio.min, std::numeric_limits<int64_t>::min());
    EXPECT_EQ(ratio.max, std::numeric_limits<int64_t>::max()) << "2^63 saturates, never wraps";
    EXPECT_EQ(ratio.floatInc, 0.0);
}

TEST_F(FeatureParameters, RegisterFeatureTakesItsLiteralsAndItsRegistersProperties) {
    const GevFeatureParameter p = parameterOf("Width");
    EXPECT_EQ(ints(p.min, p.max, p.inc, p.visibility, p.representation, p.accessMode, p.length,
                   p.address, p.sign, p.pollingTime, p.invalidators),
              ints(16, 4096, 8, 2, 4, GEV_ACCESS_RW, 4, 0x10600, 1, 500, 1));
    EXPECT_EQ(parameterOf("ChannelName").address, 0x10260u) << "Address plus pAddress";
    EXPECT_EQ(parameterOf("Note").length, 6u) << "pLength";
}

TEST_F(FeatureParameters, LimitsAndIncrementsFromReferencesAndAlongThePValueChain) {
    setWord(0x10608, 1080);
    const GevFeatureParameter height = parameterOf("Height");
    EXPECT_EQ(ints(height.min, height.max, height.inc), ints(2, 1080, 4));

    const GevFeatureParameter exposure = parameterOf("Exposure");
    EXPECT_EQ(exposure.floatMin, 0.5) << "float read of a float node";
    EXPECT_EQ(exposure.min, 0) << "truncated";
    EXPECT_EQ(exposure.floatMax, 1000.0) << "integer read of an integer node";
    EXPECT_EQ(exposure.floatInc, 0.25);
    EXPECT_EQ(exposure.displayNotation, 1);
    EXPECT_EQ(exposure.displayPrecision, 3);

    EXPECT_EQ(parameterOf("Loose").min, 0) << "a reference to a missing node gives 0";

    const GevFeatureParameter view = parameterOf("GainView");
    EXPECT_EQ(ints(view.min, view.max, view.inc), ints(1, 63, 2)) << "pInc of the same kind";
    const GevFeatureParameter scaled = parameterOf("GainScaled");
    EXPECT_EQ(scaled.floatMax, 63.0);
    EXPECT_EQ(scaled.floatInc, 0.1) << "an integer's pInc is not taken for a float";

    // A decreasing slope swaps the sides.
    const GevFeatureParameter inverted = parameterOf("Inverted");
    EXPECT_EQ(ints(inverted.min, inverted.max), ints(100, 10));
    const GevFeatureParameter attenuation = parameterOf("Attenuation");
    EXPECT_EQ((std::vector<double>{attenuation.floatMin, attenuation.floatMax}),
              (std::vector<double>{8.0, 0.5}));
}

TEST_F(FeatureParameters, BooleanCommandAndEnumerationValues) {
    EXPECT_EQ(parameterOf("Enable").onValue, 1u);
    EXPECT_EQ(parameterOf("FlagZero").onValue, 1u) << "OnValue and OffValue both 0";
    const GevFeatureParameter inverted = parameterOf("FlagInverted");
    EXPECT_EQ(inverted.onValue, 0u);
    EXPECT_EQ(inverted.offValue, 1u);
    EXPECT_EQ(parameterOf("Start").commandValue, 1u);
    EXPECT_EQ(parameterOf("Reset").commandValue, 0x1234u) << "all 32 bits of pCommandValue";

    setWord(0x10108, 0);
    EXPECT_EQ(parameterOf("Mode").enumEntries, 3);
    setWord(0x10108, 1);
    EXPECT_EQ(parameterOf("Mode").enumEntries, 4);
    EXPECT_EQ(parameterOf("Source").enumEntries, 1) << "a missing flag node counts as unavailable";
}

TEST_F(FeatureParameters, AccessModeOfImposedAgainstOwnModeAndOfALoop) {
    EXPECT_EQ(parameterOf("CounterReadOnly").accessMode, GEV_ACCESS_RO);
    EXPECT_EQ(parameterOf("TemperatureWritable").accessMode, GEV_ACCESS_RO);
    EXPECT_EQ(parameterOf("CounterWriteOnly").accessMode, GEV_ACCESS_WO);
    EXPECT_EQ(parameterOf("CounterReadWrite").accessMode, GEV_ACCESS_RW);
    EXPECT_EQ(parameterOf("Deep").accessMode, 0) << "nothing given, data holder with pValue";

    const GevFeatureParameter computed = parameterOf("Computed");
    EXPECT_EQ(computed.accessMode, GEV_ACCESS_RO) << "from the register its formula reads";
    EXPECT_EQ(computed.sign, 1);

    // A value chain that loops ends with a status.
    GevFeatureParameter p{};
    EXPECT_EQ(GEVGetFeatureParameter(kDevice, "LoopA", &p), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_EQ(LogCapture::instance().count("[ERROR] - Reference cycle at node "), 1u);
}

}  // namespace
}  // namespace kavro::test
