// GVSP packet layouts: the one place where stream datagrams are read and written, by the
// receiver and by the simulated camera alike. Offsets of leader and trailer fields are counted
// from the end of the packet header; every field is big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kavro::gvsp {

inline constexpr size_t kStandardHeaderSize = 8;
inline constexpr size_t kExtendedHeaderSize = 20;
inline constexpr uint8_t kExtendedIdFlag = 0x80;  // byte 4 of every header
inline constexpr uint16_t kStandardBlockIdMask = 0xFFFF;

// Header status values: 0 and the resent-packet status pass, every other status drops the
// datagram.
inline constexpr uint16_t kStatusResent = 0x0100;
inline constexpr uint16_t kStatusIgnoredBits = 0xFEFF;

// IP and UDP headers plus the stream header: what a packet of SCPS bytes does not carry as data.
inline constexpr uint32_t kStandardPacketOverhead = 20 + 8 + kStandardHeaderSize;
inline constexpr uint32_t kExtendedPacketOverhead = 20 + 8 + kExtendedHeaderSize;

enum PacketFormat : uint8_t {
    kFormatLeader = 1,
    kFormatTrailer = 2,
    kFormatPayload = 3,
    // Payload of a multi-part block: every packet starts with a part header.
    kFormatPayloadMultiPart = 7,
};

enum PayloadType : uint16_t {
    kPayloadImage = 0x0001,
    kPayloadRawData = 0x0002,
    kPayloadChunkData = 0x0004,
    kPayloadExtendedChunk = 0x0005,
    kPayloadDeviceSpecific = 0x000A,
    kPayloadImageWithChunks = 0x4001,
    kPayloadDeviceSpecificChunks = 0x400A,
};

inline bool isImagePayload(uint16_t type) {
    return type == kPayloadImage || type == kPayloadImageWithChunks;
}

struct PacketHeader {
    uint16_t status = 0;
    bool extended = false;  // 64-bit block ids and 32-bit packet ids
    uint8_t format = 0;
    uint64_t blockId = 0;
    uint32_t packetId = 0;

    size_t size() const { return extended ? kExtendedHeaderSize : kStandardHeaderSize; }
};

// Leader fields after the header. Image leaders carry all fields (36 bytes); a raw-data leader
// carries its byte count at the place of size X (20 bytes); others carry type and timestamp.
struct Leader {
    uint16_t payloadType = 0;
    uint64_t timestamp = 0;
    uint32_t pixelFormat = 0;
    uint32_t sizeX = 0;  // raw data: the block's byte count
    uint32_t sizeY = 0;
    uint32_t offsetX = 0;
    uint32_t offsetY = 0;
    uint16_t paddingX = 0;
    uint16_t paddingY = 0;
};
inline constexpr size_t kLeaderBaseSize = 12;
inline constexpr size_t kLeaderRawSize = 20;
inline constexpr size_t kLeaderImageSize = 36;

// Trailer fields after the header. Which fields a trailer carries depends on its payload type;
// the flags tell which ones arrived.
struct Trailer {
    uint16_t payloadType = 0;
    bool hasSizeY = false;  // image types: size Y; chunk types: the data length
    uint32_t sizeY = 0;
    bool hasChunk = false;  // image with chunks: chunk length and layout id
    uint32_t chunkLength = 0;
    uint32_t chunkLayoutId = 0;
};
inline constexpr size_t kTrailerBaseSize = 4;
inline constexpr size_t kTrailerImageSize = 8;
inline constexpr size_t kTrailerChunkImageSize = 16;

// True when the datagram is long enough to carry the id-mode flag and it is set.
bool carriesExtendedIds(std::span<const uint8_t> datagram);

// Reads the header in the given id mode; nullopt when the datagram is shorter than that header
// or its id-mode flag says otherwise.
std::optional<PacketHeader> parseHeader(std::span<const uint8_t> datagram, bool extended);
// Leader fields from the bytes after the header; nullopt when the type's fields are incomplete.
std::optional<Leader> parseLeader(std::span<const uint8_t> body);
// Trailer fields from the bytes after the header; nullopt when even the type is missing.
std::optional<Trailer> parseTrailer(std::span<const uint8_t> body);

// Writers fill `out` and return the bytes written (0 when `out` is too small).
size_t writeHeader(std::span<uint8_t> out, const PacketHeader& header);
size_t writeLeader(std::span<uint8_t> out, const PacketHeader& header, const Leader& leader);
size_t writeTrailer(std::span<uint8_t> out, const PacketHeader& header, const Trailer& trailer);

// Bytes per pixel of a pixel format: 2 when its bit count (bits 16..23) is 9..15, else the bit
// count divided by 8.
uint32_t bytesPerPixel(uint32_t pixelFormat);

}  // namespace kavro::gvsp
