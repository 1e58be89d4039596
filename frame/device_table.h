// The device table: the machine-wide open flags and this process's records of indexes 1..20.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "frame/device.h"

namespace kavro::frame {

class DeviceTable {
  public:
    static DeviceTable& instance();

    // The index rule: the record of an open index, else null (indexes 0 and above 20 too).
    // Callers use the pointer for the duration of one exported call; GEVInit and GEVClose do not
    // overlap other calls for the same index.
    GevDevice* openDevice(uint8_t device);
    bool isOpen(uint8_t device);

    // The record of an index, open or not (null for a bad index or one never opened here).
    std::shared_ptr<GevDevice> record(uint8_t device);
    // A fresh record with defaults for `device`, replacing the last one. The old record lives
    // on as long as a thread still holds it.
    std::shared_ptr<GevDevice> newRecord(uint8_t device);

    // Marks the index open machine-wide when no live process holds it, in one atomic step;
    // false when one does. The record is marked with markOpen afterwards.
    [[nodiscard]] bool claim(uint8_t device);
    // Sets or clears the machine-wide flag of the record's index and the record's own flag.
    void markOpen(GevDevice& device);
    void markClosed(GevDevice& device);

  private:
    DeviceTable() = default;
    std::mutex mutex_;  // guards the slots against the threads that scan every record
    std::array<std::shared_ptr<GevDevice>, kMaxDeviceIndex> records_;
};

// The record of an open index, or null; shorthand for DeviceTable::instance().openDevice().
inline GevDevice* openDevice(uint8_t device) {
    return DeviceTable::instance().openDevice(device);
}

}  // namespace kavro::frame
