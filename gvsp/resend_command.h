// The packet resend command: a control-channel command (no acknowledge) that the stream side
// sends to ask a camera for lost payload packets. Standard form (20 bytes) with a 16-bit block
// id, extended form (28 bytes) with a 64-bit one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kavro::gvsp {

inline constexpr uint16_t kPacketResendCommand = 0x0040;
inline constexpr uint8_t kResendExtendedFlag = 0x10;
inline constexpr size_t kResendStandardSize = 20;
inline constexpr size_t kResendExtendedSize = 28;
inline constexpr size_t kResendMaxSize = kResendExtendedSize;

struct ResendRequest {
    uint16_t reqId = 0;
    uint16_t channel = 0;
    uint64_t blockId = 0;  // the standard form carries the low 16 bits
    uint32_t firstPacket = 0;
    uint32_t lastPacket = 0;
    bool extended = false;
};

// Builds the whole datagram into `out`; returns its size.
size_t buildResend(const ResendRequest& request, std::span<uint8_t, kResendMaxSize> out);
// Reads the command payload (after the 8-byte command header) as a camera does: the flags of the
// header choose the form; nullopt when the payload has another size.
std::optional<ResendRequest> parseResendPayload(uint8_t flags, uint16_t reqId,
                                                std::span<const uint8_t> payload);

}  // namespace kavro::gvsp
