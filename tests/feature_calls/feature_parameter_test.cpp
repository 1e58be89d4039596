// GEVGetFeatureParameter: limits with their defaults, references and slopes, increments, the
// Boolean and command values, enumeration entry counts, flags and the access-mode rules.
#include <cstddef>
#include <cstring>
#include <limits>

#include "tests/feature_calls/feature_call_support.h"

namespace kavro::test {
namespace {

using FeatureParameters = FeatureCallTest;

constexpr double kLowest = -9223372036854775808.0;
constexpr double kHighest = 9223372036854775808.0;

GevFeatureParameter parameterOf(const char* feature) {
    GevFeatureParameter p;
    std::memset(&p, 0xAB, sizeof p);
    EXPECT_EQ(GEVGetFeatureParameter(kFeatureDevice, feature, &p), GEV_STATUS_SUCCESS) << feature;
    return p;
}

TEST_F(FeatureParameters, IntegerWithoutLimitsAndTheZeroedRecord) {
    const GevFeatureParameter p = parameterOf("Plain");
    EXPECT_EQ(p.kind, GEV_FEATURE_INTEGER);
    EXPECT_EQ(p.min, 0);
    EXPECT_EQ(p.max, 4294967295);
    EXPECT_EQ(p.floatMin, 0.0);
    EXPECT_EQ(p.floatMax, 4294967295.0);
    EXPECT_EQ(p.inc, 1u);
    EXPECT_EQ(p.floatInc, 0.0);
    EXPECT_EQ(p.accessMode, GEV_ACCESS_RW);
    EXPECT_EQ(p.representation, 5) << "not given";
    EXPECT_EQ(p.visibility, 1);
    EXPECT_EQ(p.onValue, 1u);
    EXPECT_EQ(p.implemented, 1);
    EXPECT_EQ(p.available, 1);
    EXPECT_EQ(p.locked, 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&p);
    for (size_t i : {1, 2, 3, 4, 5, 6, 7, 50, 51, 52, 53, 54, 55, 91, 92, 93, 94, 95})
        EXPECT_EQ(bytes[i], 0) << "byte " << i;
}

TEST_F(FeatureParameters, FloatWithoutLimitsReportsTheWidestRange) {
    const GevFeatureParameter p = parameterOf("Ratio");
    EXPECT_EQ(p.kind, GEV_FEATURE_FLOAT);
    EXPECT_EQ(p.floatMin, kLowest);
    EXPECT_EQ(p.floatMax, kHighest);
    EXPECT_EQ(p.min, std::numeric_limits<int64_t>::min());
    EXPECT_EQ(p.max, std::numeric_limits<int64_t>::max()) << "2^63 saturates, never wraps";
    EXPECT_EQ(p.floatInc, 0.0);
    EXPECT_EQ(p.inc, 0u);
}

TEST_F(FeatureParameters, RegisterFeatureTakesLiteralsAndItsRegistersProperties) {
    const GevFeatureParameter p = parameterOf("Width");
    EXPECT_EQ(p.min, 16);
    EXPECT_EQ(p.max, 4096);
    EXPECT_EQ(p.floatMax, 4096.0);
    EXPECT_EQ(p.inc, 8u);
    EXPECT_EQ(p.visibility, 2);
    EXPECT_EQ(p.representation, 4);
    EXPECT_EQ(p.accessMode, GEV_ACCESS_RW);
    EXPECT_EQ(p.length, 4u);
    EXPECT_EQ(p.address, 0x10600u);
    EXPECT_EQ(p.sign, 1);
    EXPECT_EQ(p.pollingTime, 500u);
    EXPECT_EQ(p.invalidators, 1);

    const GevFeatureParameter string = parameterOf("ChannelName");
    EXPECT_EQ(string.kind, GEV_FEATURE_STRING);
    EXPECT_EQ(string.address, 0x10260u) << "Address plus pAddress";
    EXPECT_EQ(string.length, 8u);
    EXPECT_EQ(parameterOf("Note").length, 6u) << "pLength";
}

TEST_F(FeatureParameters, ReferencedLimitsAreReadInTheirOwnKind) {
    setWord(0x10608, 1080);
    const GevFeatureParameter height = parameterOf("Height");
    EXPECT_EQ(height.min, 2);
    EXPECT_EQ(height.max, 1080);
    EXPECT_EQ(height.floatMax, 1080.0);
    EXPECT_EQ(height.inc, 4u);

    const GevFeatureParameter exposure = parameterOf("Exposure");
    EXPECT_EQ(exposure.floatMin, 0.5) << "float read";
    EXPECT_EQ(exposure.min, 0) << "truncated";
    EXPECT_EQ(exposure.floatMax, 1000.0) << "integer read";
    EXPECT_EQ(exposure.max, 1000);
    EXPECT_EQ(exposure.floatInc, 0.25);
    EXPECT_EQ(exposure.displayNotation, 1);
    EXPECT_EQ(exposure.displayPrecision, 3);

    const GevFeatureParameter loose = parameterOf("Loose");
    EXPECT_EQ(loose.min, 0) << "a reference to a missing node gives 0";
    EXPECT_EQ(loose.max, 10);
}

TEST_F(FeatureParameters, LimitsAndIncrementComeFromAlongThePValueChain) {
    const GevFeatureParameter view = parameterOf("GainView");
    EXPECT_EQ(view.min, 1);
    EXPECT_EQ(view.max, 63);
    EXPECT_EQ(view.inc, 2u) << "pInc of a node of the same kind";

    const GevFeatureParameter scaled = parameterOf("GainScaled");
    EXPECT_EQ(scaled.kind, GEV_FEATURE_FLOAT);
    EXPECT_EQ(scaled.floatMin, 1.0);
    EXPECT_EQ(scaled.floatMax, 63.0);
    EXPECT_EQ(scaled.floatInc, 0.1) << "pInc of an integer is not taken for a float";
    EXPECT_EQ(scaled.inc, 0u);
}

TEST_F(FeatureParameters, DecreasingSlopeSwapsTheSides) {
    const GevFeatureParameter inverted = parameterOf("Inverted");
    EXPECT_EQ(inverted.min, 100);
    EXPECT_EQ(inverted.max, 10);
    const GevFeatureParameter attenuation = parameterOf("Attenuation");
    EXPECT_EQ(attenuation.floatMin, 8.0);
    EXPECT_EQ(attenuation.floatMax, 0.5);
}

TEST_F(FeatureParameters, BooleanAndCommandValues) {
    struct Case {
        const char* feature;
        uint32_t on;
        uint32_t off;
    };
    for (const Case c :
         {Case{"Enable", 1, 0}, Case{"FlagZero", 1, 0}, Case{"FlagInverted", 0, 1}}) {
        const GevFeatureParameter p = parameterOf(c.feature);
        EXPECT_EQ(p.kind, GEV_FEATURE_BOOLEAN) << c.feature;
        EXPECT_EQ(p.onValue, c.on) << c.feature;
        EXPECT_EQ(p.offValue, c.off) << c.feature;
    }
    EXPECT_EQ(parameterOf("Start").commandValue, 1u);
    EXPECT_EQ(parameterOf("Reset").commandValue, 0x1234u) << "all 32 bits of pCommandValue";
}

TEST_F(FeatureParameters, EnumerationCountsAvailableEntries) {
    setWord(0x10108, 0);
    EXPECT_EQ(parameterOf("Mode").enumEntries, 3);
    setWord(0x10108, 1);
    const GevFeatureParameter mode = parameterOf("Mode");
    EXPECT_EQ(mode.kind, GEV_FEATURE_ENUMERATION);
    EXPECT_EQ(mode.enumEntries, 4);
    EXPECT_EQ(parameterOf("Source").enumEntries, 1) << "a missing flag node counts as unavailable";
}

TEST_F(FeatureParameters, FlagsOfTheFeature) {
    setWord(0x10508, 0x101);
    setWord(0x1050C, 1);
    GevFeatureParameter p = parameterOf("Guarded");
    EXPECT_EQ(p.available, 1);
    EXPECT_EQ(p.locked, 1);
    setWord(0x10508, 0);
    setWord(0x1050C, 0);
    p = parameterOf("Guarded");
    EXPECT_EQ(p.available, 0);
    EXPECT_EQ(p.locked, 0);
    EXPECT_EQ(p.implemented, 1);

    GevFeatureParameter hidden{};
    EXPECT_EQ(GEVGetFeatureParameter(kDevice, "Hidden", &hidden), GEV_STATUS_FEATURE_NOT_FOUND)
        << "its data holder is not implemented";
    EXPECT_EQ(GEVGetFeatureParameter(kDevice, "NoSuchFeature", &hidden),
              GEV_STATUS_FEATURE_NOT_FOUND);
}

TEST_F(FeatureParameters, AccessModeOfImposedAgainstOwnMode) {
    struct Case {
        const char* feature;
        uint16_t access;
    };
    const Case cases[] = {
        {"CounterReadOnly", GEV_ACCESS_RO},      // imposed RO over RW
        {"TemperatureWritable", GEV_ACCESS_RO},  // the register's RO wins
        {"CounterWriteOnly", GEV_ACCESS_WO},     // imposed WO over RW
        {"CounterReadWrite", GEV_ACCESS_RW},     // imposed equals own
        {"Temperature", GEV_ACCESS_RO},
        {"Deep", 0},  // nothing given and the data holder has a pValue
    };
    for (const auto& c : cases)
        EXPECT_EQ(parameterOf(c.feature).accessMode, c.access) << c.feature;
}

TEST_F(FeatureParameters, DataHolderTakesAccessAndSignOfTheRegisterItComputesFrom) {
    const GevFeatureParameter p = parameterOf("Computed");
    EXPECT_EQ(p.accessMode, GEV_ACCESS_RO);
    EXPECT_EQ(p.sign, 1);
}

TEST_F(FeatureParameters, AValueChainThatLoopsEndsWithAStatus) {
    GevFeatureParameter p{};
    EXPECT_EQ(GEVGetFeatureParameter(kDevice, "LoopA", &p), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_EQ(LogCapture::instance().count("[ERROR] - Reference cycle at node "), 1u);
}

}  // namespace
}  // namespace kavro::test
