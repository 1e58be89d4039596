// Packet layouts of DISCOVERY and FORCEIP and their acknowledges. Offsets are from the start of
// the UDP payload (the 8-byte header included).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "gvcp/wire.h"

namespace kavro::gvcp {

inline constexpr size_t kDiscoveryAckSize = 256;
inline constexpr size_t kForceIpSize = 64;

// The fields of a DISCOVERY_ACK. Strings are exactly as on the wire: zero-padded, and not
// terminated when they fill their field.
struct DiscoveryAck {
    uint16_t versionMajor = 0;
    uint16_t versionMinor = 0;
    uint32_t deviceMode = 0;
    std::array<uint8_t, 6> mac{};
    uint32_t ipConfigOptions = 0;
    uint32_t ipConfigCurrent = 0;
    uint32_t currentIp = 0;  // host byte order
    uint32_t subnetMask = 0;
    uint32_t gateway = 0;
    std::array<char, 32> manufacturerName{};
    std::array<char, 32> modelName{};
    std::array<char, 32> deviceVersion{};
    std::array<char, 48> manufacturerInfo{};
    std::array<char, 16> serialNumber{};
    std::array<char, 16> userDefinedName{};
};

// DISCOVERY with req_id 1; `broadcastAck` asks cameras to answer by broadcast.
std::vector<uint8_t> buildDiscovery(bool broadcastAck, uint16_t reqId = 1);
// A DISCOVERY_ACK is exactly 256 bytes with acknowledge code 0x0003; anything else is nullopt.
std::optional<DiscoveryAck> parseDiscoveryAck(std::span<const uint8_t> datagram);
std::vector<uint8_t> buildDiscoveryAck(const DiscoveryAck& ack, uint16_t ackId);

struct ForceIp {
    std::array<uint8_t, 6> mac{};
    uint32_t address = 0;  // host byte order; 0 = restart the IP configuration
    uint32_t subnetMask = 0;
    uint32_t gateway = 0;
};
// FORCEIP, 64 bytes; flags 0x01, or 0x00 (no acknowledge) when the address is 0.
std::vector<uint8_t> buildForceIp(const ForceIp& force, uint16_t reqId = 1);
std::optional<ForceIp> parseForceIp(std::span<const uint8_t> datagram);

}  // namespace kavro::gvcp
