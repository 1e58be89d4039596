// Exposure, gain, their automatic modes, the image window and the pixel format through the
// convenience calls, against a camera whose registers the test sees directly.
#include "tests/convenience/convenience_support.h"

namespace kavro::test {
namespace {

using ConvenienceCalls = ConvenienceTest;
using Words = std::vector<uint32_t>;

class VideoWindow : public ConvenienceTest {
  protected:
    // The camera's width, height, offset x and offset y.
    Words window() {
        return {word(reg::kWidth), word(reg::kHeight), word(reg::kOffsetX), word(reg::kOffsetY)};
    }
    const Words sizeThenOffsets = {reg::kWidth, reg::kHeight, reg::kOffsetX, reg::kOffsetY};
};

// Exposure 100..5000 us and gain 10..200 in the test camera's description.
TEST_F(ConvenienceCalls, ExposureAndGainAreLoweredToTheMaximumButNotRaisedToTheMinimum) {
    uint32_t min = 0, max = 0;
    ASSERT_EQ(LumexGetExposureTimeMinMax(kDevice, &min, &max), GEV_STATUS_SUCCESS);
    EXPECT_EQ(min * 10000 + max, 100u * 10000 + 5000);
    uint8_t gMin = 0, gMax = 0;
    ASSERT_EQ(LumexGetGainMinMax(kDevice, &gMin, &gMax), GEV_STATUS_SUCCESS);
    EXPECT_EQ(gMin * 1000 + gMax, 10 * 1000 + 200);
    ASSERT_EQ(LumexSetExposureTime(kDevice, 9000), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kExposureTime), 5000u);
    ASSERT_EQ(LumexSetExposureTime(kDevice, 0xFFFFFFFFu), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kExposureTime), 5000u) << "compared as a positive 64-bit number";
    ASSERT_EQ(LumexSetExposureTime(kDevice, 50), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kExposureTime), 50u) << "below the minimum: written unchanged";
    ASSERT_EQ(LumexSetGain(kDevice, 250), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kGlobalGain), 200u);
    ASSERT_EQ(LumexSetGain(kDevice, 3), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kGlobalGain), 3u);
    uint32_t time = 0;
    ASSERT_EQ(LumexGetExposureTime(kDevice, &time), GEV_STATUS_SUCCESS);
    EXPECT_EQ(time, 50u);
    setWord(reg::kGlobalGain, 0x1234);
    uint8_t gain = 0;
    ASSERT_EQ(LumexGetGain(kDevice, &gain), GEV_STATUS_SUCCESS);
    EXPECT_EQ(gain, 0x34) << "the low 8 bits";

    // The automatic modes write the described on and off values.
    GevFeatureParameter p{};
    ASSERT_EQ(GEVGetFeatureParameter(kDevice, "AutoGainControl", &p), GEV_STATUS_SUCCESS);
    ASSERT_EQ(p.onValue, 5u);
    ASSERT_EQ(LumexSetGainAuto(kDevice, 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kGainAuto), p.onValue);
    ASSERT_EQ(LumexSetGainAuto(kDevice, 0), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kGainAuto), p.offValue);
    ASSERT_EQ(LumexSetGainAuto(kDevice, 7), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kGainAuto), p.onValue) << "any non-zero switch means on";

    ASSERT_EQ(LumexSetExposureTimeAuto(kDevice, 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kExposureAuto), 3u);
    ASSERT_EQ(LumexSetExposureTimeAuto(kDevice, 0), GEV_STATUS_SUCCESS);
    EXPECT_EQ(word(reg::kExposureAuto), 1u);
}

TEST_F(VideoWindow, IsWrittenAndReadSizeFirstThenOffsets) {
    ASSERT_EQ(LumexSetVideoWindow(kDevice, 8, 4, 640, 100), GEV_STATUS_SUCCESS);
    EXPECT_EQ(touched(true), sizeThenOffsets);
    EXPECT_EQ(window(), (Words{640, 100, 8, 4}));

    camera().clearReceivedCommands();
    setWord(reg::kWidth, 0x10280);  // only the low 16 bits are reported
    uint16_t x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(LumexGetVideoWindow(kDevice, &x, &y, &w, &h), GEV_STATUS_SUCCESS);
    EXPECT_EQ(touched(false), sizeThenOffsets);
    EXPECT_EQ((Words{w, h, x, y}), (Words{0x0280, 100, 8, 4}));

    setWord(reg::kWidthMax, 1280);
    setWord(reg::kHeightMax, 1024);
    setWord(reg::kPixelFormat, 0x01080001);
    ASSERT_EQ(LumexGetMaxVideoWindow(kDevice, &w, &h), GEV_STATUS_SUCCESS);
    EXPECT_EQ(w + h, 1280 + 1024);
    uint32_t format = 0;
    ASSERT_EQ(LumexGetPixelFormat(kDevice, &format), GEV_STATUS_SUCCESS);
    EXPECT_EQ(format, 0x01080001u);
}

// A width not a multiple of four changes nothing; other failures keep what came before them.
TEST_F(VideoWindow, FailingCallsStopAtTheirFailingStep) {
    setWord(reg::kWidth, 320);
    EXPECT_EQ(LumexSetVideoWindow(kDevice, 0, 0, 642, 100), GEV_STATUS_WIDTH_NOT_MULTIPLE_OF_4);
    EXPECT_EQ(LumexSetVideoWindow(kDevice, 0, 0, 1, 100), GEV_STATUS_WIDTH_NOT_MULTIPLE_OF_4);
    EXPECT_TRUE(touched(true).empty());
    EXPECT_EQ(window(), (Words{320, 0, 0, 0}));
    EXPECT_EQ(LumexSetVideoWindow(kDevice, 0, 0, 0, 100), GEV_STATUS_SUCCESS) << "0 is a multiple";

    // A missing offset feature: what came before it is kept.
    load({{"Name=\"OffsetX\"", "Name=\"OffsetXOther\""}});
    setWord(reg::kWidth, 64);
    setWord(reg::kHeight, 48);
    uint16_t x = 1, y = 2, w = 3, h = 4;
    EXPECT_EQ(LumexGetVideoWindow(kDevice, &x, &y, &w, &h), GEV_STATUS_FEATURE_NOT_FOUND);
    EXPECT_EQ((Words{w, h, x, y}), (Words{64, 48, 1, 2})) << "offsets not read after the failure";

    // Writing stops at the failing step too: size written, offsets not.
    EXPECT_EQ(LumexSetVideoWindow(kDevice, 5, 6, 128, 96), GEV_STATUS_FEATURE_NOT_FOUND);
    EXPECT_EQ(window(), (Words{128, 96, 0, 0}));
}

TEST_F(ConvenienceCalls, ClosedIndexNullOutputsAndMissingControlsAreRefusedBeforeAnyRequest) {
    uint32_t u32 = 0;
    uint16_t u16 = 0;
    uint8_t u8 = 0;
    constexpr uint8_t kClosed = 2;
    // One shared check; the window's width is checked after it.
    EXPECT_EQ(LumexSetVideoWindow(kClosed, 0, 0, 642, 0), GEV_STATUS_DEVICE_NOT_OPEN);

    const GevStatus nullOutputs[] = {
        LumexGetExposureTime(kDevice, nullptr),
        LumexGetExposureTimeMinMax(kDevice, &u32, nullptr),
        LumexGetGainMinMax(kDevice, nullptr, &u8),
        LumexGetVideoWindow(kDevice, &u16, &u16, &u16, nullptr),
        LumexGetMaxVideoWindow(kDevice, nullptr, &u16),
        LumexGetPixelFormat(kDevice, nullptr),
    };
    for (size_t i = 0; i < std::size(nullOutputs); ++i)
        EXPECT_EQ(nullOutputs[i], GEV_STATUS_INVALID_ARGUMENT) << "call " << i;
    EXPECT_TRUE(camera().receivedCommands().empty());

    // Without its automatic mode's feature (which stands for the control) a camera's exposure and
    // gain calls refuse, reading and writing nothing.
    load({{"Name=\"AutoExposureControl\"", "Name=\"ExposureAutoOther\""},
          {"Name=\"AutoGainControl\"", "Name=\"GainAutoOther\""}});
    setWord(reg::kExposureTime, 700);
    uint32_t t = 1;
    EXPECT_EQ(LumexGetExposureTime(kDevice, &t), GEV_STATUS_NO_EXPOSURE_CONTROL);
    EXPECT_EQ(LumexSetExposureTime(kDevice, 300), GEV_STATUS_NO_EXPOSURE_CONTROL);
    uint8_t gMin = 2, gMax = 3;
    EXPECT_EQ(LumexGetGainMinMax(kDevice, &gMin, &gMax), GEV_STATUS_NO_GAIN_CONTROL);
    EXPECT_EQ(LumexSetGainAuto(kDevice, 1), GEV_STATUS_NO_GAIN_CONTROL);
    EXPECT_EQ(t + gMin + gMax, 6u);
    EXPECT_EQ(word(reg::kExposureTime), 700u);
    EXPECT_TRUE(camera().receivedCommands().empty());
}

}  // namespace
}  // namespace kavro::test
