#include "frame/device.h"

namespace kavro::frame {

uint16_t GevDevice::takeRequestId() {
    uint32_t current = requestId.load();
    uint32_t next;
    do {
        next = current >= 65535 ? 1 : current + 1;
    } while (!requestId.compare_exchange_weak(current, next));
    return static_cast<uint16_t>(current);
}

void GevDevice::setTransactionTimeout(uint32_t timeoutMs) {
    transactionTimeoutMs = timeoutMs;
    waitSeconds = timeoutMs / 1000;
    waitMicroseconds = (timeoutMs % 1000) * 1000;
}

}  // namespace kavro::frame
