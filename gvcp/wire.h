// GVCP packet layouts: the one place where command and acknowledge bytes are read and written.
// Offsets are from the start of the UDP payload; every field is big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kavro::gvcp {

inline constexpr uint16_t kPort = 3956;
inline constexpr uint8_t kKey = 0x42;
inline constexpr size_t kHeaderSize = 8;

// Command flags.
inline constexpr uint8_t kFlagAckRequired = 0x01;
inline constexpr uint8_t kFlagBroadcastAck = 0x10;     // DISCOVERY: answer by broadcast
inline constexpr uint8_t kFlagExtendedIds = 0x10;      // EVENT, EVENTDATA: 64-bit block ids
inline constexpr uint8_t kFlagScheduledAction = 0x80;  // ACTION: carries an action time

enum Command : uint16_t {
    kDiscoveryCmd = 0x0002,
    kDiscoveryAck = 0x0003,
    kForceIpCmd = 0x0004,
    kForceIpAck = 0x0005,
    kPacketResendCmd = 0x0040,
    kReadRegCmd = 0x0080,
    kReadRegAck = 0x0081,
    kWriteRegCmd = 0x0082,
    kWriteRegAck = 0x0083,
    kReadMemCmd = 0x0084,
    kReadMemAck = 0x0085,
    kWriteMemCmd = 0x0086,
    kWriteMemAck = 0x0087,
    kPendingAck = 0x0089,
    kEventCmd = 0x00C0,
    kEventAck = 0x00C1,
    kEventDataCmd = 0x00C2,
    kEventDataAck = 0x00C3,
    kActionCmd = 0x0100,
    kActionAck = 0x0101,
};

// GigE Vision device status codes that the simulator and the tests use by name.
enum DeviceStatus : uint16_t {
    kStatusSuccess = 0x0000,
    kStatusPacketResend = 0x0100,
    kStatusNotImplemented = 0x8001,
    kStatusInvalidParameter = 0x8002,
    kStatusInvalidAddress = 0x8003,
    kStatusWriteProtect = 0x8004,
    kStatusBadAlignment = 0x8005,
    kStatusAccessDenied = 0x8006,
    kStatusBusy = 0x8007,
    kStatusPacketUnavailable = 0x800C,
    kStatusError = 0x8FFF,
};

// Memory commands move at most this many data bytes: with the 12-byte READMEM_ACK/WRITEMEM
// prefix and the UDP and IPv4 headers the datagram fits 576 bytes.
inline constexpr uint32_t kMaxMemoryChunk = 536;
// Register commands carry at most 540 payload bytes.
inline constexpr size_t kMaxReadRegisters = 135;
inline constexpr size_t kMaxWriteRegisters = 67;
// Largest GVCP datagram either side builds or reads: header plus 540 payload bytes.
inline constexpr size_t kMaxDatagram = kHeaderSize + 540;

struct CommandHeader {
    uint8_t flags = 0;
    uint16_t command = 0;
    uint16_t length = 0;  // payload bytes after the header
    uint16_t reqId = 0;
};

struct AckHeader {
    uint16_t status = 0;
    uint16_t ackCode = 0;
    uint16_t length = 0;  // payload bytes after the header
    uint16_t ackId = 0;
};

// Headers. Parsing fails (nullopt) when the datagram is shorter than 8 bytes; a command also
// needs the 0x42 key.
void writeCommandHeader(std::span<uint8_t, kHeaderSize> out, const CommandHeader& header);
std::optional<CommandHeader> parseCommandHeader(std::span<const uint8_t> datagram);
void writeAckHeader(std::span<uint8_t, kHeaderSize> out, const AckHeader& header);
std::optional<AckHeader> parseAckHeader(std::span<const uint8_t> datagram);

// The payload an acknowledge really carries: its length field, bounded by the bytes received.
std::span<const uint8_t> ackPayload(std::span<const uint8_t> datagram, const AckHeader& header);
// The payload a command really carries, bounded the same way.
std::span<const uint8_t> commandPayload(std::span<const uint8_t> datagram,
                                        const CommandHeader& header);

// Command builders return the whole datagram. Counts beyond the limits above are the caller's
// error and are clamped to them.
std::vector<uint8_t> buildReadReg(uint16_t reqId, uint32_t address, size_t count);
std::vector<uint8_t> buildWriteReg(uint16_t reqId, uint32_t address,
                                   std::span<const uint32_t> values);
std::vector<uint8_t> buildReadMem(uint16_t reqId, uint32_t address, uint16_t count);
// `data` is copied and followed by zero bytes up to `paddedCount`.
std::vector<uint8_t> buildWriteMem(uint16_t reqId, uint32_t address, std::span<const uint8_t> data,
                                   uint32_t paddedCount);

// An acknowledge with the given header fields and payload (length = payload size).
std::vector<uint8_t> buildAck(uint16_t status, uint16_t ackCode, uint16_t ackId,
                              std::span<const uint8_t> payload = {});

// Command payloads as a device reads them (the span from commandPayload). Each returns nullopt
// when the payload has the wrong shape: READREG 1..135 addresses, WRITEREG 1..67 address/value
// pairs, READMEM exactly address + reserved + count, WRITEMEM an address and at most 536 bytes.
struct RegisterWrite {
    uint32_t address = 0;
    uint32_t value = 0;
};
struct ReadMemRequest {
    uint32_t address = 0;
    uint16_t count = 0;
};
struct WriteMemRequest {
    uint32_t address = 0;
    std::span<const uint8_t> data;  // a view into the payload
};
std::optional<std::vector<uint32_t>> parseReadRegPayload(std::span<const uint8_t> payload);
std::optional<std::vector<RegisterWrite>> parseWriteRegPayload(std::span<const uint8_t> payload);
std::optional<ReadMemRequest> parseReadMemPayload(std::span<const uint8_t> payload);
std::optional<WriteMemRequest> parseWriteMemPayload(std::span<const uint8_t> payload);

// Acknowledges as a device builds them. Counts beyond the limits above are clamped.
std::vector<uint8_t> buildReadRegAck(uint16_t status, uint16_t ackId,
                                     std::span<const uint32_t> values);
// `index`: registers (WRITEREG) or bytes (WRITEMEM) written before the command stopped.
std::vector<uint8_t> buildWriteRegAck(uint16_t status, uint16_t ackId, uint16_t index);
std::vector<uint8_t> buildWriteMemAck(uint16_t status, uint16_t ackId, uint16_t index);
// The address, then `data` (empty in an error answer).
std::vector<uint8_t> buildReadMemAck(uint16_t status, uint16_t ackId, uint32_t address,
                                     std::span<const uint8_t> data);

// Expected acknowledge sizes, used as the receive size of each transaction.
inline constexpr size_t readRegAckSize(size_t count) {
    return kHeaderSize + 4 * count;
}
inline constexpr size_t kWriteRegAckSize = kHeaderSize + 4;
inline constexpr size_t readMemAckSize(size_t count) {
    return kHeaderSize + 4 + count;
}
inline constexpr size_t kWriteMemAckSize = kHeaderSize + 4;

}  // namespace kavro::gvcp
