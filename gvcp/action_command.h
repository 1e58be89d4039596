// ACTION commands: one command, one wait for its acknowledge, never resent.
#pragma once

#include <cstdint>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"

namespace kavro::gvcp {

GevStatus sendActionCommand(frame::GevDevice& device, uint32_t deviceKey, uint32_t groupKey,
                            uint32_t groupMask, uint32_t delaySeconds);

}  // namespace kavro::gvcp
