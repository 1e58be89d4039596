#include "gvcp/wire_events.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_cursor.h"

namespace kavro::gvcp {

using platform::ByteReader;
using platform::ByteWriter;

std::optional<EventPacket> parseEvent(std::span<const uint8_t> datagram) {
    const auto header = parseCommandHeader(datagram);
    if (!header || (header->command != kEventCmd && header->command != kEventDataCmd)) {
        return std::nullopt;
    }
    EventPacket event;
    event.header = *header;
    event.extended = (header->flags & kFlagExtendedIds) != 0;
    const size_t fixed = event.extended ? kEventExtendedSize : kEventStandardSize;
    if (datagram.size() < fixed)
        return std::nullopt;

    ByteReader r(datagram);
    r.seek(10);
    event.eventId = r.u16();
    std::memcpy(&event.streamChannelRaw, &datagram[12], 2);
    r.skip(2);
    if (event.extended) {
        r.skip(2);
        event.blockId = r.u64();
        event.timestamp = r.u64();
    } else {
        event.blockId = r.u16();
        event.timestamp = r.u64();
    }
    if (header->command == kEventDataCmd) {
        // The length field counts the 16 (24) bytes after the header that precede the data.
        const size_t declared =
            header->length > fixed - kHeaderSize ? header->length - (fixed - kHeaderSize) : 0;
        event.data = datagram.subspan(fixed, std::min(declared, datagram.size() - fixed));
    }
    return event;
}

std::vector<uint8_t> buildEventAck(uint16_t command, uint16_t reqId) {
    return buildAck(0, static_cast<uint16_t>(command + 1), reqId);
}

std::vector<uint8_t> buildEvent(const EventToSend& event) {
    const size_t fixed = event.extended ? kEventExtendedSize : kEventStandardSize;
    const auto data = event.eventData
                          ? event.data.first(std::min(event.data.size(), kMaxEventDatagram - fixed))
                          : std::span<const uint8_t>{};
    std::vector<uint8_t> out(fixed + data.size());
    ByteWriter w(out);
    w.u8(kKey);
    w.u8(static_cast<uint8_t>((event.ackRequired ? kFlagAckRequired : 0) |
                              (event.extended ? kFlagExtendedIds : 0)));
    w.u16(event.eventData ? kEventDataCmd : kEventCmd);
    w.u16(static_cast<uint16_t>(out.size() - kHeaderSize));
    w.u16(event.reqId);
    w.u16(0);  // reserved
    w.u16(event.eventId);
    w.u16(event.streamChannel);
    if (event.extended) {
        w.u16(0);
        w.u64(event.blockId);
        w.u64(event.timestamp);
    } else {
        w.u16(static_cast<uint16_t>(event.blockId));
        w.u64(event.timestamp);
    }
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
