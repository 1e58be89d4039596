// The exported filter driver calls: open the driver for a device and bind it to the device's
// adapter, close it, ask its version. While it is open the stream calls use it (requests.h).
#include <cstdint>
#include <memory>
#include <mutex>

#include "KavroGigEVisionLib.h"
#include "filterdriver/filter_device.h"
#include "filterdriver/requests.h"
#include "frame/api_guard.h"
#include "frame/log.h"
#include "platform/trace.h"

using kavro::frame::GevDevice;
using kavro::frame::gevLog;
using kavro::frame::withOpenDevice;
namespace fd = kavro::filterdriver;

namespace {

// The driver keeps no images of application ring buffers: its calls refuse while any are
// registered.
bool refuseUserRingBuffers(const GevDevice& dev) {
    if (dev.userBuffers.empty())
        return false;
    gevLog(dev, "[WARNING] - Filter driver doesn't support user ring buffer.");
    return true;
}

// Opens the driver under its first name, else its global one, and binds it to the device's
// adapter; null when any of that fails.
std::unique_ptr<fd::FilterDevice> openAndBind(const GevDevice& dev) {
    const std::vector<uint8_t> name = fd::adapterDeviceName(dev.adapterName);
    kavro::platform::debugTrace("\\DEVICE\\%s", dev.adapterName.c_str());
    if (name.empty())
        return nullptr;
    uint32_t error = 0;
    std::unique_ptr<fd::FilterDevice> driver = fd::openFilterDevice(fd::kDriverName, error);
    if (!driver)
        driver = fd::openFilterDevice(fd::kGlobalDriverName, error);
    kavro::platform::debugTrace("handle: %p", static_cast<void*>(driver.get()));
    if (!driver)
        return nullptr;
    if (fd::sendBindAdapter(*driver, name) != 0)
        return nullptr;
    return driver;
}

}  // namespace

extern "C" {

KAVRO_API GevStatus GEVInitFilterDriver(uint8_t device) {
    return withOpenDevice(device, [](GevDevice& dev) -> GevStatus {
        if (refuseUserRingBuffers(dev))
            return GEV_STATUS_NOT_SUPPORTED;
        // A second open keeps the bound driver rather than dropping it under a running stream.
        if (fd::driverInUse(dev))
            return GEV_STATUS_SUCCESS;
        std::unique_ptr<fd::FilterDevice> driver = openAndBind(dev);
        if (!driver) {
            dev.filterDriverOpen = 0;
            gevLog(dev, "[INFO] - GEVInitFilterDriver: Can't open MORVAGEVFilter driver..");
            gevLog(dev,
                   "[INFO] - GEVInitFilterDriver: Check if driver is installed or you don't have "
                   "administrator privileges.");
            return GEV_STATUS_FILTER_DRIVER_NOT_OPEN;
        }
        {
            std::lock_guard lock(dev.filterDriverGuard);
            dev.filterDriverHandle = std::move(driver);
        }
        dev.filterDriverOpen = 1;
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVCloseFilterDriver(uint8_t device) {
    return withOpenDevice(device, [](GevDevice& dev) -> GevStatus {
        if (refuseUserRingBuffers(dev))
            return GEV_STATUS_NOT_SUPPORTED;
        // Not in use (never opened, or secure transfer took the device off it): the handle is
        // left alone.
        if (dev.filterDriverOpen.load() == 0)
            return GEV_STATUS_SUCCESS;
        dev.filterDriverOpen = 0;
        std::shared_ptr<fd::FilterDevice> closing;
        {
            std::lock_guard lock(dev.filterDriverGuard);
            closing = std::move(dev.filterDriverHandle);
        }
        return GEV_STATUS_SUCCESS;
    });
}

KAVRO_API GevStatus GEVGetFilterDriverVersion(uint8_t device, uint8_t* major, uint8_t* minor) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (major == nullptr || minor == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        if (refuseUserRingBuffers(dev))
            return GEV_STATUS_NOT_SUPPORTED;
        *major = 0;
        *minor = 0;
        const std::shared_ptr<fd::FilterDevice> driver = fd::driverInUse(dev);
        if (!driver) {
            gevLog(dev,
                   "[INFO] - GEVGetFilterDriverVersion: MORVAGEVFilter driver is not open. Open "
                   "driver with GEVInitFilterDriver function.");
            return GEV_STATUS_FILTER_DRIVER_NOT_OPEN;
        }
        if (const GevStatus s = fd::sendGetVersion(*driver, *major, *minor)) {
            gevLog(dev,
                   "[INFO] - GEVGetFilterDriverVersion: Can't read from MORVAGEVFilter driver. "
                   "Check if MORVAGEVFilter driver is installed.");
            return s;
        }
        return GEV_STATUS_SUCCESS;
    });
}

}  // extern "C"
