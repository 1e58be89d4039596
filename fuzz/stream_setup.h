// The stream side both assembler targets feed: a device record, a packet index and a ring,
// shaped by the first bytes of the input.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "frame/device.h"
#include "fuzz/fuzz_input.h"
#include "gvsp/image_ring.h"

namespace kavro::fuzz {

inline void ignoreLogLine(uint8_t, const char*) {}

struct StreamSetup {
    // Byte 0: payload size (1..16321 bytes). Byte 1: packet data size (8..512 in steps of 8).
    // Byte 2: bit 0 geometry from the description, bit 1 detailed log, bit 2 a frame count
    // limit of 2, bit 3 resends allowed, bit 4 a version 2 camera (64-bit block ids expected).
    explicit StreamSetup(InputReader& input) : index(payloadSize(input), packetDataSize(input)) {
        const uint8_t flags = input.byte();
        dev.logCallback = &ignoreLogLine;
        dev.detailedLog = (flags & 2) != 0 ? 0x07 : 0x00;
        dev.gevVersionMajor = (flags & 16) != 0 ? 2 : 1;
        dev.acquisitionStopped = 0;
        dev.resendEnabled = (flags & 8) != 0 ? 1 : 0;
        frame::StreamGeometry& g = dev.geometry;
        g.payloadSize = index.payloadSize();
        g.frameCountLimit = (flags & 4) != 0 ? 2 : 0;
        if ((flags & 1) != 0) {
            g.fromDescription = true;
            g.imageWidth = 16;
            g.imageHeight = index.payloadSize() / 16;
            g.imagePixelFormat = 0x01080001;  // Mono8
            g.bytesPerPixel = 1;
        }
        ring = gvsp::ImageRing::create(4, index, {}, dev.counters);
    }

    // The reader's side: takes every handed-over entry and frees it at once, so the writer never
    // waits for a free one.
    void drain() {
        while (gvsp::RingEntry* e = ring->acquireForRead(std::chrono::milliseconds(0))) {
            (void)ring->release(e);
        }
    }

    static uint32_t payloadSize(InputReader& input) { return 1 + uint32_t{input.byte()} * 64; }
    static uint32_t packetDataSize(InputReader& input) {
        return 8 + (uint32_t{input.byte()} % 64) * 8;
    }

    frame::GevDevice dev;
    gvsp::PacketIndex index;
    std::unique_ptr<gvsp::ImageRing> ring;
};

}  // namespace kavro::fuzz
