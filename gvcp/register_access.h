// Register and memory access on a device's control channel. These are what the exported calls
// run after the open check; the library's own threads and later subsystems call them directly.
#pragma once

#include <cstdint>
#include <span>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"

namespace kavro::gvcp {

// Reads values.size() (1..135) consecutive registers from `address`, host byte order.
GevStatus readRegisters(frame::GevDevice& device, uint32_t address, std::span<uint32_t> values);
GevStatus readRegister(frame::GevDevice& device, uint32_t address, uint32_t& value);
// Writes values.size() (1..67) consecutive registers; nothing is sent without control.
GevStatus writeRegisters(frame::GevDevice& device, uint32_t address,
                         std::span<const uint32_t> values);
GevStatus writeRegister(frame::GevDevice& device, uint32_t address, uint32_t value);

// Reads `length` bytes from `address` in chunks of at most 536 bytes. The device is asked for
// whole aligned words; the caller gets exactly the bytes from `address` on.
GevStatus readMemory(frame::GevDevice& device, uint32_t address, uint32_t length, uint8_t* data);
// Writes `length` bytes at `address`. Bytes of a partly written first or last word are read
// first and written back unchanged, so nothing outside the caller's range changes.
GevStatus writeMemory(frame::GevDevice& device, uint32_t address, uint32_t length,
                      const uint8_t* data);

}  // namespace kavro::gvcp
