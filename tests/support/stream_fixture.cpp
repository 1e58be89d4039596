#include "tests/support/stream_fixture.h"

#include <chrono>
#include <vector>

namespace kavro::test {

void StreamingTest::SetUp() {
    SimCameraTest::SetUp();
    startCamera(config);
    const GevConnectInfo info = loopbackConnectInfo(camera().addressNet());
    ASSERT_EQ(GEVInit(kDevice, &info, &LogCapture::callback, 0, controlMode), GEV_STATUS_SUCCESS);
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

std::vector<TakenImage> takeImages(uint8_t device, const sim::StreamFormat& format, uint32_t count,
                                   const std::function<bool(uint64_t)>& wanted) {
    std::vector<uint8_t> image(sim::blockBytes(format));
    std::vector<TakenImage> taken;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (taken.size() < count && (!wanted || std::chrono::steady_clock::now() < limit)) {
        GevImageHeader h{};
        TakenImage t{GEVGetImageBuffer(device, &h, image.data()), h.blockId, h.missingPackets};
        if (t.status == GEV_STATUS_TIMEOUT && !wanted)
            break;
        if (t.status == GEV_STATUS_TIMEOUT || (wanted && !wanted(t.blockId)))
            continue;
        // An image's leader fields too: a lost leader is asked for again like any packet.
        t.whole = t.status == GEV_STATUS_SUCCESS && t.missingPackets == 0 &&
                  (format.payloadType != 0x0001 || h.sizeX == format.width);
        for (size_t o = 0; t.whole && o < image.size(); ++o)
            t.whole = image[o] == sim::frameByte(t.blockId, o);
        taken.push_back(t);
    }
    return taken;
}

uint32_t completeFrames(uint8_t device, const sim::StreamFormat& format, uint32_t frames,
                        std::string& fault, uint64_t firstId) {
    uint32_t complete = 0;
    uint64_t id = firstId;
    for (const TakenImage& t : takeImages(device, format, frames)) {
        if (t.whole && t.blockId == id) {
            ++complete;
        } else if (fault.empty()) {
            fault = "image " + std::to_string(id) + ": status " + std::to_string(t.status) +
                    ", block " + std::to_string(t.blockId) + ", missing " +
                    std::to_string(t.missingPackets);
        }
        ++id;
    }
    if (id < firstId + frames && fault.empty())
        fault = "no image " + std::to_string(id);
    return complete;
}

}  // namespace kavro::test
