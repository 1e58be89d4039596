// The value calls, strings and raw registers against the simulated camera, and the checks every
// exported feature call makes before it touches the model.
#include <bit>
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

    ASSERT_EQ(GEVSetFeatureBoolean(kDevice, "Enable", 0xFFFFFFFF), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x10008), 0xFFFFFFFFu) << "zero-extended, not sign-extended";
    uint32_t flag = 0;
    ASSERT_EQ(GEVGetFeatureBoolean(kDevice, "Enable", &flag), GEV_STATUS_SUCCESS);
    EXPECT_EQ(flag, 0xFFFFFFFFu);
    ASSERT_EQ(GEVSetFeatureCommand(kDevice, "Start", 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(0x1000C), 1u);

    flag = 42;
    EXPECT_EQ(GEVGetFeatureCommand(kDevice, "Hidden", &flag), GEV_STATUS_FEATURE_NOT_FOUND)
        << "its register is not implemented";
    EXPECT_EQ(flag, 42u) << "a failed read leaves the output alone";
}

template <class T>
T* orNull(bool null, T* pointer) {
    return null ? nullptr : pointer;
}

// Every exported feature call; `z` passes a null pointer for its output or input data.
using AnyCall = std::function<GevStatus(uint8_t d, const char* n, bool z)>;
std::vector<AnyCall> everyCall() {
    static char t[64];
    static uint8_t b[16];
    static uint64_t u64;
    static double f64;
    static uint32_t u32;
    static uint8_t u8;
    static GevFeatureParameter p;
    using D = uint8_t;
    using N = const char*;
    return {
        [](D d, N n, bool z) { return GEVGetFeatureInteger(d, n, orNull(z, &u64)); },
        [](D d, N n, bool z) { return GEVGetFeatureFloat(d, n, orNull(z, &f64)); },
        [](D d, N n, bool z) { return GEVGetFeatureBoolean(d, n, orNull(z, &u32)); },
        [](D d, N n, bool z) { return GEVGetFeatureCommand(d, n, orNull(z, &u32)); },
        [](D d, N n, bool z) { return GEVGetFeatureEnumeration(d, n, orNull(z, t), 8); },
        [](D d, N n, bool z) { return GEVGetFeatureEnumerationName(d, n, 0, orNull(z, t), 8); },
        [](D d, N n, bool z) { return GEVSetFeatureEnumeration(d, n, orNull(z, "Off")); },
        [](D d, N n, bool z) { return GEVGetFeatureString(d, n, orNull(z, t)); },
        [](D d, N n, bool z) { return GEVSetFeatureString(d, n, orNull(z, "abc")); },
        [](D d, N n, bool z) { return GEVGetFeatureRegister(d, n, 4, orNull(z, b)); },
        [](D d, N n, bool z) { return GEVSetFeatureRegister(d, n, 4, orNull(z, b)); },
        [](D d, N n, bool z) { return GEVGetFeatureDisplayName(d, n, orNull(z, t), 8); },
        [](D d, N n, bool z) { return GEVGetFeatureTooltip(d, n, orNull(z, t), 8); },
        [](D d, N n, bool z) { return GEVGetFeatureUnit(d, n, orNull(z, t), 8); },
        [](D d, N n, bool z) { return GEVGetFeatureInvalidator(d, n, 0, orNull(z, t), 8); },
        [](D d, N n, bool z) { return GEVGetFeatureEnableStatus(d, n, orNull(z, &u8)); },
        [](D d, N n, bool z) { return GEVGetFeatureParameter(d, n, orNull(z, &p)); },
    };
}

TEST_F(FeatureValues, EveryCallChecksTheIndexThenItsPointers) {
    const auto calls = everyCall();
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i](2, "Counter", false), GEV_STATUS_DEVICE_NOT_OPEN) << "call " << i;
        EXPECT_EQ(calls[i](0, "Counter", false), GEV_STATUS_DEVICE_NOT_OPEN) << "call " << i;
        EXPECT_EQ(calls[i](kDevice, nullptr, false), GEV_STATUS_INVALID_ARGUMENT) << "call " << i;
        EXPECT_EQ(calls[i](kDevice, "Counter", true), GEV_STATUS_INVALID_ARGUMENT) << "call " << i;
    }
    char text[8];
    EXPECT_EQ(GEVGetFeatureEnumeration(kDevice, "Mode", text, -1), GEV_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(GEVGetFeatureUnit(kDevice, "Counter", text, -1), GEV_STATUS_INVALID_ARGUMENT);

    // Without a description nothing is found; the enable status then reports nothing.
    genicam::releaseDeviceDescription(kDevice);
    for (size_t i = 0; i < calls.size(); ++i) {
        const bool enableStatus = i == calls.size() - 2;  // second to last
        EXPECT_EQ(calls[i](kDevice, "Counter", false),
                  enableStatus ? GEV_STATUS_SUCCESS : GEV_STATUS_FEATURE_NOT_FOUND)
            << "call " << i;
    }
}

TEST_F(FeatureValues, StringsAndRegistersTransferTheirLengthWhereAccessAllows) {
    putBytes(0x10200,
             Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'});
    std::string buffer = filled(20);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "UserIDAlias", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, "ABCDEFGHIJKLMNOPxxxx") << "through pValue, no terminator added";

    ASSERT_EQ(GEVSetFeatureString(kDevice, "DeviceUserID", "cam"), GEV_STATUS_SUCCESS);
    EXPECT_EQ(bytesAt(0x10200, 16), (Bytes{'c', 'a', 'm', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(GEVSetFeatureString(kDevice, "DeviceUserID", "0123456789abcdefOVER"),
              GEV_STATUS_SUCCESS);
    EXPECT_EQ(bytesAt(0x10200, 20), (Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9',
                                           'a', 'b', 'c', 'd', 'e', 'f', 0,   0,   0,   0}))
        << "cut to the register";

    putBytes(0x10280, Bytes{'n', 'o', 't', 'e', 's', '!', '?', '?'});
    buffer = filled(8);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "Note", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, "notes!xx") << "length from pLength";
    putBytes(0x10260, Bytes{'c', 'h', 'a', 'n', 'n', 'e', 'l', '2'});
    buffer = filled(9);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "ChannelName", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, "channel2x") << "address with pAddress";

    camera().clearReceivedCommands();
    buffer = filled(4);
    EXPECT_EQ(GEVGetFeatureString(kDevice, "Huge", buffer.data()), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(GEVSetFeatureString(kDevice, "Huge", "big"), GEV_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(buffer, "xxxx");
    EXPECT_TRUE(logged("[ERROR] - String length 1048576 of node Huge not supported."));
    EXPECT_TRUE(camera().receivedCommands().empty());

    // Strings of the node itself keep their text and length.
    buffer = filled(8);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "Label", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("hello\0xx", 8));
    ASSERT_EQ(GEVSetFeatureString(kDevice, "Label", "world!"), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "Label", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer, std::string("world!\0x", 8));
    GevFeatureParameter parameter{};
    ASSERT_EQ(GEVGetFeatureParameter(kDevice, "Label", &parameter), GEV_STATUS_SUCCESS);
    EXPECT_EQ(parameter.length, 6u);
    ASSERT_EQ(GEVGetFeatureString(kDevice, "Blank", buffer.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(buffer[0], '\0') << "a node without text reads empty";

    // Registers transfer the caller's length where access allows.
    const Bytes pattern = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(GEVSetFeatureRegister(kDevice, "Lut", 16, pattern.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(bytesAt(0x10300, 16), pattern);
    Bytes out(6, 0xEE);
    ASSERT_EQ(GEVGetFeatureRegister(kDevice, "Lut", 5, out.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 0xEE})) << "the node's length is not consulted";
    putBytes(0x10350, Bytes{0xCA, 0xFE, 0xBA, 0xBE});
    ASSERT_EQ(GEVGetFeatureRegister(kDevice, "Banked", 4, out.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(out, (Bytes{0xCA, 0xFE, 0xBA, 0xBE, 5, 0xEE})) << "Address plus pAddress";
    EXPECT_EQ(
        GEVGetFeatureRegister(kDevice, "Lut", GEV_MAX_FEATURE_REGISTER_LENGTH + 1, out.data()),
        GEV_STATUS_INVALID_ARGUMENT);

    // Read-only (own or imposed) and detached registers take no write; write-only gives nothing.
    camera().clearReceivedCommands();
    const Bytes zeros(16, 0);
    for (const char* name : {"Info", "LockedLut", "Detached"})
        EXPECT_EQ(GEVSetFeatureRegister(kDevice, name, 8, zeros.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(commands(gvcp::kWriteMemCmd).size(), 0u);
    EXPECT_EQ(bytesAt(0x10300, 16), pattern);
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_EQ(GEVGetFeatureRegister(kDevice, "Secret", 6, out.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ(out, Bytes(6, 0xEE));
    EXPECT_TRUE(commands(gvcp::kReadMemCmd).empty());
}

}  // namespace
}  // namespace kavro::test
