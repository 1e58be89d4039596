#include "gvcp/action_command.h"

#include <array>
#include <chrono>
#include <cstdio>

#include "gvcp/wire_events.h"
#include "platform/clock.h"

namespace kavro::gvcp {

namespace {
// Acknowledges with other ids that one wait tolerates before giving up (a flood must not hold
// the call forever).
constexpr int kMaxDropped = 64;
}  // namespace

GevStatus sendActionCommand(frame::GevDevice& device, uint32_t deviceKey, uint32_t groupKey,
                            uint32_t groupMask, uint32_t delaySeconds) {
    if (device.connectionStatus == GEV_CONNECTION_FAILED)
        return GEV_STATUS_ACCESS_DENIED;

    ActionCommand action{device.takeRequestId(), deviceKey, groupKey, groupMask, std::nullopt};
    if (delaySeconds != 0) {
        action.actionTimeNs =
            static_cast<uint64_t>(platform::realtimeSeconds() + delaySeconds) * 1000000000ull;
    }
    const auto command = buildAction(action);

    // The action goes from a socket of its own on the host address: its acknowledge can then
    // never be taken by a register transaction running on the control socket meanwhile, and a
    // long scheduled wait does not hold up the heartbeat.
    platform::UniqueSocket sock = platform::createUdpSocket(device.hostAddress, 0);
    GevStatus result = GEV_STATUS_SOCKET_ERROR;
    if (sock.isValid()) {
        result = GEV_STATUS_SEND_ERROR;
        if (platform::sendTo(sock, command, device.deviceAddress, kPort)) {
            const auto wait = std::chrono::seconds(uint64_t{device.waitSeconds} + delaySeconds) +
                              std::chrono::microseconds(device.waitMicroseconds.load());
            result = GEV_STATUS_TIMEOUT;
            std::array<uint8_t, kHeaderSize> ack{};
            for (int dropped = 0; dropped <= kMaxDropped; ++dropped) {
                const auto ready = platform::waitReadable(sock, wait);
                if (ready == platform::WaitResult::TimedOut)
                    break;
                if (ready == platform::WaitResult::Failed) {
                    result = GEV_STATUS_WAIT_ERROR;
                    break;
                }
                const auto n = platform::receiveFrom(sock, ack);
                if (!n) {
                    result = GEV_STATUS_RECEIVE_ERROR;
                    break;
                }
                const auto header = parseAckHeader(std::span<const uint8_t>(ack.data(), *n));
                if (!header || header->ackId != action.reqId)
                    continue;
                result = header->status != 0             ? header->status
                         : header->ackCode != kActionAck ? GEV_STATUS_WRONG_ACKNOWLEDGE
                                                         : GEV_STATUS_SUCCESS;
                break;
            }
        }
    }
    std::printf("end...\n");
    std::fflush(stdout);
    return result;
}

}  // namespace kavro::gvcp
