#include "gvcp/register_access.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "frame/log.h"
#include "gvcp/bootstrap.h"
#include "gvcp/transaction.h"
#include "gvcp/wire.h"
#include "platform/byte_order.h"

namespace kavro::gvcp {

using frame::GevDevice;
using frame::gevLog;
using frame::gevLogf;

namespace {

TransactionTiming timingOf(const GevDevice& device) {
    return {device.retryCount.load(),
            std::chrono::microseconds(uint64_t{device.waitSeconds.load()} * 1000000 +
                                      device.waitMicroseconds.load())};
}

// Progress after chunk `k` of `n`: ceil(k * (100 / n)) in single precision, as applications
// have always seen it (0 first, never 100).
void reportProgress(const GevDevice& device, uint32_t k, uint32_t n) {
    if (GevProgressCallback cb = device.progressCallback.load()) {
        const float step = 100.0f / static_cast<float>(n);
        cb(device.deviceIndex, static_cast<int32_t>(std::ceil(static_cast<float>(k) * step)));
    }
}

// The words to move for `length` bytes at `address`: from the aligned address below it up to
// the next multiple of 4 past its end.
struct AlignedRange {
    uint32_t start = 0;   // aligned device address
    uint32_t skip = 0;    // bytes before the caller's first byte
    uint64_t total = 0;   // whole words, in bytes
    uint32_t chunks = 0;  // of at most kMaxMemoryChunk bytes
};

AlignedRange alignRange(uint32_t address, uint32_t length) {
    AlignedRange r;
    r.start = address & ~3u;
    r.skip = address - r.start;
    r.total = (uint64_t{length} + r.skip + 3) & ~uint64_t{3};
    r.chunks = static_cast<uint32_t>((r.total + kMaxMemoryChunk - 1) / kMaxMemoryChunk);
    return r;
}

// One READMEM exchange of `count` bytes (a multiple of 4, at most 536) into `out`.
GevStatus readMemoryChunk(GevDevice& device, uint32_t address, uint16_t count, uint8_t* out) {
    const uint16_t reqId = device.takeRequestId();
    const auto command = buildReadMem(reqId, address, count);
    Acknowledge ack;
    GevStatus status = runTransaction(device.controlSocket, device.deviceAddress,
                                      {command, reqId, kReadMemAck, readMemAckSize(count)},
                                      RetryForm::Memory, timingOf(device), ack);
    if (status != GEV_STATUS_SUCCESS)
        return status;
    const auto payload = ack.payload();
    // The address echo and every byte asked for must be there; a short answer is not data.
    if (payload.size() < 4u + count)
        return GEV_STATUS_WRONG_ACKNOWLEDGE;
    std::memcpy(out, payload.data() + 4, count);
    return GEV_STATUS_SUCCESS;
}

GevStatus writeMemoryChunk(GevDevice& device, uint32_t address, std::span<const uint8_t> bytes) {
    const uint16_t reqId = device.takeRequestId();
    const auto command = buildWriteMem(reqId, address, bytes, static_cast<uint32_t>(bytes.size()));
    Acknowledge ack;
    return runTransaction(device.controlSocket, device.deviceAddress,
                          {command, reqId, kWriteMemAck, kWriteMemAckSize}, RetryForm::Memory,
                          timingOf(device), ack);
}

}  // namespace

GevStatus readRegisters(GevDevice& device, uint32_t address, std::span<uint32_t> values) {
    if (values.empty() || values.size() > kMaxReadRegisters)
        return GEV_STATUS_INVALID_ARGUMENT;
    if (device.connectionStatus == 2)
        return GEV_STATUS_ACCESS_DENIED;

    Acknowledge ack;
    GevStatus status;
    size_t stored = 0;
    {
        std::lock_guard lock(device.controlLock);
        const uint16_t reqId = device.takeRequestId();
        const auto command = buildReadReg(reqId, address, values.size());
        status = runTransaction(device.controlSocket, device.deviceAddress,
                                {command, reqId, kReadRegAck, readRegAckSize(values.size())},
                                RetryForm::Register, timingOf(device), ack);
        if (status == GEV_STATUS_SUCCESS) {
            values[0] = 0;
            // Whole words only, never more than asked for.
            const auto payload = ack.payload();
            stored = std::min(payload.size() / 4, values.size());
            for (size_t i = 0; i < stored; ++i)
                values[i] = platform::loadBe32(&payload[4 * i]);
        }
    }

    const uint8_t flags = device.detailedLog;
    if ((flags & GEV_LOG_PROTOCOL) != 0 && !ack.receivedAny) {
        gevLog(device, "[INFO] - Read Register: No acknowledge header available");
    }
    if ((flags & GEV_LOG_REGISTER_TRACE) != 0) {
        for (size_t i = 0; i < stored; ++i) {
            gevLogf(device, "[INFO] - Read Register: Address 0x%08X, Data: 0x%08X",
                    address + static_cast<uint32_t>(4 * i), values[i]);
        }
    }
    if (status != GEV_STATUS_SUCCESS) {
        gevLogf(device, "[ERROR] - ReadRegister[0x%08X] Status: %04X", address, status);
    }
    return status;
}

GevStatus readRegister(GevDevice& device, uint32_t address, uint32_t& value) {
    return readRegisters(device, address, std::span(&value, 1));
}

GevStatus writeRegisters(GevDevice& device, uint32_t address, std::span<const uint32_t> values) {
    if (values.empty() || values.size() > kMaxWriteRegisters)
        return GEV_STATUS_INVALID_ARGUMENT;
    if (device.connectionStatus == 2)
        return GEV_STATUS_ACCESS_DENIED;
    if (device.controlMode == 0)
        return GEV_STATUS_SUCCESS;

    Acknowledge ack;
    GevStatus status;
    {
        std::lock_guard lock(device.controlLock);
        const uint16_t reqId = device.takeRequestId();
        const auto command = buildWriteReg(reqId, address, values);
        status = runTransaction(device.controlSocket, device.deviceAddress,
                                {command, reqId, kWriteRegAck, kWriteRegAckSize},
                                RetryForm::Register, timingOf(device), ack);
    }

    const uint8_t flags = device.detailedLog;
    if ((flags & GEV_LOG_PROTOCOL) != 0 && !ack.receivedAny) {
        gevLog(device, "[INFO] - Write Register: No acknowledge header available");
    }
    if ((flags & GEV_LOG_REGISTER_TRACE) != 0) {
        for (size_t i = 0; i < values.size(); ++i) {
            gevLogf(device, "[INFO] - Write Register: Address 0x%08X, Data: 0x%08X",
                    address + static_cast<uint32_t>(4 * i), values[i]);
        }
    }
    // Not-implemented is an answer callers probe for; it is not logged as an error.
    if (status != GEV_STATUS_SUCCESS && status != GEV_STATUS_NOT_IMPLEMENTED) {
        gevLogf(device, "[ERROR] - WriteRegister[0x%08X] Status: %04X", address, status);
    }
    return status;
}

GevStatus writeRegister(GevDevice& device, uint32_t address, uint32_t value) {
    return writeRegisters(device, address, std::span(&value, 1));
}

GevStatus readMemory(GevDevice& device, uint32_t address, uint32_t length, uint8_t* data) {
    std::lock_guard lock(device.controlLock);
    if (length == 0)
        return GEV_STATUS_SUCCESS;
    const AlignedRange range = alignRange(address, length);

    std::array<uint8_t, kMaxMemoryChunk> chunk;
    uint64_t offset = 0;  // from range.start
    for (uint32_t k = 0; k < range.chunks; ++k) {
        const auto size =
            static_cast<uint16_t>(std::min<uint64_t>(range.total - offset, kMaxMemoryChunk));
        const GevStatus status = readMemoryChunk(
            device, range.start + static_cast<uint32_t>(offset), size, chunk.data());
        if (status != GEV_STATUS_SUCCESS) {
            gevLogf(device, "[ERROR] - ReadMemory[0x%08X]", address);
            return status;
        }
        // Hand over only the part of the chunk inside the caller's range.
        const uint64_t from = std::max<uint64_t>(offset, range.skip);
        const uint64_t to = std::min<uint64_t>(offset + size, uint64_t{range.skip} + length);
        if (to > from)
            std::memcpy(data + (from - range.skip), chunk.data() + (from - offset), to - from);
        offset += size;
        reportProgress(device, k, range.chunks);
    }
    return GEV_STATUS_SUCCESS;
}

GevStatus writeMemory(GevDevice& device, uint32_t address, uint32_t length, const uint8_t* data) {
    if (device.controlMode == 0)
        return GEV_STATUS_SUCCESS;
    uint32_t capability = 0;
    if (const GevStatus status = readRegister(device, reg::kGvcpCapability, capability);
        status != GEV_STATUS_SUCCESS) {
        return status;
    }
    if ((capability & reg::kCapWriteMem) == 0)
        return GEV_STATUS_NOT_SUPPORTED;

    std::lock_guard lock(device.controlLock);
    if (length == 0)
        return GEV_STATUS_SUCCESS;
    const AlignedRange range = alignRange(address, length);
    const uint64_t end = uint64_t{range.skip} + length;  // caller's bytes end here

    // The words the caller's range only partly covers keep their other bytes.
    std::array<uint8_t, 4> head{};
    std::array<uint8_t, 4> tail{};
    const bool partialHead = range.skip != 0;
    const bool partialTail = end % 4 != 0;
    const uint32_t tailAddress = range.start + static_cast<uint32_t>(range.total - 4);
    // Write-only memory refuses the read (a device status): its word is padded with zeros.
    const auto readEdgeWord = [&](uint32_t wordAddress, std::array<uint8_t, 4>& word) -> GevStatus {
        const GevStatus read = readMemoryChunk(device, wordAddress, 4, word.data());
        const bool refusedByDevice = read > 0x8000 && read < 0xC000;  // the library's own: 0xC0xx
        if (!refusedByDevice)
            return read;
        word.fill(0);
        return GEV_STATUS_SUCCESS;
    };
    GevStatus status = GEV_STATUS_SUCCESS;
    if (partialHead)
        status = readEdgeWord(range.start, head);
    if (status == GEV_STATUS_SUCCESS && partialTail) {
        status = range.total == 4 && partialHead ? (tail = head, GEV_STATUS_SUCCESS)
                                                 : readEdgeWord(tailAddress, tail);
    }
    if (status != GEV_STATUS_SUCCESS) {
        gevLogf(device, "[ERROR] - WriteMemory[0x%08X]", address);
        return status;
    }

    std::array<uint8_t, kMaxMemoryChunk> chunk;
    uint64_t offset = 0;
    for (uint32_t k = 0; k < range.chunks; ++k) {
        const auto size =
            static_cast<size_t>(std::min<uint64_t>(range.total - offset, kMaxMemoryChunk));
        for (size_t i = 0; i < size; ++i) {
            const uint64_t pos = offset + i;
            if (pos >= range.skip && pos < end) {
                chunk[i] = data[pos - range.skip];
            } else if (pos < range.skip) {
                chunk[i] = head[pos];
            } else {
                chunk[i] = tail[pos - (range.total - 4)];
            }
        }
        status = writeMemoryChunk(device, range.start + static_cast<uint32_t>(offset),
                                  std::span<const uint8_t>(chunk.data(), size));
        if (status != GEV_STATUS_SUCCESS) {
            gevLogf(device, "[ERROR] - WriteMemory[0x%08X]", address);
            return status;
        }
        offset += size;
        reportProgress(device, k, range.chunks);
    }
    return GEV_STATUS_SUCCESS;
}

}  // namespace kavro::gvcp
