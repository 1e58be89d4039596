#include "filterengine/packet_ring.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/mman.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "filterdriver/filter_device.h"
#include "filterengine/stream_filter.h"

namespace kavro::filterengine {

namespace {

// Block sizes are a multiple of this; packets never straddle blocks.
constexpr uint32_t kFrameSize = 2048;
constexpr size_t kCacheLine = 64;
// The ring's packet header, the sender's address and the IPv4, UDP and stream headers: all the
// walk and the assembler read of a packet (its payload is copied only when its image is read).
constexpr size_t kPrefetchBytes = 192;
// How many packets ahead the walk asks for those bytes. The kernel wrote them on another core, so
// each first read of a packet misses the cache; one packet ahead leaves too little time for the
// fetch, and a stream's packets are nearly all of one size, so where the later ones lie is known.
constexpr size_t kPrefetchPackets = 8;

void prefetchHeaders(const uint8_t* block, size_t at, size_t size) {
    const size_t end = std::min(size, at + kPrefetchBytes);
    for (; at < end; at += kCacheLine)
        __builtin_prefetch(block + at);
}

uint32_t errorFor(int err) {
    switch (err) {
        case EPERM:
        case EACCES:
            return filterdriver::kErrorAccessDenied;
        case ENOMEM:
        case ENOBUFS:
            return filterdriver::kErrorNotEnoughMemory;
        case ENODEV:
        case ENXIO:
            return filterdriver::kErrorFileNotFound;
        default:
            return filterdriver::kErrorGeneralFailure;
    }
}

template <typename T>
bool setOption(int fd, int option, const T& value) {
    return ::setsockopt(fd, SOL_PACKET, option, &value, sizeof value) == 0;
}

}  // namespace

std::unique_ptr<PacketRing> PacketRing::open(const PacketRingSettings& settings, uint32_t& error) {
    if (settings.blockSize == 0 || settings.blockSize % kFrameSize != 0 ||
        settings.blockCount == 0 || settings.interfaceIndex <= 0) {
        error = filterdriver::kErrorInvalidParameter;
        return nullptr;
    }
    // Protocol 0: nothing arrives until the bind below, by which time the filter is in place,
    // so no packet of another stream ever reaches the ring.
    platform::UniqueSocket socket(::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.isValid()) {
        error = errorFor(errno);
        return nullptr;
    }
    const int fd = socket.get();
    const auto program =
        streamFilter(settings.endpoint.sourceAddressNet, settings.endpoint.destinationPort);
    const sock_fprog filter{static_cast<unsigned short>(program.size()),
                            const_cast<sock_filter*>(program.data())};
    if (!setOption(fd, PACKET_VERSION, int{TPACKET_V3}) ||
        ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) != 0) {
        error = errorFor(errno);
        return nullptr;
    }
    // On loopback every packet passes the tap twice, leaving and arriving: only arrivals count.
    // Older kernels lack the option; the walk skips outgoing packets as well.
    (void)setOption(fd, PACKET_IGNORE_OUTGOING, int{1});

    tpacket_req3 request{};
    request.tp_block_size = settings.blockSize;
    request.tp_block_nr = settings.blockCount;
    request.tp_frame_size = kFrameSize;
    request.tp_frame_nr = settings.blockSize / kFrameSize * settings.blockCount;
    request.tp_retire_blk_tov = settings.retireTimeoutMs;
    if (!setOption(fd, PACKET_RX_RING, request)) {
        error = errorFor(errno);
        return nullptr;
    }
    const size_t mapSize = size_t{settings.blockSize} * settings.blockCount;
    void* map = ::mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        error = filterdriver::kErrorNotEnoughMemory;
        return nullptr;
    }
    std::unique_ptr<PacketRing> ring(
        new PacketRing(std::move(socket), static_cast<uint8_t*>(map), settings));
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_IP);
    address.sll_ifindex = settings.interfaceIndex;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = errorFor(errno);
        return nullptr;
    }
    error = 0;
    return ring;
}

PacketRing::~PacketRing() {
    ::munmap(map_, size_t{settings_.blockSize} * settings_.blockCount);
}

size_t PacketRing::drain(const DatagramSink& onDatagram) {
    size_t blocks = 0;
    while (walked_ - released_ < settings_.blockCount) {
        uint8_t* block = blockAt(walked_);
        auto* desc = reinterpret_cast<tpacket_block_desc*>(block);
        // The kernel publishes a block's packets before its status.
        if ((__atomic_load_n(&desc->hdr.bh1.block_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) ==
            0) {
            break;
        }
        walk(block, walked_, onDatagram);
        ++walked_;
        ++blocks;
    }
    return blocks;
}

void PacketRing::releaseBefore(uint64_t block) {
    for (; released_ < std::min(block, walked_); ++released_) {
        auto* desc = reinterpret_cast<tpacket_block_desc*>(blockAt(released_));
        __atomic_store_n(&desc->hdr.bh1.block_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    }
}

void PacketRing::walk(const uint8_t* block, uint64_t sequence,
                      const DatagramSink& onDatagram) const {
    const auto* desc = reinterpret_cast<const tpacket_block_desc*>(block);
    const size_t size = settings_.blockSize;
    const uint32_t packets = desc->hdr.bh1.num_pkts;
    size_t offset = desc->hdr.bh1.offset_to_first_pkt;
    constexpr size_t kAddressAt = TPACKET_ALIGN(sizeof(tpacket3_hdr));
    for (uint32_t i = 0; i < packets; ++i) {
        if (offset < sizeof(tpacket_block_desc) || offset > size - TPACKET3_HDRLEN)
            return;
        const auto* h = reinterpret_cast<const tpacket3_hdr*>(block + offset);
        // The headers of the packets a few ahead are fetched while this one is taken apart,
        // guessing they lie at this packet's stride; at the block's first packet the whole
        // distance ahead is asked for at once.
        const size_t stride = h->tp_next_offset;
        if (stride != 0) {
            for (size_t ahead = i == 0 ? 1 : kPrefetchPackets; ahead <= kPrefetchPackets; ++ahead) {
                const size_t at = offset + ahead * stride;
                if (at >= size)
                    break;
                prefetchHeaders(block, at, size);
            }
        }
        const auto* from = reinterpret_cast<const sockaddr_ll*>(block + offset + kAddressAt);
        const size_t net = h->tp_net;
        const size_t captured = h->tp_snaplen;
        // Cut packets (longer than a block holds) are dropped like lost ones.
        if (from->sll_pkttype != PACKET_OUTGOING && captured == h->tp_len && net <= size - offset &&
            captured <= size - offset - net) {
            const bool verified =
                (h->tp_status & (TP_STATUS_CSUM_VALID | TP_STATUS_CSUMNOTREADY)) != 0;
            if (const auto payload =
                    udpPayload({block + offset + net, captured}, settings_.endpoint, verified)) {
                onDatagram(*payload, sequence,
                           int64_t{h->tp_sec} * 1000000000 + int64_t{h->tp_nsec});
            }
        }
        if (h->tp_next_offset == 0)
            return;
        offset += h->tp_next_offset;
    }
}

}  // namespace kavro::filterengine
