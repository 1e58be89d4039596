// Packet layouts of the camera's asynchronous messages (EVENT, EVENTDATA) and of ACTION.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "gvcp/wire.h"

namespace kavro::gvcp {

// Fixed part of an event before its data: 24 bytes, 32 with 64-bit block ids. An EVENT datagram
// carries one or more events of 16 (24) bytes each after the 8-byte header.
inline constexpr size_t kEventStandardSize = 24;
inline constexpr size_t kEventExtendedSize = 32;
// Largest message-channel datagram the host reads.
inline constexpr size_t kMaxEventDatagram = 576;

struct EventPacket {
    CommandHeader header;
    bool extended = false;
    uint16_t eventId = 0;
    uint16_t streamChannelRaw = 0;  // the two bytes as they stand in the packet
    uint64_t blockId = 0;
    uint64_t timestamp = 0;
    std::span<const uint8_t> data;  // EVENTDATA only: inside the datagram, bounded by it
};

// The events of an EVENT datagram (as many whole ones as its length field and the datagram
// hold) or the one event of an EVENTDATA datagram. Empty when the datagram is not one, or is
// shorter than one event.
std::vector<EventPacket> parseEvents(std::span<const uint8_t> datagram);

// EVENT_ACK / EVENTDATA_ACK for a command with `reqId`.
std::vector<uint8_t> buildEventAck(uint16_t command, uint16_t reqId);

// A further event of an EVENT datagram after the first.
struct EventRecord {
    uint16_t eventId = 0;
    uint16_t streamChannel = 0;
    uint64_t blockId = 0;
    uint64_t timestamp = 0;
};

// An event as a camera sends it (simulator, tests).
struct EventToSend {
    bool eventData = false;
    bool extended = false;
    bool ackRequired = true;
    uint16_t reqId = 0;
    uint16_t eventId = 0;
    uint16_t streamChannel = 0;
    uint64_t blockId = 0;
    uint64_t timestamp = 0;
    std::span<const uint8_t> data;  // EVENTDATA only; cut to what fits 576 bytes
    // EVENT only: the events sent in the same datagram after this one; cut to what fits.
    std::span<const EventRecord> following{};
};
std::vector<uint8_t> buildEvent(const EventToSend& event);

// ACTION: 20 bytes, or 28 with an action time (nanoseconds since 1970).
struct ActionCommand {
    uint16_t reqId = 0;
    uint32_t deviceKey = 0;
    uint32_t groupKey = 0;
    uint32_t groupMask = 0;
    std::optional<uint64_t> actionTimeNs;
};
std::vector<uint8_t> buildAction(const ActionCommand& action);
std::optional<ActionCommand> parseAction(std::span<const uint8_t> datagram);

}  // namespace kavro::gvcp
