#include "sim/actions.h"

#include <algorithm>

#include "gvcp/bootstrap.h"
#include "sim/bootstrap_map.h"

namespace kavro::sim {

using namespace kavro::gvcp::reg;

uint32_t firedSignals(const DeviceMemory& memory, uint32_t signalCount,
                      const gvcp::ActionCommand& action) {
    if (action.deviceKey != memory.value(kActionDeviceKey))
        return 0;
    uint32_t fired = 0;
    for (uint32_t n = 0; n < std::min(signalCount, kMaxActionSignals); ++n) {
        const uint32_t offset = n * kActionSignalStride;
        if (action.groupKey == memory.value(kActionGroupKey0 + offset) &&
            (action.groupMask & memory.value(kActionGroupMask0 + offset)) != 0) {
            fired |= 1u << n;
        }
    }
    return fired;
}

}  // namespace kavro::sim
