#include "sim/device_memory.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "gvcp/wire.h"
#include "platform/byte_order.h"

namespace kavro::sim {

using namespace kavro::gvcp;

DeviceMemory::DeviceMemory(uint32_t userMemoryBase, uint32_t userMemorySize)
    : bootstrap_(kBootstrapSize, 0) {
    // Whole words, above the bootstrap region, not wrapping past 4 GiB.
    const uint64_t base = (std::max<uint64_t>(userMemoryBase, kBootstrapSize) + 3) & ~uint64_t{3};
    uint64_t size = std::min<uint64_t>(userMemorySize, kMaxUserMemorySize) & ~uint64_t{3};
    size = std::min<uint64_t>(size, (uint64_t{1} << 32) - base);
    userBase_ = static_cast<uint32_t>(base);
    user_.assign(static_cast<size_t>(size), 0);
}

void DeviceMemory::setUserMemoryWriteOnlyFrom(uint32_t offset) {
    userWriteOnlyFrom_ = offset;
}

void DeviceMemory::defineRegister(uint32_t address, Access access, uint32_t initial,
                                  WriteHook onWrite) {
    if (address % 4 != 0 || locate(address, 4) == nullptr)
        return;
    registers_[address] = Register{access, std::move(onWrite)};
    setValue(address, initial);
}

void DeviceMemory::defineString(uint32_t address, uint32_t size, Access access,
                                std::string_view text) {
    size &= ~uint32_t{3};
    uint8_t* area = locate(address, size);
    if (address % 4 != 0 || size == 0 || area == nullptr)
        return;
    areas_.push_back(Area{address, size, access});
    std::memset(area, 0, size);
    std::memcpy(area, text.data(), std::min<size_t>(text.size(), size - 1));
}

bool DeviceMemory::defineReadOnlyRegion(uint32_t address, std::span<const uint8_t> content) {
    const uint64_t size = (uint64_t{content.size()} + 3) & ~uint64_t{3};
    const uint64_t end = uint64_t{address} + size;
    const auto overlaps = [&](uint64_t start, uint64_t length) {
        return length != 0 && address < start + length && start < end;
    };
    if (address % 4 != 0 || size == 0 || size > kMaxReadOnlyRegionSize ||
        end > (uint64_t{1} << 32) || overlaps(0, bootstrap_.size()) ||
        overlaps(userBase_, user_.size())) {
        return false;
    }
    for (const Region& region : readOnly_) {
        if (overlaps(region.address, region.bytes.size()))
            return false;
    }
    Region region{address, std::vector<uint8_t>(static_cast<size_t>(size), 0)};
    std::copy(content.begin(), content.end(), region.bytes.begin());
    readOnly_.push_back(std::move(region));
    return true;
}

bool DeviceMemory::setWriteHook(uint32_t address, WriteHook onWrite) {
    const auto it = registers_.find(address);
    if (it == registers_.end())
        return false;
    it->second.onWrite = std::move(onWrite);
    return true;
}

uint8_t* DeviceMemory::locate(uint32_t address, uint64_t count) {
    return const_cast<uint8_t*>(std::as_const(*this).locate(address, count));
}

const uint8_t* DeviceMemory::locate(uint32_t address, uint64_t count) const {
    const uint64_t end = uint64_t{address} + count;
    if (end <= bootstrap_.size())
        return bootstrap_.data() + address;
    if (address >= userBase_ && end <= uint64_t{userBase_} + user_.size()) {
        return user_.data() + (address - userBase_);
    }
    for (const Region& region : readOnly_) {
        if (address >= region.address && end <= uint64_t{region.address} + region.bytes.size()) {
            return region.bytes.data() + (address - region.address);
        }
    }
    return nullptr;
}

bool DeviceMemory::wordAccess(uint32_t address, Access& access) const {
    if (const auto it = registers_.find(address); it != registers_.end()) {
        access = it->second.access;
        return true;
    }
    for (const Area& area : areas_) {
        if (address >= area.address && address - area.address < area.size) {
            access = area.access;
            return true;
        }
    }
    if (address >= userBase_ && address - userBase_ < user_.size()) {
        access = address - userBase_ >= userWriteOnlyFrom_ ? Access::WriteOnly : Access::ReadWrite;
        return true;
    }
    for (const Region& region : readOnly_) {
        if (address >= region.address && address - region.address < region.bytes.size()) {
            access = Access::ReadOnly;
            return true;
        }
    }
    return false;
}

uint16_t DeviceMemory::readRegister(uint32_t address, uint32_t& value) const {
    if (address % 4 != 0)
        return kStatusBadAlignment;
    Access access;
    if (!wordAccess(address, access))
        return kStatusInvalidAddress;
    if (access == Access::WriteOnly)
        return kStatusAccessDenied;
    value = this->value(address);
    return kStatusSuccess;
}

uint16_t DeviceMemory::writeRegister(uint32_t address, uint32_t value, const Peer* sender) {
    if (address % 4 != 0)
        return kStatusBadAlignment;
    Access access;
    if (!wordAccess(address, access))
        return kStatusInvalidAddress;
    if (access == Access::ReadOnly)
        return kStatusAccessDenied;
    RegisterWriteRequest request{address, value, sender};
    if (const auto it = registers_.find(address); it != registers_.end() && it->second.onWrite) {
        // Copy the hook: it may replace itself or define registers while it runs.
        const WriteHook hook = it->second.onWrite;
        if (const uint16_t status = hook(*this, request); status != kStatusSuccess)
            return status;
    }
    setValue(address, request.value);
    return kStatusSuccess;
}

uint16_t DeviceMemory::readMemory(uint32_t address, std::span<uint8_t> out) const {
    if (address % 4 != 0)
        return kStatusBadAlignment;
    const uint8_t* source = locate(address, out.size());
    if (source == nullptr)
        return kStatusInvalidAddress;
    const uint64_t end = uint64_t{address} + out.size();
    const bool inUserMemory = address >= userBase_ && address - userBase_ < user_.size();
    if (inUserMemory && end - userBase_ > userWriteOnlyFrom_)
        return kStatusAccessDenied;
    std::copy_n(source, out.size(), out.begin());
    // Write-only registers (keys) never show through a memory read.
    for (auto it = registers_.lower_bound(address); it != registers_.end() && it->first < end;
         ++it) {
        if (it->second.access == Access::WriteOnly) {
            std::fill_n(out.begin() + (it->first - address), 4, uint8_t{0});
        }
    }
    return kStatusSuccess;
}

uint16_t DeviceMemory::writeMemory(uint32_t address, std::span<const uint8_t> data,
                                   const Peer* sender, uint32_t& written) {
    written = 0;
    if (address % 4 != 0)
        return kStatusBadAlignment;
    if (data.size() % 4 != 0)
        return kStatusInvalidParameter;
    if (locate(address, data.size()) == nullptr)
        return kStatusInvalidAddress;
    // Word by word through the register rules, so that hooks see memory writes too.
    for (size_t offset = 0; offset < data.size(); offset += 4) {
        const uint16_t status = writeRegister(address + static_cast<uint32_t>(offset),
                                              platform::loadBe32(data.data() + offset), sender);
        if (status != kStatusSuccess)
            return status;
        written += 4;
    }
    return kStatusSuccess;
}

uint32_t DeviceMemory::value(uint32_t address) const {
    const uint8_t* p = locate(address, 4);
    return p == nullptr ? 0 : platform::loadBe32(p);
}

void DeviceMemory::setValue(uint32_t address, uint32_t value) {
    if (uint8_t* p = locate(address, 4))
        platform::storeBe32(p, value);
}

std::vector<uint8_t> DeviceMemory::bytes(uint32_t address, uint32_t count) const {
    std::vector<uint8_t> out(count, 0);
    if (const uint8_t* p = locate(address, count))
        std::copy_n(p, count, out.begin());
    return out;
}

void DeviceMemory::setBytes(uint32_t address, std::span<const uint8_t> data) {
    if (uint8_t* p = locate(address, data.size()))
        std::copy(data.begin(), data.end(), p);
}

}  // namespace kavro::sim
