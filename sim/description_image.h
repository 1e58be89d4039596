// The device description a simulated camera carries: built into the simulator at build time,
// served plain or as a zip archive from a read-only region of the camera's memory.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/camera_config.h"

namespace kavro::sim {

// Where the description region starts (above the user memory and the feature registers).
inline constexpr uint32_t kDescriptionAddress = 0x00800000;
// File name of the description inside the archive and in the URL.
inline constexpr std::string_view kDescriptionName = "KavroSimCamera.xml";
inline constexpr std::string_view kZippedDescriptionName = "KavroSimCamera.zip";

// The description XML compiled into the simulator.
std::span<const uint8_t> builtInDescription();

// A zip archive (deflated) holding `content` as its only entry `entryName`; empty on failure.
std::vector<uint8_t> makeZipArchive(std::string_view entryName, std::span<const uint8_t> content);

// What a camera with `config` carries in its description region, and the First URL that
// points at it (config.firstUrl when set).
struct DescriptionImage {
    std::vector<uint8_t> bytes;
    std::string firstUrl;
};
DescriptionImage describeCamera(const CameraConfig& config);

}  // namespace kavro::sim
