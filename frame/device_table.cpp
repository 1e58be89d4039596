#include "frame/device_table.h"

#include "platform/shared_table.h"

namespace kavro::frame {

namespace {
bool validIndex(uint8_t device) {
    return device >= 1 && device <= kMaxDeviceIndex;
}
}  // namespace

DeviceTable& DeviceTable::instance() {
    static DeviceTable table;
    return table;
}

bool DeviceTable::isOpen(uint8_t device) {
    return validIndex(device) && platform::SharedOpenFlags::machineWide().isOpen(device - 1);
}

GevDevice* DeviceTable::openDevice(uint8_t device) {
    if (!isOpen(device))
        return nullptr;
    std::lock_guard lock(mutex_);
    // Open in another process: this process has no record for it, or only a closed one.
    GevDevice* dev = records_[device - 1].get();
    return dev != nullptr && dev->openHere.load() ? dev : nullptr;
}

std::shared_ptr<GevDevice> DeviceTable::record(uint8_t device) {
    if (!validIndex(device))
        return nullptr;
    std::lock_guard lock(mutex_);
    return records_[device - 1];
}

std::shared_ptr<GevDevice> DeviceTable::newRecord(uint8_t device) {
    if (!validIndex(device))
        return nullptr;
    auto fresh = std::make_shared<GevDevice>();
    fresh->deviceIndex = device;
    std::lock_guard lock(mutex_);
    records_[device - 1] = fresh;
    return fresh;
}

bool DeviceTable::claim(uint8_t device) {
    return validIndex(device) && platform::SharedOpenFlags::machineWide().claim(device - 1);
}

void DeviceTable::markOpen(GevDevice& device) {
    device.openHere = true;
    platform::SharedOpenFlags::machineWide().markOpen(device.deviceIndex - 1);
}

void DeviceTable::markClosed(GevDevice& device) {
    device.openHere = false;
    platform::SharedOpenFlags::machineWide().markClosed(device.deviceIndex - 1);
}

}  // namespace kavro::frame
