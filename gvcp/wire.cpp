#include "gvcp/wire.h"

#include <algorithm>

#include "platform/byte_cursor.h"

namespace kavro::gvcp {

using platform::ByteReader;
using platform::ByteWriter;

void writeCommandHeader(std::span<uint8_t, kHeaderSize> out, const CommandHeader& header) {
    ByteWriter w(out);
    w.u8(kKey);
    w.u8(header.flags);
    w.u16(header.command);
    w.u16(header.length);
    w.u16(header.reqId);
}

std::optional<CommandHeader> parseCommandHeader(std::span<const uint8_t> datagram) {
    ByteReader r(datagram);
    CommandHeader h;
    const uint8_t key = r.u8();
    h.flags = r.u8();
    h.command = r.u16();
    h.length = r.u16();
    h.reqId = r.u16();
    if (r.overflow() || key != kKey) return std::nullopt;
    return h;
}

void writeAckHeader(std::span<uint8_t, kHeaderSize> out, const AckHeader& header) {
    ByteWriter w(out);
    w.u16(header.status);
    w.u16(header.ackCode);
    w.u16(header.length);
    w.u16(header.ackId);
}

std::optional<AckHeader> parseAckHeader(std::span<const uint8_t> datagram) {
    ByteReader r(datagram);
    AckHeader h;
    h.status = r.u16();
    h.ackCode = r.u16();
    h.length = r.u16();
    h.ackId = r.u16();
    if (r.overflow()) return std::nullopt;
    return h;
}

namespace {
std::span<const uint8_t> boundedPayload(std::span<const uint8_t> datagram, uint16_t length) {
    if (datagram.size() <= kHeaderSize) return {};
    const size_t available = datagram.size() - kHeaderSize;
    return datagram.subspan(kHeaderSize, std::min<size_t>(length, available));
}

std::vector<uint8_t> startCommand(uint16_t command, uint16_t reqId, size_t payloadSize) {
    std::vector<uint8_t> out(kHeaderSize + payloadSize);
    writeCommandHeader(std::span<uint8_t, kHeaderSize>(out.data(), kHeaderSize),
                       {kFlagAckRequired, command, static_cast<uint16_t>(payloadSize), reqId});
    return out;
}
}  // namespace

std::span<const uint8_t> ackPayload(std::span<const uint8_t> datagram, const AckHeader& header) {
    return boundedPayload(datagram, header.length);
}

std::span<const uint8_t> commandPayload(std::span<const uint8_t> datagram,
                                        const CommandHeader& header) {
    return boundedPayload(datagram, header.length);
}

std::vector<uint8_t> buildReadReg(uint16_t reqId, uint32_t address, size_t count) {
    count = std::min(count, kMaxReadRegisters);
    auto out = startCommand(kReadRegCmd, reqId, 4 * count);
    ByteWriter w(std::span(out).subspan(kHeaderSize));
    for (size_t i = 0; i < count; ++i) w.u32(address + static_cast<uint32_t>(4 * i));
    return out;
}

std::vector<uint8_t> buildWriteReg(uint16_t reqId, uint32_t address,
                                   std::span<const uint32_t> values) {
    values = values.first(std::min(values.size(), kMaxWriteRegisters));
    auto out = startCommand(kWriteRegCmd, reqId, 8 * values.size());
    ByteWriter w(std::span(out).subspan(kHeaderSize));
    for (size_t i = 0; i < values.size(); ++i) {
        w.u32(address + static_cast<uint32_t>(4 * i));
        w.u32(values[i]);
    }
    return out;
}

std::vector<uint8_t> buildReadMem(uint16_t reqId, uint32_t address, uint16_t count) {
    auto out = startCommand(kReadMemCmd, reqId, 8);
    ByteWriter w(std::span(out).subspan(kHeaderSize));
    w.u32(address);
    w.u16(0);
    w.u16(count);
    return out;
}

std::vector<uint8_t> buildWriteMem(uint16_t reqId, uint32_t address, std::span<const uint8_t> data,
                                   uint32_t paddedCount) {
    paddedCount = std::min(std::max<uint32_t>(paddedCount, static_cast<uint32_t>(data.size())),
                           kMaxMemoryChunk);
    data = data.first(std::min<size_t>(data.size(), paddedCount));
    auto out = startCommand(kWriteMemCmd, reqId, 4 + paddedCount);
    ByteWriter w(std::span(out).subspan(kHeaderSize));
    w.u32(address);
    w.bytes(data);
    w.zeros(paddedCount - data.size());
    return out;
}

std::vector<uint8_t> buildAck(uint16_t status, uint16_t ackCode, uint16_t ackId,
                              std::span<const uint8_t> payload) {
    std::vector<uint8_t> out(kHeaderSize + payload.size());
    writeAckHeader(std::span<uint8_t, kHeaderSize>(out.data(), kHeaderSize),
                   {status, ackCode, static_cast<uint16_t>(payload.size()), ackId});
    std::copy(payload.begin(), payload.end(), out.begin() + kHeaderSize);
    return out;
}

}  // namespace kavro::gvcp
