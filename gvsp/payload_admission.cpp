#include "gvsp/payload_admission.h"

#include "frame/log.h"

namespace kavro::gvsp {

std::span<const uint8_t> admitPayload(frame::GevDevice& device, RingEntry& entry, uint32_t packetId,
                                      uint32_t slot, std::span<const uint8_t> data,
                                      bool multiPart) {
    const bool logErrors = (device.detailedLog.load() & GEV_LOG_STREAM_ERRORS) != 0;
    if (multiPart) {
        if (!entry.multiPart && logErrors) {
            frame::gevLogf(device,
                           "[ERROR] - [BlockID %lld] Multi-part block (packet format 7) is not "
                           "supported: handed over without data, status 0x%04X",
                           static_cast<long long>(entry.blockId), GEV_STATUS_NOT_SUPPORTED);
        }
        entry.multiPart = true;
        return {};
    }
    if (data.size() > slot) {
        if (!entry.overlong && logErrors) {
            frame::gevLogf(device,
                           "[ERROR] - [BlockID %lld] Packet %u carries %zu bytes, its place %u: "
                           "block incomplete",
                           static_cast<long long>(entry.blockId), packetId, data.size(), slot);
        }
        entry.overlong = true;
    }
    return data;
}

}  // namespace kavro::gvsp
