#include "features/node_registers.h"

#include <array>

#include "gvcp/register_access.h"

namespace kavro::features::detail {

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

}  // namespace kavro::features::detail
