// The memory of a simulated camera: the bootstrap region with its registers and string areas,
// a plain read/write user memory region, and read-only regions (the device description). Every
// access is checked against the register rules and answers with a GigE Vision device status. Not
// thread-safe: CameraModel locks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string_view>
#include <vector>

namespace kavro::sim {

// Who sent a command; network byte order address, host order port.
struct Peer {
    uint32_t addressNet = 0;
    uint16_t port = 0;
};

enum class Access : uint8_t { ReadOnly, ReadWrite, WriteOnly };

class DeviceMemory;

// One register write on its way in. A write hook may change `value` before it is stored, or
// refuse the write by returning a device status other than 0. `sender` is null for writes made
// by the camera itself (tests, the front end).
struct RegisterWriteRequest {
    uint32_t address = 0;
    uint32_t value = 0;
    const Peer* sender = nullptr;
};
using WriteHook = std::function<uint16_t(DeviceMemory& memory, RegisterWriteRequest& request)>;

class DeviceMemory {
  public:
    // The bootstrap region covers [0, kBootstrapSize); the user region is moved above it and cut
    // to whole words when the configuration asks for something impossible.
    static constexpr uint32_t kBootstrapSize = 0xA000;
    static constexpr uint32_t kMaxUserMemorySize = 64u << 20;
    static constexpr uint32_t kMaxReadOnlyRegionSize = 16u << 20;

    DeviceMemory(uint32_t userMemoryBase, uint32_t userMemorySize);

    // Declares a bootstrap register with its access rule and initial value.
    void defineRegister(uint32_t address, Access access, uint32_t initial, WriteHook onWrite = {});
    // Declares a bootstrap area reachable word by word (strings); `text` is zero-padded and cut
    // so that at least one terminating zero remains.
    void defineString(uint32_t address, uint32_t size, Access access, std::string_view text);
    // Declares a read-only region holding `content`, zero-padded to whole words. Refused (false)
    // when it is misaligned, larger than kMaxReadOnlyRegionSize, wraps past 4 GiB, or overlaps
    // the bootstrap region, the user region or another read-only region.
    bool defineReadOnlyRegion(uint32_t address, std::span<const uint8_t> content);
    // Makes the user memory from `offset` to its end write-only: reads are refused.
    void setUserMemoryWriteOnlyFrom(uint32_t offset);
    // Adds or replaces the write hook of a defined register; false when there is none.
    bool setWriteHook(uint32_t address, WriteHook onWrite);

    // Rule-checked access, as a GVCP command reaches it. Results are device status codes.
    uint16_t readRegister(uint32_t address, uint32_t& value) const;
    uint16_t writeRegister(uint32_t address, uint32_t value, const Peer* sender);
    uint16_t readMemory(uint32_t address, std::span<uint8_t> out) const;
    // Writes whole words; `written` = bytes stored before a refused word.
    uint16_t writeMemory(uint32_t address, std::span<const uint8_t> data, const Peer* sender,
                         uint32_t& written);

    // Direct access without rules or hooks (read-only regions included). Addresses outside every
    // region read as zero and are not written.
    uint32_t value(uint32_t address) const;
    void setValue(uint32_t address, uint32_t value);
    std::vector<uint8_t> bytes(uint32_t address, uint32_t count) const;
    void setBytes(uint32_t address, std::span<const uint8_t> data);

    uint32_t userMemoryBase() const { return userBase_; }
    uint32_t userMemorySize() const { return static_cast<uint32_t>(user_.size()); }

  private:
    struct Register {
        Access access = Access::ReadOnly;
        WriteHook onWrite;
    };
    struct Area {
        uint32_t address = 0;
        uint32_t size = 0;
        Access access = Access::ReadOnly;
    };
    struct Region {
        uint32_t address = 0;
        std::vector<uint8_t> bytes;
    };

    // Where `count` bytes at `address` live, or null when they are not all in one region.
    uint8_t* locate(uint32_t address, uint64_t count);
    const uint8_t* locate(uint32_t address, uint64_t count) const;
    // The access rule of a word, or false when the word is neither register, area nor user
    // memory.
    bool wordAccess(uint32_t address, Access& access) const;

    std::vector<uint8_t> bootstrap_;
    std::vector<uint8_t> user_;
    uint32_t userBase_ = 0;
    uint64_t userWriteOnlyFrom_ = UINT64_MAX;  // offset into user_
    std::map<uint32_t, Register> registers_;
    std::vector<Area> areas_;
    std::vector<Region> readOnly_;
};

}  // namespace kavro::sim
