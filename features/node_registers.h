// Register values of integer and float nodes on the device: a word of four bytes, two words of
// eight bytes (high word at the address, then the low word, as two requests), and the bytes of
// other lengths up to eight through memory access, most significant byte first.
#pragma once

#include <cstdint>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"

namespace kavro::features::detail {

// Register lengths a node may have; anything else is refused with GEV_STATUS_NOT_SUPPORTED.
[[nodiscard]] inline bool supportedRegisterLength(uint32_t length) {
    return length >= 1 && length <= 8;
}

// Reads the register value of `length` bytes at `address` as (high << 32) | low.
[[nodiscard]] GevStatus fetchRegisterValue(frame::GevDevice& device, uint32_t address,
                                           uint32_t length, uint64_t& value);
// Writes the low `length` bytes of `value`; for eight bytes the high word goes out first.
[[nodiscard]] GevStatus storeRegisterValue(frame::GevDevice& device, uint32_t address,
                                           uint32_t length, uint64_t value);

}  // namespace kavro::features::detail
