// One GVCP request/acknowledge exchange on a control socket: send, wait with a deadline on the
// monotonic clock, match the acknowledge by id, retry. The caller holds the device's
// controlLock around it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>

#include "KavroGigEVisionLib.h"
#include "gvcp/wire.h"
#include "platform/socket.h"

namespace kavro::gvcp {

enum class RetryForm {
    // Register commands: a passed wait sends the command again; a stale acknowledge restarts
    // the wait of the same try.
    Register,
    // Memory commands: a try sends, waits for the socket to become readable and then for the
    // matching acknowledge; a try that ends with only other acknowledges (stale ones) seen
    // sends the command again.
    Memory,
};

struct TransactionTiming {
    uint32_t tries = 3;
    std::chrono::microseconds wait{200000};
};

struct Acknowledge {
    bool receivedAny = false;  // at least one datagram arrived, matching or not
    AckHeader header;
    std::array<uint8_t, kMaxDatagram> bytes{};
    size_t size = 0;
    // The payload the acknowledge carries, bounded by what arrived.
    std::span<const uint8_t> payload() const {
        return ackPayload(std::span<const uint8_t>(bytes.data(), size), header);
    }
};

struct Exchange {
    std::span<const uint8_t> command;
    uint16_t reqId = 0;
    uint16_t expectedAck = 0;
    size_t ackCapacity = 0;  // receive size: the size of the expected acknowledge
};

// Runs the exchange with the device at `deviceAddressNet`:3956. Returns 0, the device status of
// the matching acknowledge, or 0xC004/0xC005/0xC008/0xC009/0xC00A.
GevStatus runTransaction(const platform::UniqueSocket& socket, uint32_t deviceAddressNet,
                         const Exchange& exchange, RetryForm form, const TransactionTiming& timing,
                         Acknowledge& ack);

}  // namespace kavro::gvcp
