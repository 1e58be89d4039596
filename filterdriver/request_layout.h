// Byte layouts of the filter driver's requests and answers. Unlike the camera's protocols these
// buffers are little-endian; bytes a layout leaves unset travel as zero.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KavroGigEVisionLib.h"

namespace kavro::filterdriver::layout {

inline uint16_t loadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (static_cast<uint16_t>(p[1]) << 8));
}
inline uint32_t loadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t loadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(loadLe32(p)) | (static_cast<uint64_t>(loadLe32(p + 4)) << 32);
}
inline void storeLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void storeLe32(uint8_t* p, uint32_t v) {
    storeLe16(p, static_cast<uint16_t>(v));
    storeLe16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void storeLe64(uint8_t* p, uint64_t v) {
    storeLe32(p, static_cast<uint32_t>(v));
    storeLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// Bind: the answer is a status word, 0 = bound.
inline constexpr size_t kBindAnswerSize = 4;

// Stream start (and stop, which sets only the device index). Addresses travel in network byte
// order, the other fields as little-endian numbers.
namespace start {
inline constexpr size_t kSize = 40;
inline constexpr size_t kWidth = 0;
inline constexpr size_t kHeight = 4;
inline constexpr size_t kDeviceAddress = 8;
inline constexpr size_t kStreamPort = 12;
inline constexpr size_t kControlPort = 14;
inline constexpr size_t kPixelFormat = 16;
inline constexpr size_t kDestination = 20;
inline constexpr size_t kPayloadSize = 24;
inline constexpr size_t kPacketDataSize = 28;
inline constexpr size_t kResendEnabled = 30;
inline constexpr size_t kMaxResend = 31;
inline constexpr size_t kDeviceIndex = 32;
inline constexpr size_t kImageTimeout = 36;
}  // namespace start

// Settings: the one-based device index first, then the value.
namespace setting {
inline constexpr size_t kDeviceIndex = 0;
inline constexpr size_t kByteValue = 1;  // resend on/off, out-of-order window
inline constexpr size_t kByteRequestSize = 2;
inline constexpr size_t kBufferCount = 2;  // u16; byte 1 unset
inline constexpr size_t kBufferCountSize = 4;
inline constexpr size_t kTestFirst = 2;  // u16; byte 1 unset
inline constexpr size_t kTestCount = 4;  // u16
inline constexpr size_t kTestSize = 6;
}  // namespace setting

namespace version {
inline constexpr size_t kRequestSize = 1;
inline constexpr size_t kAnswerSize = 2;  // major, minor
}  // namespace version

// Image header: request and answer share one 64-byte layout; the answer carries the image
// header in the exported layout from byte 8 on.
namespace header {
inline constexpr size_t kSize = 64;
inline constexpr size_t kDeviceIndex = 0;
inline constexpr size_t kImageHeader = 8;

// The exported image header at `p`, field by field.
inline void store(uint8_t* p, const GevImageHeader& h) {
    storeLe64(p + 0, h.blockId);
    storeLe64(p + 8, h.timestamp);
    storeLe32(p + 16, h.pixelFormat);
    storeLe32(p + 20, h.sizeX);
    storeLe32(p + 24, h.sizeY);
    storeLe32(p + 28, h.offsetX);
    storeLe32(p + 32, h.offsetY);
    storeLe16(p + 36, h.paddingX);
    storeLe16(p + 38, h.paddingY);
    storeLe32(p + 40, h.missingPackets);
    storeLe16(p + 44, h.payloadType);
    storeLe16(p + 46, h.reserved);
    storeLe32(p + 48, h.chunkLength);
    storeLe32(p + 52, h.chunkLayoutId);
}
inline GevImageHeader load(const uint8_t* p) {
    GevImageHeader h{};
    h.blockId = loadLe64(p + 0);
    h.timestamp = loadLe64(p + 8);
    h.pixelFormat = loadLe32(p + 16);
    h.sizeX = loadLe32(p + 20);
    h.sizeY = loadLe32(p + 24);
    h.offsetX = loadLe32(p + 28);
    h.offsetY = loadLe32(p + 32);
    h.paddingX = loadLe16(p + 36);
    h.paddingY = loadLe16(p + 38);
    h.missingPackets = loadLe32(p + 40);
    h.payloadType = loadLe16(p + 44);
    h.reserved = loadLe16(p + 46);
    h.chunkLength = loadLe32(p + 48);
    h.chunkLayoutId = loadLe32(p + 52);
    return h;
}
}  // namespace header

// Statistics: request and answer share one 32-byte layout.
namespace statistics {
inline constexpr size_t kSize = 32;
inline constexpr size_t kDeviceIndex = 0;
inline constexpr size_t kFramesReceived = 4;
inline constexpr size_t kFramesWithErrors = 8;
inline constexpr size_t kPacketErrors = 12;
inline constexpr size_t kIntervalCount = 16;
inline constexpr size_t kIntervalSumMs = 24;  // u64
}  // namespace statistics

}  // namespace kavro::filterdriver::layout
