// A simulated camera opened with control and its stream channel open, a stream source playing
// blocks from it, and the check that frames arrived whole.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/stream_source.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {

class StreamingTest : public SimCameraTest {
  protected:
    void SetUp() override;  // starts the camera with `config`
    void TearDown() override;
    // Starts the acquisition (for `payload` bytes a block; 0: the format's) and the stream.
    void play(uint32_t payload = 0, uint32_t frames = 0) {
        ASSERT_EQ(GEVAcquisitionStartEx(kDevice, frames,
                                        payload != 0 ? payload : sim::blockBytes(format)),
                  GEV_STATUS_SUCCESS);
        ASSERT_TRUE(source->start(format));
    }

    sim::CameraConfig config;
    uint8_t controlMode = 1;
    sim::StreamFormat format;  // extended ids: the simulated camera is a version 2 device
    std::unique_ptr<sim::StreamSource> source;
};

// An image taken: the call's status, the header's block id and missing packets, and whether
// every byte (and for images the width) is what the camera sent for that block.
struct TakenImage {
    GevStatus status = 0;
    uint64_t blockId = 0;
    uint32_t missingPackets = 0;
    bool whole = false;
};
// Takes images from `device` until `count` were taken or a wait timed out. With `wanted`, the
// images it rejects (those sent before a repair) are passed over and so are time-outs, for 30 s
// at most.
std::vector<TakenImage> takeImages(uint8_t device, const sim::StreamFormat& format, uint32_t count,
                                   const std::function<bool(uint64_t)>& wanted = nullptr);

// Takes `frames` images from `device` and counts those that are whole, in block order from
// `firstId`; the first fault is described in `fault`.
uint32_t completeFrames(uint8_t device, const sim::StreamFormat& format, uint32_t frames,
                        std::string& fault, uint64_t firstId = 1);

}  // namespace kavro::test
