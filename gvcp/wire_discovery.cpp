#include "gvcp/wire_discovery.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_cursor.h"

namespace kavro::gvcp {

using platform::ByteReader;
using platform::ByteWriter;

namespace {

template <size_t N>
void readText(ByteReader& r, std::array<char, N>& out) {
    const auto bytes = r.bytes(N);
    if (bytes.size() == N)
        std::memcpy(out.data(), bytes.data(), N);
}

template <size_t N>
void writeText(ByteWriter& w, const std::array<char, N>& text) {
    w.bytes(std::span(reinterpret_cast<const uint8_t*>(text.data()), N));
}

}  // namespace

std::vector<uint8_t> buildDiscovery(bool broadcastAck, uint16_t reqId) {
    std::vector<uint8_t> out(kHeaderSize);
    writeCommandHeader(
        std::span<uint8_t, kHeaderSize>(out.data(), kHeaderSize),
        {static_cast<uint8_t>(kFlagAckRequired | (broadcastAck ? kFlagBroadcastAck : 0)),
         kDiscoveryCmd, 0, reqId});
    return out;
}

std::optional<DiscoveryAck> parseDiscoveryAck(std::span<const uint8_t> datagram) {
    if (datagram.size() != kDiscoveryAckSize)
        return std::nullopt;
    const auto header = parseAckHeader(datagram);
    if (!header || header->ackCode != kDiscoveryAck)
        return std::nullopt;
    ByteReader r(datagram);
    r.seek(kHeaderSize);
    DiscoveryAck ack;
    ack.versionMajor = r.u16();
    ack.versionMinor = r.u16();
    ack.deviceMode = r.u32();
    r.skip(2);
    const auto mac = r.bytes(6);
    if (mac.size() == 6)
        std::copy(mac.begin(), mac.end(), ack.mac.begin());
    ack.ipConfigOptions = r.u32();
    ack.ipConfigCurrent = r.u32();
    r.skip(12);
    ack.currentIp = r.u32();
    r.skip(12);
    ack.subnetMask = r.u32();
    r.skip(12);
    ack.gateway = r.u32();
    readText(r, ack.manufacturerName);
    readText(r, ack.modelName);
    readText(r, ack.deviceVersion);
    readText(r, ack.manufacturerInfo);
    readText(r, ack.serialNumber);
    readText(r, ack.userDefinedName);
    if (r.overflow())
        return std::nullopt;
    return ack;
}

std::vector<uint8_t> buildDiscoveryAck(const DiscoveryAck& ack, uint16_t ackId) {
    std::vector<uint8_t> out(kDiscoveryAckSize, 0);
    writeAckHeader(
        std::span<uint8_t, kHeaderSize>(out.data(), kHeaderSize),
        {0, kDiscoveryAck, static_cast<uint16_t>(kDiscoveryAckSize - kHeaderSize), ackId});
    ByteWriter w{std::span(out).subspan(kHeaderSize)};
    w.u16(ack.versionMajor);
    w.u16(ack.versionMinor);
    w.u32(ack.deviceMode);
    w.zeros(2);
    w.bytes(ack.mac);
    w.u32(ack.ipConfigOptions);
    w.u32(ack.ipConfigCurrent);
    w.zeros(12);
    w.u32(ack.currentIp);
    w.zeros(12);
    w.u32(ack.subnetMask);
    w.zeros(12);
    w.u32(ack.gateway);
    writeText(w, ack.manufacturerName);
    writeText(w, ack.modelName);
    writeText(w, ack.deviceVersion);
    writeText(w, ack.manufacturerInfo);
    writeText(w, ack.serialNumber);
    writeText(w, ack.userDefinedName);
    return out;
}

std::vector<uint8_t> buildForceIp(const ForceIp& force, uint16_t reqId) {
    std::vector<uint8_t> out(kForceIpSize, 0);
    writeCommandHeader(std::span<uint8_t, kHeaderSize>(out.data(), kHeaderSize),
                       {static_cast<uint8_t>(force.address != 0 ? kFlagAckRequired : 0),
                        kForceIpCmd, static_cast<uint16_t>(kForceIpSize - kHeaderSize), reqId});
    ByteWriter w{std::span(out).subspan(kHeaderSize)};
    w.zeros(2);
    w.bytes(force.mac);
    w.zeros(12);
    w.u32(force.address);
    w.zeros(12);
    w.u32(force.subnetMask);
    w.zeros(12);
    w.u32(force.gateway);
    return out;
}

std::optional<ForceIp> parseForceIp(std::span<const uint8_t> datagram) {
    const auto header = parseCommandHeader(datagram);
    if (!header || header->command != kForceIpCmd || datagram.size() < kForceIpSize) {
        return std::nullopt;
    }
    ByteReader r(datagram);
    r.seek(kHeaderSize + 2);
    ForceIp force;
    const auto mac = r.bytes(6);
    if (mac.size() == 6)
        std::copy(mac.begin(), mac.end(), force.mac.begin());
    r.skip(12);
    force.address = r.u32();
    r.skip(12);
    force.subnetMask = r.u32();
    r.skip(12);
    force.gateway = r.u32();
    if (r.overflow())
        return std::nullopt;
    return force;
}

}  // namespace kavro::gvcp
