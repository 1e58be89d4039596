// Acquisitions with the device description loaded: frame count from AcquisitionMode, geometry
// from the features, the transport-layer lock, the camera started and stopped by its commands,
// and the image memory block sized by the description build.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "gvsp/acquisition.h"
#include "sim/stream_source.h"
#include "tests/acquisition/acquisition_test_support.h"

namespace kavro::test {
namespace {

namespace f = sim::feature;
constexpr GevStatus kDeviceInvalidParameter = 0x8002;
constexpr const char* kMismatch =
    "[WARNING] - AcquisitionMode: frame count mismatch device -> software.";

class DescribedAcquisition : public DescribedCameraTest {
  protected:
    // Takes the next image and checks every byte against what the camera sent.
    void expectImage(uint64_t blockId, uint32_t width, uint32_t height,
                     uint32_t bytesPerPixel = 1) {
        std::vector<uint8_t> image(size_t{width} * height * bytesPerPixel, 0x55);
        GevImageHeader h{};
        ASSERT_EQ(GEVGetImageBuffer(kDevice, &h, image.data()), GEV_STATUS_SUCCESS);
        EXPECT_NE(h.timestamp, 0u);
        EXPECT_EQ(
            (std::vector<uint64_t>{h.blockId, h.payloadType, h.sizeX, h.sizeY, h.missingPackets}),
            (std::vector<uint64_t>{blockId, 0x0001, width, height, 0}));
        for (size_t o = 0; o < image.size(); ++o)
            ASSERT_EQ(image[o], sim::frameByte(blockId, o)) << "byte " << o;
    }
    bool receptionEnded() { return record().acquisitionStopped.load() == 1; }
    std::shared_ptr<gvsp::Acquisition> currentReception() {
        return gvsp::currentAcquisition(record());
    }
    bool cameraIdle() { return cameraWord(f::kAcquisitionActive) == 0; }
};

// A single frame whatever the caller expects; the receiver and the camera stop by themselves,
// and a close then releases what the acquisition held.
TEST_F(DescribedAcquisition, SingleFrameEndsByItselfAndCloseReleasesWhatItHeld) {
    setEntry("AcquisitionMode", "SingleFrame");
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(logged(kMismatch));
    EXPECT_EQ(record().geometry.frameCountLimit, 1u);
    expectImage(1, kWidth, kHeight);
    ASSERT_TRUE(eventually([&] { return receptionEnded(); })) << "the receiver stops itself";
    EXPECT_TRUE(eventually([&] { return cameraIdle(); })) << "so does the camera";
    std::weak_ptr<gvsp::Acquisition> reception = currentReception();
    ASSERT_FALSE(reception.expired());
    EXPECT_EQ(cameraWord(f::kTlParamsLocked), 1u);
    ASSERT_EQ(GEVClose(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(reception.expired()) << "ring and socket handles freed";
    EXPECT_EQ(cameraWord(f::kTlParamsLocked), 0u);
}

TEST_F(DescribedAcquisition, MultiFrameStopsByItselfAfterItsFrameCount) {
    setEntry("AcquisitionMode", "MultiFrame");
    setInteger("AcquisitionFrameCount", 5);
    EXPECT_EQ(cameraWord(f::kFrameCountMinusOne), 4u) << "the camera counts from 0";
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 5), GEV_STATUS_SUCCESS);
    EXPECT_FALSE(logged(kMismatch));
    for (const char* line : {"[INFO] - Width: 160", "[INFO] - Height: 120",
                             "[INFO] - PixelFormat: 0x01080001", "[INFO] - PayloadSize: 19200"}) {
        EXPECT_TRUE(logged(line)) << line;
    }
    for (uint64_t id = 1; id <= 5; ++id)
        expectImage(id, kWidth, kHeight);
    EXPECT_TRUE(eventually([&] { return receptionEnded(); }));
    EXPECT_EQ(record().counters.framesTotal.load(), 5u);
    EXPECT_TRUE(eventually([&] { return cameraIdle(); }));
    EXPECT_EQ(camera().model().readRegister(f::kAcquisitionStarts), 1u);
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(logged("[INFO] - Frames: 5, Errors: 0 Lost: 0.00 %"));
}

TEST_F(DescribedAcquisition, ChunkModeGrowsThePayloadAndItsChunksReachTheChunkFeatures) {
    ASSERT_EQ(GEVSetFeatureBoolean(kDevice, "ChunkModeActive", 1), GEV_STATUS_SUCCESS);
    EXPECT_EQ(integer("PayloadSize"), kWidth * kHeight + sim::kChunkBytes);
    setEntry("AcquisitionMode", "SingleFrame");
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 1), GEV_STATUS_SUCCESS);
    const uint32_t off = 0;
    EXPECT_EQ(GEVWriteRegister(kDevice, f::kChunkModeActive, 1, &off), GEV_STATUS_ACCESS_DENIED)
        << "held by the transport-layer lock";
    GevImageHeader h{};
    ASSERT_EQ(GEVGetImage(kDevice, &h), GEV_STATUS_SUCCESS);
    EXPECT_EQ(h.chunkLength, sim::kChunkBytes);
    EXPECT_EQ(integer("ChunkBlockId"), 1u) << "the delivered image's chunks";
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVWriteRegister(kDevice, f::kChunkModeActive, 1, &off), GEV_STATUS_SUCCESS);
    EXPECT_EQ(integer("PayloadSize"), kWidth * kHeight);
}

// A continuous acquisition ignores the caller's frame count (with a warning) and holds what
// changes the payload until its stop, which reaches the camera before it returns.
TEST_F(DescribedAcquisition, ContinuousModeLocksTheTransportParametersUntilItsStop) {
    ASSERT_EQ(enumeration("AcquisitionMode"), "Continuous");
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 3), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(logged(kMismatch));
    EXPECT_EQ(record().geometry.frameCountLimit, 0u);
    EXPECT_EQ(cameraWord(f::kTlParamsLocked), 1u);
    uint8_t enabled = 1;
    ASSERT_EQ(GEVGetFeatureEnableStatus(kDevice, "Width", &enabled), GEV_STATUS_SUCCESS);
    EXPECT_EQ(enabled, 0u) << "Width shows as locked";
    EXPECT_EQ(GEVSetFeatureInteger(kDevice, "Width", 64), GEV_STATUS_ACCESS_DENIED);
    EXPECT_EQ(GEVSetFeatureEnumeration(kDevice, "PixelFormat", "Mono16"), GEV_STATUS_ACCESS_DENIED);
    EXPECT_EQ(GEVSetFeatureEnumeration(kDevice, "AcquisitionMode", "SingleFrame"),
              GEV_STATUS_ACCESS_DENIED);
    EXPECT_EQ(cameraWord(f::kWidth), kWidth);
    setInteger("ExposureTime", 2000);  // what does not change the payload stays free
    for (uint64_t id = 1; id <= 4; ++id)
        expectImage(id, kWidth, kHeight);
    EXPECT_FALSE(receptionEnded()) << "continuous: only a stop ends it";

    ASSERT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(cameraIdle());
    EXPECT_EQ(cameraWord(f::kTlParamsLocked), 0u);
    setInteger("Width", 64);
}

TEST_F(DescribedAcquisition, GeometryChangedThroughFeaturesIsSeenByTheNextAcquisition) {
    setInteger("Width", 96);
    setInteger("Height", 64);
    setInteger("OffsetX", 32);
    EXPECT_EQ(integer("PayloadSize"), 96u * 64u);
    EXPECT_EQ(integer("WidthMax"), f::kSensorWidthPixels - 32);
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(logged("[INFO] - PayloadSize: 6144"));
    expectImage(1, 96, 64);
    GevImageHeader h{};
    ASSERT_EQ(get_image_header(kDevice, &h), GEV_STATUS_SUCCESS);
    EXPECT_EQ(h.offsetX, 32u);
    ASSERT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);

    // A wider pixel format doubles the payload; the camera refuses a width it can't make.
    setEntry("PixelFormat", "Mono16");
    EXPECT_EQ(integer("PayloadSize"), 96u * 64u * 2u);
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
    expectImage(1, 96, 64, 2);
    ASSERT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(GEVSetFeatureInteger(kDevice, "Width", 98), kDeviceInvalidParameter);
    EXPECT_EQ(integer("Width"), 96u);
}

// Trigger mode: no frame without a trigger, one per software trigger; images whose headers differ
// from the features (sent by a hand-made stream) are held to the features.
TEST_F(DescribedAcquisition, TriggeredFramesAndHeadersThatDifferFromTheFeatures) {
    setEntry("TriggerMode", "On");
    ASSERT_EQ(GEVSetDetailedLog(kDevice, GEV_LOG_STREAM_ERRORS), GEV_STATUS_SUCCESS);
    GevChannelParameter p{};
    ASSERT_EQ(GEVGetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
    p.imageTimeout = 200;
    ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
    EXPECT_EQ(GEVGetImage(kDevice, nullptr), GEV_STATUS_TIMEOUT) << "no trigger, no frame";
    p.imageTimeout = kImageTimeoutMs;
    ASSERT_EQ(GEVSetChannelParameter(kDevice, &p), GEV_STATUS_SUCCESS);
    for (uint64_t id = 1; id <= 2; ++id) {
        ASSERT_EQ(GEVSetFeatureCommand(kDevice, "TriggerSoftware", 1), GEV_STATUS_SUCCESS);
        expectImage(id, kWidth, kHeight);
    }

    sim::StreamSource source(camera().model(), camera().addressNet());
    sim::StreamFormat format;
    format.extendedIds = true;
    format.firstBlockId = 3;
    format.width = 80;  // 80 x 240: the same payload, another shape
    format.height = 240;
    format.pixelFormat = 0x01080009;
    format.frameCount = 1;
    ASSERT_TRUE(source.start(format));
    std::vector<uint8_t> image(kWidth * kHeight);
    GevImageHeader h{};
    ASSERT_EQ(GEVGetImageBuffer(kDevice, &h, image.data()), GEV_STATUS_SUCCESS);
    EXPECT_EQ((std::vector<uint32_t>{h.sizeX, h.sizeY, h.pixelFormat}),
              (std::vector<uint32_t>{kWidth, kHeight, f::kMono8}));
    EXPECT_TRUE(logged("[ERROR] - Stream header wrong (3): Width expected -> 160, actual -> 80"));
    EXPECT_TRUE(logged("[ERROR] - Stream header wrong (3): Height expected -> 120, actual -> 240"));
    EXPECT_TRUE(
        logged("[ERROR] - Stream header wrong (3): Pixelformat expected -> 0x01080001, "
               "actual -> 0x01080009"));
    source.stop();
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
}

TEST_F(DescribedAcquisition, StopReportsARefusedStopCommandAndStillEndsReception) {
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
    expectImage(1, kWidth, kHeight);
    camera().faults().deviceStatusNext(3, 0x8FFF);
    EXPECT_NE(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
    EXPECT_EQ(record().acquisitionStopped.load(), 1u);
    EXPECT_EQ(currentReception(), nullptr) << "the ring is gone";
}

// The image memory holds the payload of the last build, zero-filled, and GEVGetImage copies into
// it; an acquisition whose window grew through features since grows it.
TEST_F(DescribedAcquisition, ImageMemoryHoldsThePayloadOfTheLastBuildOrOfAGrownWindow) {
    uint32_t size = 0;
    // Built at 640 x 480 Mono8 (the camera's start-up window), before the fixture shrank it.
    ASSERT_EQ(GEVGetMemorySize(kDevice, &size), GEV_STATUS_SUCCESS);
    EXPECT_EQ(size, f::kInitialWidth * f::kInitialHeight);
    EXPECT_EQ(record().imageMemory.size(), size + 65536);
    ASSERT_EQ(GEVInitXml(kDevice), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVGetMemorySize(kDevice, &size), GEV_STATUS_SUCCESS);
    EXPECT_EQ(size, kWidth * kHeight);
    uint8_t* pixels = nullptr;
    ASSERT_EQ(GEVGetPixelPtr(kDevice, 0, &pixels), GEV_STATUS_SUCCESS);
    EXPECT_EQ(pixels[size + 65535], 0) << "zero-filled to its end";
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
    GevImageHeader h{};
    ASSERT_EQ(GEVGetImage(kDevice, &h), GEV_STATUS_SUCCESS);
    EXPECT_EQ(pixels[kWidth * kHeight - 1], sim::frameByte(h.blockId, kWidth * kHeight - 1));
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);

    setInteger("Width", f::kSensorWidthPixels);
    setInteger("Height", f::kSensorHeightPixels);
    const uint32_t payload = f::kSensorWidthPixels * f::kSensorHeightPixels;
    ASSERT_EQ(GEVAcquisitionStart(kDevice, 0), GEV_STATUS_SUCCESS);
    EXPECT_TRUE(logged("[INFO] - Image memory grown for PayloadSize = 1310720 (1376256 bytes)."));
    ASSERT_EQ(GEVGetPixelPtr(kDevice, 0, &pixels), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVGetImage(kDevice, &h), GEV_STATUS_SUCCESS);
    EXPECT_EQ((std::vector<uint32_t>{h.sizeX, h.sizeY, h.missingPackets}),
              (std::vector<uint32_t>{f::kSensorWidthPixels, f::kSensorHeightPixels, 0}));
    for (uint32_t o = 0; o < payload; o += 4099)
        ASSERT_EQ(pixels[o], sim::frameByte(h.blockId, o)) << "byte " << o;
    EXPECT_EQ(pixels[payload - 1], sim::frameByte(h.blockId, payload - 1));
    EXPECT_EQ(GEVAcquisitionStop(kDevice), GEV_STATUS_SUCCESS);
}

}  // namespace
}  // namespace kavro::test
