#include "gvcp/wire_events.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_cursor.h"

namespace kavro::gvcp {

using platform::ByteReader;
using platform::ByteWriter;

namespace {
// The event at `offset`: 16 bytes, 24 with 64-bit ids; the caller checked that they arrived.
EventPacket readEvent(std::span<const uint8_t> datagram, size_t offset, const CommandHeader& header,
                      bool extended) {
    EventPacket event;
    event.header = header;
    event.extended = extended;
    ByteReader r(datagram);
    r.seek(offset + 2);  // reserved
    event.eventId = r.u16();
    std::memcpy(&event.streamChannelRaw, &datagram[offset + 4], 2);
    r.skip(2);
    if (extended) {
        r.skip(2);
        event.blockId = r.u64();
    } else {
        event.blockId = r.u16();
    }
    event.timestamp = r.u64();
    return event;
}
}  // namespace

std::vector<EventPacket> parseEvents(std::span<const uint8_t> datagram) {
    std::vector<EventPacket> events;
    const auto header = parseCommandHeader(datagram);
    if (!header || (header->command != kEventCmd && header->command != kEventDataCmd)) {
        return events;
    }
    const bool extended = (header->flags & kFlagExtendedIds) != 0;
    const size_t fixed = extended ? kEventExtendedSize : kEventStandardSize;
    const size_t eventSize = fixed - kHeaderSize;
    if (datagram.size() < fixed)
        return events;

    if (header->command == kEventDataCmd) {
        EventPacket event = readEvent(datagram, kHeaderSize, *header, extended);
        // The length field counts the 16 (24) bytes after the header that precede the data.
        const size_t declared = header->length > eventSize ? header->length - eventSize : 0;
        event.data = datagram.subspan(fixed, std::min(declared, datagram.size() - fixed));
        events.push_back(event);
        return events;
    }
    // Every whole event the length field declares and the datagram holds; at least the first.
    const size_t body = std::min<size_t>(header->length, datagram.size() - kHeaderSize);
    const size_t count = std::max<size_t>(body / eventSize, 1);
    events.reserve(count);
    for (size_t i = 0; i < count; ++i)
        events.push_back(readEvent(datagram, kHeaderSize + i * eventSize, *header, extended));
    return events;
}

std::vector<uint8_t> buildEventAck(uint16_t command, uint16_t reqId) {
    return buildAck(0, static_cast<uint16_t>(command + 1), reqId);
}

std::vector<uint8_t> buildEvent(const EventToSend& event) {
    const size_t fixed = event.extended ? kEventExtendedSize : kEventStandardSize;
    const size_t eventSize = fixed - kHeaderSize;
    const auto data = event.eventData
                          ? event.data.first(std::min(event.data.size(), kMaxEventDatagram - fixed))
                          : std::span<const uint8_t>{};
    const auto following =
        event.eventData ? std::span<const EventRecord>{}
                        : event.following.first(std::min(event.following.size(),
                                                         (kMaxEventDatagram - fixed) / eventSize));
    std::vector<uint8_t> out(fixed + data.size() + following.size() * eventSize);
    ByteWriter w(out);
    w.u8(kKey);
    w.u8(static_cast<uint8_t>((event.ackRequired ? kFlagAckRequired : 0) |
                              (event.extended ? kFlagExtendedIds : 0)));
    w.u16(event.eventData ? kEventDataCmd : kEventCmd);
    w.u16(static_cast<uint16_t>(out.size() - kHeaderSize));
    w.u16(event.reqId);
    const auto writeEvent = [&](const EventRecord& e) {
        w.u16(0);  // reserved
        w.u16(e.eventId);
        w.u16(e.streamChannel);
        if (event.extended) {
            w.u16(0);
            w.u64(e.blockId);
        } else {
            w.u16(static_cast<uint16_t>(e.blockId));
        }
        w.u64(e.timestamp);
    };
    writeEvent({event.eventId, event.streamChannel, event.blockId, event.timestamp});
    for (const EventRecord& e : following)
        writeEvent(e);
    w.bytes(data);
    return out;
}

std::vector<uint8_t> buildAction(const ActionCommand& action) {
    const bool scheduled = action.actionTimeNs.has_value();
    std::vector<uint8_t> out(kHeaderSize + (scheduled ? 20 : 12));
    ByteWriter w(out);
    w.u8(kKey);
    w.u8(static_cast<uint8_t>(kFlagAckRequired | (scheduled ? kFlagScheduledAction : 0)));
    w.u16(kActionCmd);
    w.u16(static_cast<uint16_t>(out.size() - kHeaderSize));
    w.u16(action.reqId);
    w.u32(action.deviceKey);
    w.u32(action.groupKey);
    w.u32(action.groupMask);
    if (scheduled)
        w.u64(*action.actionTimeNs);
    return out;
}

std::optional<ActionCommand> parseAction(std::span<const uint8_t> datagram) {
    const auto header = parseCommandHeader(datagram);
    if (!header || header->command != kActionCmd)
        return std::nullopt;
    const bool scheduled = (header->flags & kFlagScheduledAction) != 0;
    const auto payload = commandPayload(datagram, *header);
    if (payload.size() < (scheduled ? 20u : 12u))
        return std::nullopt;
    ByteReader r(payload);
    ActionCommand action;
    action.reqId = header->reqId;
    action.deviceKey = r.u32();
    action.groupKey = r.u32();
    action.groupMask = r.u32();
    if (scheduled)
        action.actionTimeNs = r.u64();
    return action;
}

}  // namespace kavro::gvcp
