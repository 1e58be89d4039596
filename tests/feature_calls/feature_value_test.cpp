// The value calls, strings and raw registers against the simulated camera, and the checks every
// exported feature call makes before it touches the model.
#include <bit>
#include <cstring>
#include <functional>

#include "tests/feature_calls/feature_call_support.h"

namespace kavro::test {
namespace {

using FeatureValues = FeatureCallTest;

TEST_F(FeatureValues, NumbersBooleansAndCommandsGoThroughTheirRegisters) {
    setWord(0x10000, 1234);
    uint64_t integer = 0;
    ASSERT_EQ(GEVGetFeatureInteger(kDevice, "Counter", &integer), GEV_STATUS_SUCCESS);
    EXPECT_EQ(integer, 1234u);
    ASSERT_EQ(GEVSetFeatureInteger(kDevice, "Counter", 77), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x10000), 77u);

    ASSERT_EQ(GEVSetFeatureFloat(kDevice, "Level", 2.5), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x10004), std::bit_cast<uint32_t>(2.5f));
    double floating = 0;
    ASSERT_EQ(GEVGetFeatureFloat(kDevice, "Level", &floating), GEV_STATUS_SUCCESS);
    EXPECT_EQ(floating, 2.5);

    uint32_t flag = 9;
    ASSERT_EQ(GEVSetFeatureBoolean(kDevice, "Enable", 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x10008), 1u);
    ASSERT_EQ(GEVGetFeatureBoolean(kDevice, "Enable", &flag), GEV_STATUS_SUCCESS);
    EXPECT_EQ(flag, 1u);
    ASSERT_EQ(GEVSetFeatureBoolean(kDevice, "Enable", 0xFFFFFFFF), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x10008), 0xFFFFFFFFu) << "zero-extended, not sign-extended";

    ASSERT_EQ(GEVSetFeatureCommand(kDevice, "Start", 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x1000C), 1u);
    uint32_t command = 0;
    ASSERT_EQ(GEVGetFeatureCommand(kDevice, "Start", &command), GEV_STATUS_SUCCESS);
    EXPECT_EQ(command, 1u);
}

TEST_F(FeatureValues, FailedReadsLeaveTheOutputAlone) {
    uint64_t integer = 42;
    EXPECT_EQ(GEVGetFeatureInteger(kDevice, "NoSuchFeature", &integer),
              GEV_STATUS_FEATURE_NOT_FOUND);
    EXPECT_EQ(integer, 42u);
    uint32_t flag = 42;
    EXPECT_EQ(GEVGetFeatureBoolean(kDevice, "Hidden", &flag), GEV_STATUS_FEATURE_NOT_FOUND)
        << "its register is not implemented";
    EXPECT_EQ(flag, 42u);
    EXPECT_EQ(GEVSetFeatureInteger(kDevice, "NoSuchFeature", 1), GEV_STATUS_FEATURE_NOT_FOUND);
}

template <class T>
T* orNull(bool null, T* pointer) {
    return null ? nullptr : pointer;
}

// Every exported feature call; `nullOutput` passes a null pointer for its output or input data.
struct CallCase {
    const char* call;
    std::function<GevStatus(uint8_t device, const char* name, bool nullOutput)> run;
};

std::vector<CallCase> everyCall() {
    static char text[64];
    static uint8_t bytes[16];
    static uint64_t u64;
    static double f64;
    static uint32_t u32;
    static uint8_t u8;
    static GevFeatureParameter parameter;
    return {
        {"GetInteger", [](uint8_t d, const char* n,
                          bool z) { return GEVGetFeatureInteger(d, n, orNull(z, &u64)); }},
        {"GetFloat", [](uint8_t d, const char* n,
                        bool z) { return GEVGetFeatureFloat(d, n, orNull(z, &f64)); }},
        {"GetBoolean", [](uint8_t d, const char* n,
                          bool z) { return GEVGetFeatureBoolean(d, n, orNull(z, &u32)); }},
        {"GetCommand", [](uint8_t d, const char* n,
                          bool z) { return GEVGetFeatureCommand(d, n, orNull(z, &u32)); }},
        {"GetEnumeration",
         [](uint8_t d, const char* n, bool z) {
             return GEVGetFeatureEnumeration(d, n, orNull(z, text), 8);
         }},
        {"GetEnumerationName",
         [](uint8_t d, const char* n, bool z) {
             return GEVGetFeatureEnumerationName(d, n, 0, orNull(z, text), 8);
         }},
        {"SetEnumeration", [](uint8_t d, const char* n,
                              bool z) { return GEVSetFeatureEnumeration(d, n, orNull(z, "Off")); }},
        {"GetString", [](uint8_t d, const char* n,
                         bool z) { return GEVGetFeatureString(d, n, orNull(z, text)); }},
        {"SetString", [](uint8_t d, const char* n,
                         bool z) { return GEVSetFeatureString(d, n, orNull(z, "abc")); }},
        {"GetRegister", [](uint8_t d, const char* n,
                           bool z) { return GEVGetFeatureRegister(d, n, 4, orNull(z, bytes)); }},
        {"SetRegister", [](uint8_t d, const char* n,
                           bool z) { return GEVSetFeatureRegister(d, n, 4, orNull(z, bytes)); }},
        {"GetDisplayName",
         [](uint8_t d, const char* n, bool z) {
             return GEVGetFeatureDisplayName(d, n, orNull(z, text), 8);
         }},
        {"GetTooltip", [](uint8_t d, const char* n,
                          bool z) { return GEVGetFeatureTooltip(d, n, orNull(z, text), 8); }},
        {"GetUnit", [](uint8_t d, const char* n,
                       bool z) { return GEVGetFeatureUnit(d, n, orNull(z, text), 8); }},
        {"GetInvalidator",
         [](uint8_t d, const char* n, bool z) {
             return GEVGetFeatureInvalidator(d, n, 0, orNull(z, text), 8);
         }},
        {"GetEnableStatus", [](uint8_t d, const char* n,
                               bool z) { return GEVGetFeatureEnableStatus(d, n, orNull(z, &u8)); }},
        {"GetParameter",
         [](uint8_t d, const char* n, bool z) {
             return GEVGetFeatureParameter(d, n, orNull(z, &parameter));
         }},
    };
}

TEST_F(FeatureValues, EveryCallChecksTheIndexThenItsPointers) {
    constexpr uint8_t kClosed = 2;
    for (const auto& c : everyCall()) {
        EXPECT_EQ(c.run(kClosed, "Counter", false), GEV_STATUS_DEVICE_NOT_OPEN) << c.call;
        EXPECT_EQ(c.run(0, "Counter", false), GEV_STATUS_DEVICE_NOT_OPEN) << c.call;
        EXPECT_EQ(c.run(kDevice, nullptr, false), GEV_STATUS_INVALID_ARGUMENT) << c.call;
        EXPECT_EQ(c.run(kDevice, "Counter", true), GEV_STATUS_INVALID_ARGUMENT) << c.call;
    }
    char text[8];
    EXPECT_EQ(GEVGetFeatureEnumeration(kDevice, "Mode", text, -1), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(GEVGetFeatureDisplayName(kDevice, "Counter", text, -1), GEV_STATUS_INVALID_ARGUMENT);
}

TEST_F(FeatureValues, WithoutADescriptionFeaturesAreNotFound) {
    genicam::releaseDeviceDescription(kDevice);
    for (const auto& c : everyCall()) {
        const GevStatus expected = std::string(c.call) == "GetEnableStatus"
                                       ? GEV_STATUS_SUCCESS  // a missing feature: output untouched
                                       : GEV_STATUS_FEATURE_NOT_FOUND;
        EXPECT_EQ(c.run(kDevice, "Counter", false), expected) << c.call;
    }
}

TEST_F(FeatureValues, DeviceStringsCopyExactlyTheirLength) {
    putBytes(0x10200,
             Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'});
    std::string buffer = filled(20);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "DeviceUserID", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, "ABCDEFGHIJKLMNOPxxxx") << "no terminator added";
    buffer = filled(20);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "UserIDAlias", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, "ABCDEFGHIJKLMNOPxxxx") << "through pValue";

    ASSERT_EQ(GEVSetFeatureString(kDevice, "DeviceUserID", "cam"), GEV_STATUS_SUCCESS);
    EXPECT_EQ(bytesAt(0x10200, 16), (Bytes{'c', 'a', 'm', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(GEVSetFeatureString(kDevice, "DeviceUserID", "0123456789abcdefOVER"),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(bytesAt(0x10200, 20), (Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9',
                                           'a', 'b', 'c', 'd', 'e', 'f', 0,   0,   0,   0}))
        << "cut to the register";

    // The length from pLength, the address with pAddress.
    putBytes(0x10280, Bytes{'n', 'o', 't', 'e', 's', '!', '?', '?'});
    buffer = filled(8);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "Note", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, "notes!xx");
    putBytes(0x10260, Bytes{'c', 'h', 'a', 'n', 'n', 'e', 'l', '2'});
    buffer = filled(9);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "ChannelName", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, "channel2x");
}

TEST_F(FeatureValues, AnOversizedDeviceStringIsRefused) {
    std::string buffer = filled(4);
    EXPECT_EQ(GEVGetFeatureString(kDevice, "Huge", buffer.data()), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(buffer, "xxxx");
    EXPECT_EQ(GEVSetFeatureString(kDevice, "Huge", "big"), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(logged("[ERROR] - String length 1048576 of node Huge not supported."));
    EXPECT_TRUE(commands(gvcp::kReadMemCmd).empty());
    EXPECT_EQ(memoryWrites(), 0u);
}

TEST_F(FeatureValues, NodeStringsKeepTheirTextAndLength) {
    std::string buffer = filled(8);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "Label", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("hello\0xx", 8));
    ASSERT_EQ(GEVSetFeatureString(kDevice, "Label", "world!"), GEV_STATUS_SUCCESS);
    buffer = filled(8);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "Label", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("world!\0x", 8));
    GevFeatureParameter parameter{};
    ASSERT_EQ(GEVGetFeatureParameter(kDevice, "Label", &parameter), GEV_STATUS_SUCCESS);
    EXPECT_EQ(parameter.length, 6u);

    buffer = filled(2);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "Blank", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("\0x", 2));
    EXPECT_TRUE(camera_->receivedCommands().empty());
}

TEST_F(FeatureValues, RegistersTransferTheCallersLength) {
    const Bytes pattern = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(GEVSetFeatureRegister(kDevice, "Lut", 16, pattern.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(bytesAt(0x10300, 16), pattern);
    Bytes out(6, 0xEE);
    ASSERT_EQ(GEVGetFeatureRegister(kDevice, "Lut", 5, out.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 0xEE})) << "the node's length is not consulted";

    putBytes(0x10350, Bytes{0xCA, 0xFE, 0xBA, 0xBE});
    Bytes banked(4);
    ASSERT_EQ(GEVGetFeatureRegister(kDevice, "Banked", 4, banked.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(banked, (Bytes{0xCA, 0xFE, 0xBA, 0xBE})) << "Address plus pAddress";

    EXPECT_EQ(
        GEVGetFeatureRegister(kDevice, "Lut", GEV_MAX_FEATURE_REGISTER_LENGTH + 1, out.data()),
        GEV_STATUS_INVALID_ARGUMENT);
}

TEST_F(FeatureValues, RegistersTheAccessModeForbidsTransferNothing) {
    putBytes(0x10320, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    putBytes(0x10300, Bytes(16, 0x55));
    const Bytes zeros(16, 0);
    EXPECT_EQ(GEVSetFeatureRegister(kDevice, "Info", 8, zeros.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(GEVSetFeatureRegister(kDevice, "LockedLut", 16, zeros.data()), GEV_STATUS_SUCCESS)
        << "imposed read-only";
    EXPECT_EQ(GEVSetFeatureRegister(kDevice, "Detached", 4, zeros.data()), GEV_STATUS_SUCCESS)
        << "not in device memory";
    EXPECT_EQ(memoryWrites(), 0u);
    EXPECT_EQ(bytesAt(0x10320, 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(bytesAt(0x10300, 16), Bytes(16, 0x55));

    Bytes out(8, 0xEE);
    EXPECT_EQ(GEVGetFeatureRegister(kDevice, "Secret", 8, out.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(out, Bytes(8, 0xEE)) << "write-only";
    EXPECT_TRUE(commands(gvcp::kReadMemCmd).empty());
    ASSERT_EQ(GEVGetFeatureRegister(kDevice, "Info", 8, out.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

}  // namespace
}  // namespace kavro::test
