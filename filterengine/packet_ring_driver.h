// The library's own filter driver on Linux: an in-process engine that takes a camera's stream
// off the adapter through a packet ring and assembles its images, behind the filter device
// interface.
#pragma once

#include <memory>
#include <string>

#include "filterdriver/filter_device.h"

namespace kavro::filterengine {

// Opens the engine under one of the driver's names; any other name fails with "not found".
std::unique_ptr<filterdriver::FilterDevice> openPacketRingDriver(const std::string& name,
                                                                 uint32_t& error);

}  // namespace kavro::filterengine
