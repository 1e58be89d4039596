// Hand-made GVSP datagrams fed to a receiver's assembler: blocks of 100 x 10 Mono8 pixels in
// packets of 100 bytes (10 a block), a ring to read them from, and the resend requests made.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <tuple>
#include <vector>

#include "frame/device.h"
#include "gvsp/image_ring.h"
#include "gvsp/wire.h"
#include "tests/support/sim_fixture.h"

namespace kavro::test {

template <class Assembler>
class AssemblerHarness : public ::testing::Test {
  protected:
    static constexpr uint32_t kWidth = 100;
    static constexpr uint32_t kHeight = 10;
    static constexpr uint32_t kPacketData = 100;
    using Request = std::tuple<uint64_t, uint32_t, uint32_t>;

    explicit AssemblerHarness(uint32_t payload = kWidth * kHeight) : index(payload, kPacketData) {}

    // A device logging stream errors and warnings, and an assembler over a ring of `entries`.
    void build(uint16_t entries) {
        LogCapture::instance().clear();
        dev.logCallback = &LogCapture::callback;
        dev.detailedLog = 0x07;
        dev.gevVersionMajor = 1;
        dev.geometry.payloadSize = index.payloadSize();
        dev.acquisitionStopped = 0;
        ring = gvsp::ImageRing::create(entries, index, {}, dev.counters);
        assembler = std::make_unique<Assembler>(
            dev, *ring, index, [this](uint64_t id, uint32_t first, uint32_t last, bool) {
                resends.emplace_back(id, first, last);
                return sendWorks;
            });
    }

    void feed(std::vector<uint8_t> d) { assembler->onDatagram(d); }
    void leader(uint64_t id, uint32_t width = kWidth, uint32_t height = kHeight,
                uint16_t type = gvsp::kPayloadImage) {
        const gvsp::Leader l{type, 1000 + id, 0x01080001, width, height};
        std::vector<uint8_t> d(64);
        d.resize(gvsp::writeLeader(d, {0, false, gvsp::kFormatLeader, id, 0}, l));
        feed(d);
    }
    // Packet `p` of block `id`, every byte id + p.
    void payload(uint64_t id, uint32_t p, uint16_t status = 0, size_t size = kPacketData) {
        std::vector<uint8_t> d(8 + size);
        gvsp::writeHeader(d, {status, false, gvsp::kFormatPayload, id, p});
        std::fill(d.begin() + 8, d.end(), static_cast<uint8_t>(id + p));
        feed(d);
    }
    void trailer(uint64_t id, uint32_t height = kHeight, uint16_t type = gvsp::kPayloadImage,
                 uint32_t packetId = 11) {
        std::vector<uint8_t> d(32);
        d.resize(gvsp::writeTrailer(d, {0, false, gvsp::kFormatTrailer, id, packetId},
                                    {type, true, height}));
        feed(d);
    }
    // Next handed-over entry, released at once; null when none.
    gvsp::RingEntry* next() {
        gvsp::RingEntry* e = ring->acquireForRead(std::chrono::milliseconds(0));
        if (e != nullptr)
            ring->release(e);
        return e;
    }

    frame::GevDevice dev;
    gvsp::PacketIndex index;
    std::unique_ptr<gvsp::ImageRing> ring;
    std::unique_ptr<Assembler> assembler;
    std::vector<Request> resends;
    bool sendWorks = true;
};

}  // namespace kavro::test
