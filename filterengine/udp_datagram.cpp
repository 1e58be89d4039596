#include "filterengine/udp_datagram.h"

#include <arpa/inet.h>

#include <cstring>

#include "platform/byte_order.h"

namespace kavro::filterengine {

namespace {

constexpr size_t kMinIpHeader = 20;
constexpr size_t kUdpHeader = 8;
constexpr uint8_t kUdp = 17;
constexpr uint16_t kFragmentBits = 0x3FFF;

// Ones' complement sum of 16-bit big-endian words; an odd last byte is padded with zero.
uint64_t sumWords(const uint8_t* p, size_t n, uint64_t sum) {
    for (; n >= 2; p += 2, n -= 2)
        sum += platform::loadBe16(p);
    if (n == 1)
        sum += static_cast<uint64_t>(p[0]) << 8;
    return sum;
}

bool checksumHolds(std::span<const uint8_t> ipHeader, std::span<const uint8_t> udp) {
    uint64_t sum = sumWords(ipHeader.data() + 12, 8, 0);  // source and destination address
    sum += kUdp;
    sum += udp.size();
    sum = sumWords(udp.data(), udp.size(), sum);
    while ((sum >> 16) != 0)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum == 0xFFFF;
}

}  // namespace

std::optional<std::span<const uint8_t>> udpPayload(std::span<const uint8_t> packet,
                                                   const StreamEndpoint& endpoint,
                                                   bool checksumVerified) {
    if (packet.size() < kMinIpHeader || (packet[0] >> 4) != 4)
        return std::nullopt;
    const size_t headerLength = size_t{packet[0] & 0x0Fu} * 4;
    const size_t totalLength = platform::loadBe16(&packet[2]);
    if (headerLength < kMinIpHeader || totalLength < headerLength + kUdpHeader ||
        totalLength > packet.size()) {
        return std::nullopt;
    }
    if (packet[9] != kUdp || (platform::loadBe16(&packet[6]) & kFragmentBits) != 0)
        return std::nullopt;
    uint32_t source = 0;
    std::memcpy(&source, &packet[12], sizeof source);
    if (source != endpoint.sourceAddressNet)
        return std::nullopt;
    const auto udp = packet.subspan(headerLength, totalLength - headerLength);
    const size_t udpLength = platform::loadBe16(&udp[4]);
    if (platform::loadBe16(&udp[2]) != endpoint.destinationPort || udpLength < kUdpHeader ||
        udpLength > udp.size()) {
        return std::nullopt;
    }
    const auto datagram = udp.first(udpLength);
    // A zero checksum field: the sender computed none.
    if (!checksumVerified && platform::loadBe16(&udp[6]) != 0 &&
        !checksumHolds(packet.first(headerLength), datagram)) {
        return std::nullopt;
    }
    return datagram.subspan(kUdpHeader);
}

}  // namespace kavro::filterengine
