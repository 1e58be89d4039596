#include "gvsp/wire.h"

#include "platform/byte_cursor.h"

namespace kavro::gvsp {

using platform::ByteReader;
using platform::ByteWriter;

bool carriesExtendedIds(std::span<const uint8_t> datagram) {
    return datagram.size() >= kStandardHeaderSize && (datagram[4] & kExtendedIdFlag) != 0;
}

std::optional<PacketHeader> parseHeader(std::span<const uint8_t> datagram, bool extended) {
    PacketHeader h;
    h.extended = extended;
    if (datagram.size() < h.size() || carriesExtendedIds(datagram) != extended)
        return std::nullopt;
    ByteReader r(datagram);
    h.status = r.u16();
    const uint16_t shortId = r.u16();
    const uint8_t formatByte = r.u8();
    h.format = formatByte & 0x0F;
    const uint32_t low24 = (uint32_t{r.u8()} << 16) | r.u16();
    if (extended) {
        h.blockId = r.u64();
        h.packetId = r.u32();
    } else {
        h.blockId = shortId;
        h.packetId = low24;
    }
    if (r.overflow())
        return std::nullopt;
    return h;
}

std::optional<Leader> parseLeader(std::span<const uint8_t> body) {
    ByteReader r(body);
    Leader l;
    r.skip(2);
    l.payloadType = r.u16();
    l.timestamp = r.u64();
    if (r.overflow())
        return std::nullopt;
    if (isImagePayload(l.payloadType)) {
        l.pixelFormat = r.u32();
        l.sizeX = r.u32();
        l.sizeY = r.u32();
        l.offsetX = r.u32();
        l.offsetY = r.u32();
        l.paddingX = r.u16();
        l.paddingY = r.u16();
    } else if (l.payloadType == kPayloadRawData) {
        r.skip(4);
        l.sizeX = r.u32();
    }
    if (r.overflow())
        return std::nullopt;
    return l;
}

std::optional<Trailer> parseTrailer(std::span<const uint8_t> body) {
    ByteReader r(body);
    Trailer t;
    r.skip(2);
    t.payloadType = r.u16();
    if (r.overflow())
        return std::nullopt;
    if (isImagePayload(t.payloadType) || t.payloadType == kPayloadChunkData ||
        t.payloadType == kPayloadExtendedChunk) {
        t.sizeY = r.u32();
        t.hasSizeY = !r.overflow();
    }
    if (t.hasSizeY && t.payloadType == kPayloadImageWithChunks) {
        t.chunkLength = r.u32();
        t.chunkLayoutId = r.u32();
        t.hasChunk = !r.overflow();
        if (!t.hasChunk)
            t.chunkLength = t.chunkLayoutId = 0;
    }
    return t;
}

size_t writeHeader(std::span<uint8_t> out, const PacketHeader& h) {
    ByteWriter w(out);
    w.u16(h.status);
    w.u16(h.extended ? 0 : static_cast<uint16_t>(h.blockId));
    w.u8(static_cast<uint8_t>((h.extended ? kExtendedIdFlag : 0) | (h.format & 0x0F)));
    if (h.extended) {
        w.zeros(3);
        w.u64(h.blockId);
        w.u32(h.packetId);
    } else {
        w.u8(static_cast<uint8_t>(h.packetId >> 16));
        w.u16(static_cast<uint16_t>(h.packetId));
    }
    return w.overflow() ? 0 : w.position();
}

size_t writeLeader(std::span<uint8_t> out, const PacketHeader& header, const Leader& l) {
    const size_t head = writeHeader(out, header);
    if (head == 0)
        return 0;
    ByteWriter w(out.subspan(head));
    w.u16(0);
    w.u16(l.payloadType);
    w.u64(l.timestamp);
    if (isImagePayload(l.payloadType)) {
        w.u32(l.pixelFormat);
        w.u32(l.sizeX);
        w.u32(l.sizeY);
        w.u32(l.offsetX);
        w.u32(l.offsetY);
        w.u16(l.paddingX);
        w.u16(l.paddingY);
    } else if (l.payloadType == kPayloadRawData) {
        w.u32(0);
        w.u32(l.sizeX);
    }
    return w.overflow() ? 0 : head + w.position();
}

size_t writeTrailer(std::span<uint8_t> out, const PacketHeader& header, const Trailer& t) {
    const size_t head = writeHeader(out, header);
    if (head == 0)
        return 0;
    ByteWriter w(out.subspan(head));
    w.u16(0);
    w.u16(t.payloadType);
    if (t.hasSizeY)
        w.u32(t.sizeY);
    if (t.hasSizeY && t.hasChunk) {
        w.u32(t.chunkLength);
        w.u32(t.chunkLayoutId);
    }
    return w.overflow() ? 0 : head + w.position();
}

uint32_t bytesPerPixel(uint32_t pixelFormat) {
    const uint32_t bits = (pixelFormat >> 16) & 0xFF;
    return bits >= 9 && bits <= 15 ? 2 : bits / 8;
}

}  // namespace kavro::gvsp
