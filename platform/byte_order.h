// Explicit big-endian loads and stores; wire formats are never read by casting structs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavro::platform {

inline uint16_t loadBe16(const uint8_t* p) {
    return static_cast<uint16_t>((static_cast<uint16_t>(p[0]) << 8) | p[1]);
}
inline uint32_t loadBe32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline uint64_t loadBe64(const uint8_t* p) {
    return (static_cast<uint64_t>(loadBe32(p)) << 32) | loadBe32(p + 4);
}
inline void storeBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void storeBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline void storeBe64(uint8_t* p, uint64_t v) {
    storeBe32(p, static_cast<uint32_t>(v >> 32));
    storeBe32(p + 4, static_cast<uint32_t>(v));
}

}  // namespace kavro::platform
