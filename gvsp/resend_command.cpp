#include "gvsp/resend_command.h"

#include "platform/byte_cursor.h"

namespace kavro::gvsp {

size_t buildResend(const ResendRequest& request, std::span<uint8_t, kResendMaxSize> out) {
    platform::ByteWriter w(out);
    w.u8(0x42);
    w.u8(request.extended ? kResendExtendedFlag : 0);
    w.u16(kPacketResendCommand);
    w.u16(request.extended ? 20 : 12);
    w.u16(request.reqId);
    w.u16(request.channel);
    w.u16(request.extended ? 0 : static_cast<uint16_t>(request.blockId));
    w.u32(request.firstPacket);
    w.u32(request.lastPacket);
    if (request.extended)
        w.u64(request.blockId);
    return w.position();
}

std::optional<ResendRequest> parseResendPayload(uint8_t flags, uint16_t reqId,
                                                std::span<const uint8_t> payload) {
    ResendRequest r;
    r.reqId = reqId;
    r.extended = (flags & kResendExtendedFlag) != 0;
    if (payload.size() != (r.extended ? 20u : 12u))
        return std::nullopt;
    platform::ByteReader in(payload);
    r.channel = in.u16();
    r.blockId = in.u16();
    r.firstPacket = in.u32();
    r.lastPacket = in.u32();
    if (r.extended)
        r.blockId = in.u64();
    return r;
}

}  // namespace kavro::gvsp
