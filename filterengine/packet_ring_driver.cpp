#include "filterengine/packet_ring_driver.h"

namespace kavro::filterengine {

std::unique_ptr<filterdriver::FilterDevice> openPacketRingDriver(const std::string&,
                                                                 uint32_t& error) {
    error = filterdriver::kErrorFileNotFound;
    return nullptr;
}

}  // namespace kavro::filterengine
