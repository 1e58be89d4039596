// A simulated camera opened with control and its stream channel open, a stream source playing
// blocks from it, and the check that frames arrived whole.
#pragma once

#include <memory>
#include <string>

#include "sim/stream_source.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {

class StreamingTest : public SimCameraTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Starts the acquisition with the block size of `f`.
    GevStatus start(const sim::StreamFormat& f, uint32_t frames = 0) {
        return GEVAcquisitionStartEx(kDevice, frames, sim::blockBytes(f));
    }

    sim::StreamFormat format;  // extended ids: the simulated camera is a version 2 device
    std::unique_ptr<sim::StreamSource> source;
};

// Takes `frames` images from `device` and counts those whose every byte (and for images the
// width) is the camera's, in
// block order from `firstId`; the first fault is described in `fault`.
uint32_t completeFrames(uint8_t device, const sim::StreamFormat& format, uint32_t frames,
                        std::string& fault, uint64_t firstId = 1);

}  // namespace kavro::test
