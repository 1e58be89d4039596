// Exported discovery, Force IP and persistent network configuration calls.
#include <array>

#include "KavroGigEVisionLib.h"
#include "frame/api_guard.h"
#include "gvcp/bootstrap.h"
#include "gvcp/discovery.h"
#include "gvcp/register_access.h"

using kavro::frame::GevDevice;
using kavro::frame::guarded;
using kavro::frame::withOpenDevice;
namespace gvcp = kavro::gvcp;
namespace reg = kavro::gvcp::reg;

namespace {
// IP configuration register (0x0014) bits as values.
constexpr uint32_t kPersistentIp = 0x1;
constexpr uint32_t kDhcp = 0x2;
}  // namespace

extern "C" {

KAVRO_API GevStatus GEVDiscovery(GevDeviceList* list, GevDiscoveryCallback progress,
                                 uint32_t timeoutMs, uint32_t allSubnets) {
    return guarded([&]() -> GevStatus {
        if (list == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        return gvcp::discover(*list, progress, timeoutMs, allSubnets != 0);
    });
}

KAVRO_API GevStatus GEVForceIp(uint32_t address, uint32_t subnetMask, uint32_t gateway,
                               const uint8_t* macAddress) {
    return guarded([&]() -> GevStatus {
        if (macAddress == nullptr)
            return GEV_STATUS_INVALID_ARGUMENT;
        std::array<uint8_t, 6> mac{};
        std::copy(macAddress, macAddress + 6, mac.begin());
        return gvcp::forceIp(address, subnetMask, gateway, mac);
    });
}

KAVRO_API GevStatus GEVGetNetConfig(uint8_t device, uint8_t* dhcp, uint32_t* address,
                                    uint32_t* subnetMask, uint32_t* gateway) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        if (dhcp == nullptr || address == nullptr || subnetMask == nullptr || gateway == nullptr) {
            return GEV_STATUS_INVALID_ARGUMENT;
        }
        uint32_t config = 0;
        if (const GevStatus s =
                gvcp::readRegister(dev, reg::kNetworkInterfaceConfiguration, config)) {
            return s;
        }
        *dhcp = (config & kDhcp) != 0 ? 1 : 0;
        *address = *subnetMask = *gateway = 0;
        if ((config & kPersistentIp) == 0)
            return GEV_STATUS_SUCCESS;
        if (const GevStatus s = gvcp::readRegister(dev, reg::kPersistentIpAddress, *address)) {
            return s;
        }
        if (const GevStatus s = gvcp::readRegister(dev, reg::kPersistentSubnetMask, *subnetMask)) {
            return s;
        }
        return gvcp::readRegister(dev, reg::kPersistentGateway, *gateway);
    });
}

KAVRO_API GevStatus GEVSetNetConfig(uint8_t device, uint8_t dhcp, uint32_t address,
                                    uint32_t subnetMask, uint32_t gateway) {
    return withOpenDevice(device, [&](GevDevice& dev) -> GevStatus {
        uint32_t config = 0;
        if (const GevStatus s =
                gvcp::readRegister(dev, reg::kNetworkInterfaceConfiguration, config)) {
            return s;
        }
        config &= ~(kPersistentIp | kDhcp);
        if (dhcp != 0)
            config |= kDhcp;
        if (address != 0)
            config |= kPersistentIp;
        // With neither DHCP nor a persistent address asked for, the register stays as it is.
        if ((config & (kPersistentIp | kDhcp)) != 0) {
            if (const GevStatus s =
                    gvcp::writeRegister(dev, reg::kNetworkInterfaceConfiguration, config)) {
                return s;
            }
        }
        if (address != 0) {
            const uint32_t persistent[] = {address, subnetMask, gateway};
            const uint32_t registers[] = {reg::kPersistentIpAddress, reg::kPersistentSubnetMask,
                                          reg::kPersistentGateway};
            for (int i = 0; i < 3; ++i) {
                if (const GevStatus s = gvcp::writeRegister(dev, registers[i], persistent[i])) {
                    return s;
                }
            }
        }
        dev.netConfigChanged = 1;
        return GEV_STATUS_SUCCESS;
    });
}

}  // extern "C"
