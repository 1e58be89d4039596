// Stream network tests with the camera's test packet: one GVSP datagram of the stream channel's
// packet size, fired by bit 31 of SCPS0. Meant to run while no acquisition runs; neither call
// takes a lock.
#pragma once

#include <cstdint>
#include <span>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"

namespace kavro::gvsp {

// SCPS0 bits of the test packet.
inline constexpr uint32_t kScpsFireTestPacket = 0x80000000;
inline constexpr uint32_t kScpsDoNotFragment = 0x40000000;
inline constexpr uint32_t kScpsSizeMask = 0x0000FFFF;

// The test data sequence: a 16-bit state from 0xFFFF; each data byte is the state's low byte,
// after which the state shifts right by one and, when the bit shifted out was 1, is XORed with
// 0x8016.
class TestDataSequence {
  public:
    uint8_t next() {
        const uint8_t byte = static_cast<uint8_t>(state_);
        const bool low = (state_ & 1) != 0;
        state_ = static_cast<uint16_t>(state_ >> 1);
        if (low)
            state_ ^= 0x8016;
        return byte;
    }
    void fill(std::span<uint8_t> out) {
        for (uint8_t& b : out)
            b = next();
    }

  private:
    uint16_t state_ = 0xFFFF;
};

// Fires one test packet and receives it on the stream socket (or on a temporary socket whose
// port goes to SCP0 when no stream channel is open). `packetSize` = the size of the IP packet
// that carried it, 0 when none came within the control channel's time-out (status 0 then).
// 0xC02C when its data did not follow the test data sequence.
GevStatus testPacket(frame::GevDevice& device, uint32_t& packetSize);

// Searches the largest packet size that passes the network path, between `lower` and `upper`
// (0: 20000), never above the MTU of the host's adapter, in steps of `step` (0 and 1: 4).
// `maxPacketSize` = 0 when no size passed. 0xC008 when the search takes longer than 5 s.
GevStatus findMaxPacketSize(frame::GevDevice& device, uint16_t& maxPacketSize, uint16_t lower,
                            uint16_t upper, uint16_t step);

}  // namespace kavro::gvsp
