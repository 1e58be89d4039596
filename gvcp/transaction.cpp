#include "gvcp/transaction.h"

#include <algorithm>

namespace kavro::gvcp {

namespace {

// A camera (or anyone on the network) that keeps sending acknowledges with other ids would
// otherwise hold a transaction forever, since each one restarts the wait.
constexpr int kMaxDroppedPerWait = 64;

enum class Outcome { Matched, TimedOut, Failed };

// Waits for the acknowledge with `reqId`, dropping others. On a match `status` holds the
// verdict; on failure it holds the socket error.
Outcome awaitMatch(const platform::UniqueSocket& socket, const Exchange& exchange,
                   std::chrono::microseconds wait, Acknowledge& ack, GevStatus& status) {
    const size_t capacity = std::min(exchange.ackCapacity, ack.bytes.size());
    for (int dropped = 0; dropped <= kMaxDroppedPerWait; ++dropped) {
        switch (platform::waitReadable(socket, wait)) {
            case platform::WaitResult::TimedOut:
                return Outcome::TimedOut;
            case platform::WaitResult::Failed:
                status = GEV_STATUS_WAIT_ERROR;
                return Outcome::Failed;
            case platform::WaitResult::Ready:
                break;
        }
        const auto n = platform::receiveFrom(socket, std::span(ack.bytes.data(), capacity));
        if (!n) {
            status = GEV_STATUS_RECEIVE_ERROR;
            return Outcome::Failed;
        }
        ack.receivedAny = true;
        ack.size = *n;
        const auto header = parseAckHeader(std::span<const uint8_t>(ack.bytes.data(), ack.size));
        // Shorter than a header, or answering another command: not ours.
        if (!header || header->ackId != exchange.reqId)
            continue;
        ack.header = *header;
        if (header->status != 0) {
            status = header->status;
        } else if (header->ackCode != exchange.expectedAck) {
            status = GEV_STATUS_WRONG_ACKNOWLEDGE;
        } else {
            status = GEV_STATUS_SUCCESS;
        }
        return Outcome::Matched;
    }
    return Outcome::TimedOut;
}

}  // namespace

GevStatus runTransaction(const platform::UniqueSocket& socket, uint32_t deviceAddressNet,
                         const Exchange& exchange, RetryForm form, const TransactionTiming& timing,
                         Acknowledge& ack) {
    ack.receivedAny = false;
    ack.size = 0;
    // A try count of 0 still makes one try: nothing is reported as done that was not.
    const uint32_t tries = std::max<uint32_t>(timing.tries, 1);
    for (uint32_t attempt = 0; attempt < tries; ++attempt) {
        if (!platform::sendTo(socket, exchange.command, deviceAddressNet, kPort)) {
            return GEV_STATUS_SEND_ERROR;
        }
        if (form == RetryForm::Memory) {
            // Resend until the first datagram arrives; from then on only wait.
            switch (platform::waitReadable(socket, timing.wait)) {
                case platform::WaitResult::TimedOut:
                    continue;
                case platform::WaitResult::Failed:
                    return GEV_STATUS_WAIT_ERROR;
                case platform::WaitResult::Ready:
                    break;
            }
            GevStatus status = GEV_STATUS_TIMEOUT;
            // The socket is readable: the first wait returns at once. What arrived may be a
            // stale acknowledge of an earlier command; if the right one never follows, the
            // command was not answered and the next try sends it again.
            const Outcome outcome = awaitMatch(socket, exchange, timing.wait, ack, status);
            if (outcome != Outcome::TimedOut)
                return status;
            continue;
        }
        GevStatus status = GEV_STATUS_TIMEOUT;
        const Outcome outcome = awaitMatch(socket, exchange, timing.wait, ack, status);
        if (outcome != Outcome::TimedOut)
            return status;
    }
    return GEV_STATUS_TIMEOUT;
}

}  // namespace kavro::gvcp
