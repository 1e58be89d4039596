#include "gvcp/wire.h"

#include <algorithm>
#include <array>

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
    if (r.overflow() || key != kKey)
        return std::nullopt;
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
    if (r.overflow())
        return std::nullopt;
    return h;
}

namespace {
std::span<const uint8_t> boundedPayload(std::span<const uint8_t> datagram, uint16_t length) {
    if (datagram.size() <= kHeaderSize)
        return {};
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
    ByteWriter w{std::span(out).subspan(kHeaderSize)};
    for (size_t i = 0; i < count; ++i)
        w.u32(address + static_cast<uint32_t>(4 * i));
    return out;
}

std::vector<uint8_t> buildWriteReg(uint16_t reqId, uint32_t address,
                                   std::span<const uint32_t> values) {
    values = values.first(std::min(values.size(), kMaxWriteRegisters));
    auto out = startCommand(kWriteRegCmd, reqId, 8 * values.size());
    ByteWriter w{std::span(out).subspan(kHeaderSize)};
    for (size_t i = 0; i < values.size(); ++i) {
        w.u32(address + static_cast<uint32_t>(4 * i));
        w.u32(values[i]);
    }
    return out;
}

std::vector<uint8_t> buildReadMem(uint16_t reqId, uint32_t address, uint16_t count) {
    auto out = startCommand(kReadMemCmd, reqId, 8);
    ByteWriter w{std::span(out).subspan(kHeaderSize)};
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
    ByteWriter w{std::span(out).subspan(kHeaderSize)};
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

std::optional<std::vector<uint32_t>> parseReadRegPayload(std::span<const uint8_t> payload) {
    if (payload.empty() || payload.size() % 4 != 0 || payload.size() / 4 > kMaxReadRegisters) {
        return std::nullopt;
    }
    ByteReader r(payload);
    std::vector<uint32_t> addresses(payload.size() / 4);
    for (auto& address : addresses)
        address = r.u32();
    return addresses;
}

std::optional<std::vector<RegisterWrite>> parseWriteRegPayload(std::span<const uint8_t> payload) {
    if (payload.empty() || payload.size() % 8 != 0 || payload.size() / 8 > kMaxWriteRegisters) {
        return std::nullopt;
    }
    ByteReader r(payload);
    std::vector<RegisterWrite> writes(payload.size() / 8);
    for (auto& write : writes) {
        write.address = r.u32();
        write.value = r.u32();
    }
    return writes;
}

std::optional<ReadMemRequest> parseReadMemPayload(std::span<const uint8_t> payload) {
    if (payload.size() != 8)
        return std::nullopt;
    ByteReader r(payload);
    ReadMemRequest request;
    request.address = r.u32();
    r.skip(2);  // reserved
    request.count = r.u16();
    return request;
}

std::optional<WriteMemRequest> parseWriteMemPayload(std::span<const uint8_t> payload) {
    if (payload.size() < 4 || payload.size() - 4 > kMaxMemoryChunk)
        return std::nullopt;
    ByteReader r(payload);
    WriteMemRequest request;
    request.address = r.u32();
    request.data = r.bytes(r.remaining());
    return request;
}

std::vector<uint8_t> buildReadRegAck(uint16_t status, uint16_t ackId,
                                     std::span<const uint32_t> values) {
    values = values.first(std::min(values.size(), kMaxReadRegisters));
    std::vector<uint8_t> payload(4 * values.size());
    ByteWriter w(payload);
    for (const uint32_t value : values)
        w.u32(value);
    return buildAck(status, kReadRegAck, ackId, payload);
}

namespace {
std::vector<uint8_t> buildIndexAck(uint16_t status, uint16_t ackCode, uint16_t ackId,
                                   uint16_t index) {
    std::array<uint8_t, 4> payload{};
    ByteWriter w(payload);
    w.u16(0);  // reserved
    w.u16(index);
    return buildAck(status, ackCode, ackId, payload);
}
}  // namespace

std::vector<uint8_t> buildWriteRegAck(uint16_t status, uint16_t ackId, uint16_t index) {
    return buildIndexAck(status, kWriteRegAck, ackId, index);
}

std::vector<uint8_t> buildWriteMemAck(uint16_t status, uint16_t ackId, uint16_t index) {
    return buildIndexAck(status, kWriteMemAck, ackId, index);
}

std::vector<uint8_t> buildReadMemAck(uint16_t status, uint16_t ackId, uint32_t address,
                                     std::span<const uint8_t> data) {
    data = data.first(std::min<size_t>(data.size(), kMaxMemoryChunk));
    std::vector<uint8_t> payload(4 + data.size());
    ByteWriter w(payload);
    w.u32(address);
    w.bytes(data);
    return buildAck(status, kReadMemAck, ackId, payload);
}

}  // namespace kavro::gvcp
