// The simulated camera behind its own description: every kind of feature it declares reads and
// writes sensibly through the library, within the camera's limits.
#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "tests/acquisition/acquisition_test_support.h"

namespace kavro::test {
namespace {

namespace f = sim::feature;
constexpr GevStatus kDeviceInvalidParameter = 0x8002;

class SimFeatures : public DescribedCameraTest {};

TEST_F(SimFeatures, ExposureStaysWithinLimitsThatFollowTheFrameRate) {
    GevFeatureParameter p{};
    ASSERT_EQ(GEVGetFeatureParameter(kDevice, "ExposureTime", &p), GEV_STATUS_SUCCESS);
    EXPECT_EQ(p.min, 20);
    EXPECT_EQ(p.max, 1000000);
    setInteger("ExposureTime", 5);
    EXPECT_EQ(integer("ExposureTime"), 20u) << "the camera raises it to its minimum";
    setInteger("ExposureTime", 50000);
    EXPECT_NEAR(floating("ResultingFrameRate"), 20.0, 1e-3) << "a long exposure slows it";
    EXPECT_NEAR(floating("ExposureTimeAbs"), 50000.0, 1e-9);

    // A set frame rate bounds the exposure by its period.
    ASSERT_EQ(GEVSetFeatureBoolean(kDevice, "AcquisitionFrameRateEnable", 1), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetFeatureFloat(kDevice, "AcquisitionFrameRate", 100.0), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVGetFeatureParameter(kDevice, "ExposureTime", &p), GEV_STATUS_SUCCESS);
    EXPECT_EQ(p.max, 10000);
    EXPECT_EQ(integer("ExposureTime"), 10000u) << "cut to the new period";
    EXPECT_NEAR(floating("ResultingFrameRate"), 100.0, 1e-3);
}

TEST_F(SimFeatures, GainAndBlackLevelPerChannelWithinTheirRanges) {
    ASSERT_EQ(GEVSetFeatureFloat(kDevice, "Gain", 12.5), GEV_STATUS_SUCCESS);
    EXPECT_EQ(integer("GainRaw"), 125u);
    EXPECT_DOUBLE_EQ(floating("Gain"), 12.5);
    ASSERT_EQ(GEVSetFeatureFloat(kDevice, "Gain", 60.0), GEV_STATUS_SUCCESS);
    EXPECT_DOUBLE_EQ(floating("Gain"), 48.0) << "the overall channel stops at 48 dB";

    // The red channel has registers of its own and half the range.
    setEntry("GainSelector", "Red");
    setInteger("GainRaw", 400);
    EXPECT_EQ(integer("GainRaw"), 240u);
    setInteger("BlackLevel", 300);
    EXPECT_EQ(integer("BlackLevel"), 255u);
    setEntry("GainSelector", "All");
    EXPECT_EQ(integer("GainRaw"), 480u);
    EXPECT_EQ(integer("BlackLevel"), 0u);

    setInteger("GlobalGain", 1000);
    EXPECT_EQ(integer("GlobalGain"), 255u);
    setEntry("GainAuto", "Once");
    EXPECT_EQ(enumeration("GainAuto"), "Off") << "Once adjusts and falls back to Off";
    ASSERT_EQ(GEVSetFeatureBoolean(kDevice, "AutoGainControl", 2), GEV_STATUS_SUCCESS);
    EXPECT_EQ(enumeration("GainAuto"), "Continuous");
}

TEST_F(SimFeatures, LookUpTableEntriesThroughIndexAndValue) {
    setInteger("LUTIndex", 8);
    EXPECT_EQ(integer("LUTValue"), 2u) << "the table starts as identity, 10 bits to 8";
    setInteger("LUTValue", 200);
    EXPECT_EQ(integer("LUTEntry"), 0x020202C8u) << "the other three values of the word stay";
    setInteger("LUTIndex", 12);
    EXPECT_EQ(integer("LUTValue"), 3u);
    EXPECT_EQ(cameraWord(f::kLutEntries + 8), 0x020202C8u);
    ASSERT_EQ(GEVSetFeatureBoolean(kDevice, "LUTEnable", 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(cameraWord(f::kLutControl) & 1, 1u);
}

// Patterns found in real descriptions, end to end: a value the camera shows for the selected
// bank (its cache names the selector feature), a float register array behind two indexes,
// signed and read-only registers per selected part, and chunk features over the last image's
// chunk data.
TEST_F(SimFeatures, FieldPatternsOfRealDescriptions) {
    EXPECT_EQ(integer("BankValue"), 100u);
    setEntry("BankSelector", "Bank1");
    EXPECT_EQ(integer("BankValue"), 200u);

    setEntry("GainSelector", "Red");
    ASSERT_EQ(GEVSetFeatureFloat(kDevice, "BalanceRatio", 1.5), GEV_STATUS_SUCCESS);
    EXPECT_EQ(cameraWord(f::kWhiteBalance + 4 + 16), std::bit_cast<uint32_t>(1.5f));
    EXPECT_DOUBLE_EQ(floating("BalanceRatio"), 1.5);
    setEntry("BankSelector", "Bank0");
    EXPECT_DOUBLE_EQ(floating("BalanceRatio"), 1.0);

    EXPECT_DOUBLE_EQ(floating("DeviceTemperature"), 42.5);
    camera().model().writeRegister(f::kSensorTemperature, static_cast<uint32_t>(-160));
    EXPECT_DOUBLE_EQ(floating("DeviceTemperature"), -10.0);
    setEntry("DeviceTemperatureSelector", "Mainboard");
    EXPECT_DOUBLE_EQ(floating("DeviceTemperature"), 38.0);
    // A write to a read-only register succeeds without reaching the camera.
    EXPECT_EQ(GEVSetFeatureFloat(kDevice, "DeviceTemperature", 20.0), GEV_STATUS_SUCCESS);
    EXPECT_EQ(cameraWord(f::kMainboardTemperature), 608u);

    // What the stream keeps of an image with chunks: the image's tag, the camera's chunk (block
    // id 7, exposure 5000 us, -2.5 C) and its tag.
    const std::vector<uint8_t> chunks = {
        0,    0,    0,    1,    0,    0,    0xE1, 0x00,  // image tag: 57600 bytes of image
        0,    0,    0,    0,    0,    0,    0,    7,    0, 0, 0x13, 0x88,
        0xFF, 0xFF, 0xFF, 0xD8, 0x4B, 0x43, 0x00, 0x01, 0, 0, 0,    16};
    frame::openDevice(kDevice)->lastChunkData.store(chunks);
    EXPECT_EQ(integer("ChunkBlockId"), 7u);
    EXPECT_EQ(integer("ChunkExposureTime"), 5000u);
    EXPECT_EQ(static_cast<int64_t>(integer("ChunkSensorTemperature")), -40);
    EXPECT_DOUBLE_EQ(floating("ChunkSensorTemperatureCelsius"), -2.5);
}

// A block to send, its echo read from the receive buffer (the word-wise registers are
// exercised through the serial bridge's calls).
TEST_F(SimFeatures, SerialPortEchoesThroughItsBuffers) {
    setInteger("TXDataLength", 5);
    const char hello[8] = "hello";
    ASSERT_EQ(GEVSetFeatureRegister(kDevice, "TXData", 8, hello), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVSetFeatureCommand(kDevice, "SendTXBuf", 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(integer("RXBufCnt"), 5u);
    uint32_t available = 0;
    ASSERT_EQ(GEVGetFeatureBoolean(kDevice, "RXDataAvailable", &available), GEV_STATUS_SUCCESS);
    EXPECT_EQ(available, 1u);
    char received[8] = {};
    ASSERT_EQ(GEVGetFeatureRegister(kDevice, "RXData", 5, received), GEV_STATUS_SUCCESS);
    EXPECT_EQ(std::string(received, 5), "hello");
    EXPECT_EQ(integer("RXBufCnt"), 0u);
    char sent[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    ASSERT_EQ(GEVGetFeatureRegister(kDevice, "TXData", 8, sent), GEV_STATUS_SUCCESS);
    EXPECT_EQ(sent[0], 1) << "write-only: nothing is read back";
}

TEST_F(SimFeatures, TheCameraRefusesWhatItCannotDo) {
    const struct {
        const char* feature;
        const char* entry;
    } enumerations[] = {
        {"PixelFormat", "BayerRG8"},  // no colour sensor
        {"TriggerSource", "Line1"},   // no input lines
        {"ClSerialPortBaudRate", "Baud230400"},
    };
    for (const auto& e : enumerations) {
        const std::string before = enumeration(e.feature);
        EXPECT_EQ(GEVSetFeatureEnumeration(kDevice, e.feature, e.entry), kDeviceInvalidParameter)
            << e.feature;
        EXPECT_EQ(enumeration(e.feature), before) << e.feature;
    }
    EXPECT_EQ(GEVSetFeatureInteger(kDevice, "Width", 1284), kDeviceInvalidParameter);
    EXPECT_EQ(GEVSetFeatureInteger(kDevice, "Height", 0), kDeviceInvalidParameter);
    setInteger("OffsetY", 1024 - kHeight);
    EXPECT_EQ(GEVSetFeatureInteger(kDevice, "Height", kHeight + 1), kDeviceInvalidParameter);
    EXPECT_EQ(GEVSetFeatureEnumeration(kDevice, "AcquisitionMode", "MultiFrame"),
              GEV_STATUS_SUCCESS);
    // Through the converter a count of 0 is register value -1.
    EXPECT_EQ(GEVSetFeatureInteger(kDevice, "AcquisitionFrameCount", 0), kDeviceInvalidParameter);
    EXPECT_EQ(GEVSetFeatureInteger(kDevice, "TXDataLength", 257), kDeviceInvalidParameter);
}

TEST_F(SimFeatures, DeviceStringsAndResetToStartUpValues) {
    char text[33] = {};
    ASSERT_EQ(GEVGetFeatureString(kDevice, "DeviceVendorName", text), GEV_STATUS_SUCCESS);
    EXPECT_STREQ(text, config.manufacturer.c_str());
    setInteger("LUTIndex", 0);
    setInteger("LUTValue", 99);
    ASSERT_EQ(GEVSetFeatureCommand(kDevice, "DeviceReset", 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(integer("Width"), f::kInitialWidth);
    EXPECT_EQ(integer("Height"), f::kInitialHeight);
    EXPECT_EQ(integer("LUTValue"), 0u);
    EXPECT_EQ(integer("PayloadSize"), f::kInitialWidth * f::kInitialHeight);
}

}  // namespace
}  // namespace kavro::test
