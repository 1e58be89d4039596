#include "features/node_registers.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "features/chunk_reader.h"
#include "frame/log.h"
#include "gvcp/register_access.h"

namespace kavro::features::detail {

namespace {

enum class PortKind : uint8_t { Device, Chunk, Unknown };

PortKind portOf(const genicam::FeatureModel& model, const genicam::FeatureNode& node,
                uint64_t& chunkId) {
    if (node.portIsDevice != 0) {
        return PortKind::Device;
    }
    const genicam::FeatureNode* port = model.findNode(node.pPort);
    if (port != nullptr && port->kind == genicam::NodeKind::Port && port->hasChunkId) {
        chunkId = port->ChunkID;
        return PortKind::Chunk;
    }
    return PortKind::Unknown;
}

GevStatus unknownPort(frame::GevDevice& device, const genicam::FeatureNode& node) {
    frame::gevLogf(device, "[ERROR] - Port %s of node %s not supported.", node.pPort.c_str(),
                   node.Name.c_str());
    return GEV_STATUS_NOT_SUPPORTED;
}

// Copies `out.size()` bytes at `address` of the chunk out of the last image's chunk data.
GevStatus chunkBytes(frame::GevDevice& device, const genicam::FeatureNode& node, uint64_t chunkId,
                     uint32_t address, std::span<uint8_t> out) {
    const std::vector<uint8_t> data = device.lastChunkData.snapshot();
    const auto chunk =
        chunkId <= UINT32_MAX ? findChunk(data, static_cast<uint32_t>(chunkId)) : std::nullopt;
    if (!chunk) {
        frame::gevLogf(device, "[ERROR] - Chunk 0x%llX of node %s is not in the last image.",
                       static_cast<unsigned long long>(chunkId), node.Name.c_str());
        return GEV_STATUS_INVALID_ADDRESS;
    }
    if (address > chunk->size() || out.size() > chunk->size() - address) {
        frame::gevLogf(device, "[ERROR] - Node %s reaches beyond its chunk of %zu bytes.",
                       node.Name.c_str(), chunk->size());
        return GEV_STATUS_INVALID_ADDRESS;
    }
    std::memcpy(out.data(), chunk->data() + address, out.size());
    return GEV_STATUS_SUCCESS;
}

// A write through a port that is not the device's: chunk data is read-only, other ports are not
// reachable.
GevStatus refuseWrite(frame::GevDevice& device, const genicam::FeatureModel& model,
                      const genicam::FeatureNode& node) {
    uint64_t chunkId = 0;
    if (portOf(model, node, chunkId) == PortKind::Unknown) {
        return unknownPort(device, node);
    }
    frame::gevLogf(device, "[ERROR] - Node %s is chunk data and cannot be written.",
                   node.Name.c_str());
    return GEV_STATUS_ACCESS_DENIED;
}

}  // namespace

GevStatus fetchPortValue(frame::GevDevice& device, const genicam::FeatureModel& model,
                         const genicam::FeatureNode& node, uint32_t address, uint32_t length,
                         uint64_t& value) {
    uint64_t chunkId = 0;
    switch (portOf(model, node, chunkId)) {
        case PortKind::Device:
            return fetchRegisterValue(device, address, length, value);
        case PortKind::Unknown:
            return unknownPort(device, node);
        case PortKind::Chunk:
            break;
    }
    if (!supportedRegisterLength(length)) {
        return GEV_STATUS_NOT_SUPPORTED;
    }
    std::array<uint8_t, 8> bytes{};
    if (const GevStatus s = chunkBytes(device, node, chunkId, address, {bytes.data(), length})) {
        return s;
    }
    if (node.Endianess == 0) {
        std::reverse(bytes.begin(), bytes.begin() + length);
    }
    uint64_t assembled = 0;
    for (uint32_t i = 0; i < length; ++i) {
        assembled = (assembled << 8) | bytes[i];
    }
    value = assembled;
    return GEV_STATUS_SUCCESS;
}

GevStatus storePortValue(frame::GevDevice& device, const genicam::FeatureModel& model,
                         const genicam::FeatureNode& node, uint32_t address, uint32_t length,
                         uint64_t value) {
    if (node.portIsDevice != 0) {
        return storeRegisterValue(device, address, length, value);
    }
    return refuseWrite(device, model, node);
}

GevStatus fetchPortBytes(frame::GevDevice& device, const genicam::FeatureModel& model,
                         const genicam::FeatureNode& node, uint32_t address,
                         std::span<uint8_t> out) {
    uint64_t chunkId = 0;
    switch (portOf(model, node, chunkId)) {
        case PortKind::Device:
            return gvcp::readMemory(device, address, static_cast<uint32_t>(out.size()), out.data());
        case PortKind::Unknown:
            return unknownPort(device, node);
        case PortKind::Chunk:
            break;
    }
    return chunkBytes(device, node, chunkId, address, out);
}

GevStatus fetchRegisterValue(frame::GevDevice& device, uint32_t address, uint32_t length,
                             uint64_t& value) {
    if (!supportedRegisterLength(length)) {
        return GEV_STATUS_NOT_SUPPORTED;
    }
    if (length == 4) {
        uint32_t word = 0;
        if (const GevStatus s = gvcp::readRegister(device, address, word)) {
            return s;
        }
        value = word;
        return GEV_STATUS_SUCCESS;
    }
    if (length == 8) {
        uint32_t high = 0;
        uint32_t low = 0;
        if (const GevStatus s = gvcp::readRegister(device, address, high)) {
            return s;
        }
        if (const GevStatus s = gvcp::readRegister(device, address + 4u, low)) {
            return s;
        }
        value = (static_cast<uint64_t>(high) << 32) | low;
        return GEV_STATUS_SUCCESS;
    }
    std::array<uint8_t, 8> bytes{};
    if (const GevStatus s = gvcp::readMemory(device, address, length, bytes.data())) {
        return s;
    }
    uint64_t assembled = 0;
    for (uint32_t i = 0; i < length; ++i) {
        assembled = (assembled << 8) | bytes[i];
    }
    value = assembled;
    return GEV_STATUS_SUCCESS;
}

GevStatus storeRegisterValue(frame::GevDevice& device, uint32_t address, uint32_t length,
                             uint64_t value) {
    if (!supportedRegisterLength(length)) {
        return GEV_STATUS_NOT_SUPPORTED;
    }
    if (length == 4) {
        return gvcp::writeRegister(device, address, static_cast<uint32_t>(value));
    }
    if (length == 8) {
        if (const GevStatus s =
                gvcp::writeRegister(device, address, static_cast<uint32_t>(value >> 32))) {
            return s;
        }
        return gvcp::writeRegister(device, address + 4u, static_cast<uint32_t>(value));
    }
    std::array<uint8_t, 8> bytes{};
    for (uint32_t i = 0; i < length; ++i) {
        bytes[length - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return gvcp::writeMemory(device, address, length, bytes.data());
}

GevStatus storePortBytes(frame::GevDevice& device, const genicam::FeatureModel& model,
                         const genicam::FeatureNode& node, uint32_t address,
                         std::span<const uint8_t> bytes) {
    if (node.portIsDevice != 0) {
        return gvcp::writeMemory(device, address, static_cast<uint32_t>(bytes.size()),
                                 bytes.data());
    }
    return refuseWrite(device, model, node);
}

}  // namespace kavro::features::detail
