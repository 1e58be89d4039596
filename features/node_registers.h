// Register values of integer and float nodes on the device: a word of four bytes, two words of
// eight bytes (high word at the address, then the low word, as two requests), and the bytes of
// other lengths up to eight through memory access, most significant byte first.
#pragma once

#include <cstdint>
#include <span>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"
#include "genicam/feature_model.h"

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

// The same through the port the node names in pPort: device registers for "Device"; for a chunk
// port (a Port with a ChunkID) the bytes at `address` within that chunk of the last image's
// chunk data, read-only, in the node's byte order. A chunk missing from the last image, or bytes
// beyond its end, give GEV_STATUS_INVALID_ADDRESS; a write to a chunk
// GEV_STATUS_ACCESS_DENIED; any other port GEV_STATUS_NOT_SUPPORTED. Each failure is logged.
[[nodiscard]] GevStatus fetchPortValue(frame::GevDevice& device, const genicam::FeatureModel& model,
                                       const genicam::FeatureNode& node, uint32_t address,
                                       uint32_t length, uint64_t& value);
[[nodiscard]] GevStatus storePortValue(frame::GevDevice& device, const genicam::FeatureModel& model,
                                       const genicam::FeatureNode& node, uint32_t address,
                                       uint32_t length, uint64_t value);
// The bytes of a string or register node through its port, as they are stored.
[[nodiscard]] GevStatus fetchPortBytes(frame::GevDevice& device, const genicam::FeatureModel& model,
                                       const genicam::FeatureNode& node, uint32_t address,
                                       std::span<uint8_t> out);
[[nodiscard]] GevStatus storePortBytes(frame::GevDevice& device, const genicam::FeatureModel& model,
                                       const genicam::FeatureNode& node, uint32_t address,
                                       std::span<const uint8_t> bytes);
// Whether the node's value lives behind a port (pPort given) rather than in the node.
[[nodiscard]] inline bool isPortNode(const genicam::FeatureNode& node) {
    return node.portIsDevice != 0 || !node.pPort.empty();
}

}  // namespace kavro::features::detail
