// GEVGetFeatureParameter: limits with their defaults, references and slopes, increments, the
// Boolean and command values, enumeration entry counts, flags and the access-mode rules.
#include <cstring>
#include <limits>

#include "tests/feature_calls/feature_call_support.h"

namespace kavro::test {
namespace {

using FeatureParameters = FeatureCallTest;

GevFeatureParameter parameterOf(const char* feature) {
    GevFeatureParameter p;
    std::memset(&p, 0xAB, sizeof p);
    EXPECT_EQ(GEVGetFeatureParameter(kFeatureDevice, feature, &p), GEV_STATUS_SUCCESS) << feature;
    return p;
}

TEST_F(FeatureParameters, LimitsWithoutMinAndMax) {
    const GevFeatureParameter plain = parameterOf("Plain");
    EXPECT_EQ(plain.kind, GEV_FEATURE_INTEGER);
    EXPECT_EQ(plain.min, 0);
    EXPECT_EQ(plain.max, 4294967295);
    EXPECT_EQ(plain.floatMax, 4294967295.0);
    EXPECT_EQ(plain.inc, 1u);
    EXPECT_EQ(plain.representation, 5);
    EXPECT_EQ(plain.implemented, 1);
    EXPECT_EQ(plain.available, 1);
    EXPECT_EQ(plain.locked, 0);
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
    EXPECT_EQ(p.min, 16);
    EXPECT_EQ(p.max, 4096);
    EXPECT_EQ(p.inc, 8u);
    EXPECT_EQ(p.visibility, 2);
    EXPECT_EQ(p.representation, 4);
    EXPECT_EQ(p.accessMode, GEV_ACCESS_RW);
    EXPECT_EQ(p.length, 4u);
    EXPECT_EQ(p.address, 0x10600u);
    EXPECT_EQ(p.sign, 1);
    EXPECT_EQ(p.pollingTime, 500u);
    EXPECT_EQ(p.invalidators, 1);
    EXPECT_EQ(parameterOf("ChannelName").address, 0x10260u) << "Address plus pAddress";
    EXPECT_EQ(parameterOf("Note").length, 6u) << "pLength";
}

TEST_F(FeatureParameters, LimitsAndIncrementsFromReferencesAndAlongThePValueChain) {
    setWord(0x10608, 1080);
    const GevFeatureParameter height = parameterOf("Height");
    EXPECT_EQ(height.min, 2);
    EXPECT_EQ(height.max, 1080);
    EXPECT_EQ(height.inc, 4u);

    const GevFeatureParameter exposure = parameterOf("Exposure");
    EXPECT_EQ(exposure.floatMin, 0.5) << "float read of a float node";
    EXPECT_EQ(exposure.min, 0) << "truncated";
    EXPECT_EQ(exposure.floatMax, 1000.0) << "integer read of an integer node";
    EXPECT_EQ(exposure.floatInc, 0.25);
    EXPECT_EQ(exposure.displayNotation, 1);
    EXPECT_EQ(exposure.displayPrecision, 3);

    EXPECT_EQ(parameterOf("Loose").min, 0) << "a reference to a missing node gives 0";

    const GevFeatureParameter view = parameterOf("GainView");
    EXPECT_EQ(view.min, 1);
    EXPECT_EQ(view.max, 63);
    EXPECT_EQ(view.inc, 2u) << "pInc of a node of the same kind";
    const GevFeatureParameter scaled = parameterOf("GainScaled");
    EXPECT_EQ(scaled.floatMax, 63.0);
    EXPECT_EQ(scaled.floatInc, 0.1) << "an integer's pInc is not taken for a float";
}

TEST_F(FeatureParameters, DecreasingSlopeSwapsTheSides) {
    const GevFeatureParameter inverted = parameterOf("Inverted");
    EXPECT_EQ(inverted.min, 100);
    EXPECT_EQ(inverted.max, 10);
    const GevFeatureParameter attenuation = parameterOf("Attenuation");
    EXPECT_EQ(attenuation.floatMin, 8.0);
    EXPECT_EQ(attenuation.floatMax, 0.5);
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

TEST_F(FeatureParameters, FlagsAndTheNotImplementedDataHolder) {
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
    EXPECT_EQ(GEVGetFeatureParameter(kDevice, "Hidden", &p), GEV_STATUS_FEATURE_NOT_FOUND);
    EXPECT_EQ(GEVGetFeatureParameter(kDevice, "Nothing", &p), GEV_STATUS_FEATURE_NOT_FOUND);
}

TEST_F(FeatureParameters, AccessModeOfImposedAgainstOwnMode) {
    EXPECT_EQ(parameterOf("CounterReadOnly").accessMode, GEV_ACCESS_RO);
    EXPECT_EQ(parameterOf("TemperatureWritable").accessMode, GEV_ACCESS_RO);
    EXPECT_EQ(parameterOf("CounterWriteOnly").accessMode, GEV_ACCESS_WO);
    EXPECT_EQ(parameterOf("CounterReadWrite").accessMode, GEV_ACCESS_RW);
    EXPECT_EQ(parameterOf("Deep").accessMode, 0) << "nothing given, data holder with pValue";

    const GevFeatureParameter computed = parameterOf("Computed");
    EXPECT_EQ(computed.accessMode, GEV_ACCESS_RO) << "from the register its formula reads";
    EXPECT_EQ(computed.sign, 1);
}

TEST_F(FeatureParameters, AValueChainThatLoopsEndsWithAStatus) {
    GevFeatureParameter p{};
    EXPECT_EQ(GEVGetFeatureParameter(kDevice, "LoopA", &p), GEV_STATUS_REFERENCE_CYCLE);
    EXPECT_EQ(LogCapture::instance().count("[ERROR] - Reference cycle at node "), 1u);
}

}  // namespace
}  // namespace kavro::test
