// The transport-independent camera: bootstrap registers and device memory, and the answer to
// each GVCP command. Thread-safe: the UDP front end and tests may use it at the same time.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "sim/camera_config.h"

namespace kavro::sim {

struct Peer {
    uint32_t addressNet = 0;
    uint16_t port = 0;
};

class CameraModel {
public:
    explicit CameraModel(const CameraConfig& config);

    const CameraConfig& config() const { return config_; }

    // Answers one GVCP command datagram from `sender`. Returns the acknowledge to send back, or
    // nothing (no acknowledge requested, or a datagram that is not a command).
    std::optional<std::vector<uint8_t>> handleCommand(std::span<const uint8_t> datagram,
                                                      const Peer& sender);

    // Direct access for tests and the front end, bypassing access rules.
    uint32_t readRegister(uint32_t address) const;
    void writeRegister(uint32_t address, uint32_t value);
    std::vector<uint8_t> readMemory(uint32_t address, uint32_t count) const;
    void writeMemory(uint32_t address, std::span<const uint8_t> bytes);

private:
    // (implementation state)
    CameraConfig config_;
    mutable std::mutex mutex_;
};

}  // namespace kavro::sim
