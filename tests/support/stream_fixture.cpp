#include "tests/support/stream_fixture.h"

#include <vector>

namespace kavro::test {

void StreamingTest::SetUp() {
    SimCameraTest::SetUp();
    startCamera();
    const GevConnectInfo info = loopbackConnectInfo(camera().addressNet());
    ASSERT_EQ(GEVInit(kDevice, &info, &LogCapture::callback, 0, 1), GEV_STATUS_SUCCESS);
    ASSERT_EQ(GEVOpenStreamChannel(kDevice, 0, 0, 0), GEV_STATUS_SUCCESS);
    source = std::make_unique<sim::StreamSource>(camera().model(), camera().addressNet());
    format.extendedIds = true;
}

void StreamingTest::TearDown() {
    if (source)
        source->stop();
    source.reset();
    (void)GEVClose(kDevice);
    SimCameraTest::TearDown();
}

uint32_t completeFrames(uint8_t device, const sim::StreamFormat& format, uint32_t frames,
                        std::string& fault, uint64_t firstId) {
    std::vector<uint8_t> image(sim::blockBytes(format));
    uint32_t complete = 0;
    for (uint64_t id = firstId; id < firstId + frames; ++id) {
        GevImageHeader h{};
        const GevStatus s = GEVGetImageBuffer(device, &h, image.data());
        if (s == GEV_STATUS_TIMEOUT) {
            if (fault.empty())
                fault = "no image " + std::to_string(id);
            break;
        }
        // An image's leader fields too: a lost leader is asked for again like any packet.
        bool whole = s == GEV_STATUS_SUCCESS && h.blockId == id && h.missingPackets == 0 &&
                     (format.payloadType != 0x0001 || h.sizeX == format.width);
        for (size_t o = 0; whole && o < image.size(); ++o)
            whole = image[o] == sim::frameByte(id, o);
        if (whole) {
            ++complete;
        } else if (fault.empty()) {
            fault = "image " + std::to_string(id) + ": status " + std::to_string(s) + ", block " +
                    std::to_string(h.blockId) + ", missing " + std::to_string(h.missingPackets);
        }
    }
    return complete;
}

}  // namespace kavro::test
