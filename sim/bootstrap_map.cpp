#include "sim/bootstrap_map.h"

#include <algorithm>

#include "gvcp/bootstrap.h"
#include "sim/actions.h"
#include "sim/description_image.h"

namespace kavro::sim {

using namespace kavro::gvcp::reg;

namespace {
constexpr uint32_t kInterfaceCapPersistentIp = 0x1;
constexpr uint32_t kInterfaceCapDhcp = 0x2;
constexpr uint32_t kInterfaceCapLla = 0x4;  // link-local addressing: always on
constexpr uint32_t kLinkSpeedMbps = 1000;
constexpr uint32_t kDefaultMessageTimeoutMs = 300;
constexpr uint32_t kDefaultMessageRetries = 2;

void defineIdentity(DeviceMemory& m, const CameraConfig& c, const std::string& firstUrl) {
    m.defineRegister(kVersion, Access::ReadOnly, c.gevVersion);
    m.defineRegister(kDeviceMode, Access::ReadOnly, c.deviceMode);
    m.defineRegister(kMacHigh, Access::ReadOnly, uint32_t{c.mac[0]} << 8 | c.mac[1]);
    m.defineRegister(
        kMacLow, Access::ReadOnly,
        uint32_t{c.mac[2]} << 24 | uint32_t{c.mac[3]} << 16 | uint32_t{c.mac[4]} << 8 | c.mac[5]);
    m.defineString(kManufacturerName, kManufacturerNameSize, Access::ReadOnly, c.manufacturer);
    m.defineString(kModelName, kModelNameSize, Access::ReadOnly, c.model);
    m.defineString(kDeviceVersion, kDeviceVersionSize, Access::ReadOnly, c.deviceVersion);
    m.defineString(kManufacturerInfo, kManufacturerInfoSize, Access::ReadOnly, c.manufacturerInfo);
    m.defineString(kSerialNumber, kSerialNumberSize, Access::ReadOnly, c.serialNumber);
    m.defineString(kUserDefinedName, kUserDefinedNameSize, Access::ReadWrite, c.userName);
    m.defineString(kFirstUrl, kUrlSize, Access::ReadOnly, firstUrl);
    m.defineString(kSecondUrl, kUrlSize, Access::ReadOnly, c.secondUrl);
}

void defineNetwork(DeviceMemory& m, const CameraConfig& c) {
    const uint32_t capability = kInterfaceCapLla | kInterfaceCapDhcp |
                                (c.supportsPersistentIp ? kInterfaceCapPersistentIp : 0);
    m.defineRegister(kNetworkInterfaceCapability, Access::ReadOnly, capability);
    // Only what the camera can do may be switched on; link-local addressing always is.
    m.defineRegister(kNetworkInterfaceConfiguration, Access::ReadWrite,
                     kInterfaceCapLla | kInterfaceCapDhcp,
                     [capability](DeviceMemory&, RegisterWriteRequest& request) -> uint16_t {
                         request.value = (request.value & capability) | kInterfaceCapLla;
                         return 0;
                     });
    // The front end fills in the address it serves on.
    m.defineRegister(kCurrentIpAddress, Access::ReadOnly, 0);
    m.defineRegister(kCurrentSubnetMask, Access::ReadOnly, 0);
    m.defineRegister(kCurrentGateway, Access::ReadOnly, 0);
    m.defineRegister(kNumberOfNetworkInterfaces, Access::ReadOnly, 1);
    m.defineRegister(kPersistentIpAddress, Access::ReadWrite, 0);
    m.defineRegister(kPersistentSubnetMask, Access::ReadWrite, 0);
    m.defineRegister(kPersistentGateway, Access::ReadWrite, 0);
    m.defineRegister(kLinkSpeed, Access::ReadOnly, kLinkSpeedMbps);
}

void defineControl(DeviceMemory& m, const CameraConfig& c) {
    m.defineRegister(kStreamChannelCapability, Access::ReadOnly, 0);
    m.defineRegister(kMessageChannelCapability, Access::ReadOnly, 0);
    // Without a message channel there is nothing to send events on.
    const uint32_t eventBits = c.messageChannels != 0 ? 0 : kCapEvent | kCapEventData;
    m.defineRegister(kGvcpCapability, Access::ReadOnly, c.gvcpCapability & ~eventBits);
    m.defineRegister(kHeartbeatTimeout, Access::ReadWrite, c.heartbeatTimeoutMs,
                     [](DeviceMemory&, RegisterWriteRequest& request) -> uint16_t {
                         request.value = std::max(request.value, kMinHeartbeatTimeoutMs);
                         return 0;
                     });
    m.defineRegister(kTimestampTickFrequencyHigh, Access::ReadOnly,
                     static_cast<uint32_t>(c.tickFrequency >> 32));
    m.defineRegister(kTimestampTickFrequencyLow, Access::ReadOnly,
                     static_cast<uint32_t>(c.tickFrequency));
    m.defineRegister(kTimestampControl, Access::WriteOnly, 0);
    m.defineRegister(kTimestampValueHigh, Access::ReadOnly, 0);
    m.defineRegister(kTimestampValueLow, Access::ReadOnly, 0);
    m.defineRegister(kGvcpConfiguration, Access::ReadWrite, 0);
    m.defineRegister(kGvspConfiguration, Access::ReadWrite, 0);
    m.defineRegister(kCcp, Access::ReadWrite, 0);
    m.defineRegister(kPrimaryApplicationPort, Access::ReadOnly, 0);
    m.defineRegister(kPrimaryApplicationAddress, Access::ReadOnly, 0);
}

void defineChannels(DeviceMemory& m, const CameraConfig& c) {
    m.defineRegister(kNumberOfMessageChannels, Access::ReadOnly, c.messageChannels != 0 ? 1 : 0);
    if (c.messageChannels != 0) {
        m.defineRegister(kMcp, Access::ReadWrite, 0);
        m.defineRegister(kMcda, Access::ReadWrite, 0);
        m.defineRegister(kMctt, Access::ReadWrite, kDefaultMessageTimeoutMs);
        m.defineRegister(kMcrc, Access::ReadWrite, kDefaultMessageRetries);
    }
    const uint32_t streams = std::min(c.streamChannels, kMaxStreamChannels);
    m.defineRegister(kNumberOfStreamChannels, Access::ReadOnly, streams);
    for (uint32_t i = 0; i < streams; ++i) {
        const uint32_t offset = i * kStreamChannelStride;
        m.defineRegister(kScp0 + offset, Access::ReadWrite, 0);
        m.defineRegister(kScps0 + offset, Access::ReadWrite, c.packetSize & 0xFFFF);
        m.defineRegister(kScpd0 + offset, Access::ReadWrite, 0);
        m.defineRegister(kScda0 + offset, Access::ReadWrite, 0);
        m.defineRegister(kScc0 + offset, Access::ReadOnly, 0);
    }
}

void defineActions(DeviceMemory& m, const CameraConfig& c) {
    const uint32_t signals =
        (c.gvcpCapability & kCapAction) != 0 ? std::min(c.actionSignals, kMaxActionSignals) : 0;
    m.defineRegister(kNumberOfActionSignals, Access::ReadOnly, signals);
    if (signals == 0)
        return;
    m.defineRegister(kActionDeviceKey, Access::WriteOnly, 0);
    for (uint32_t i = 0; i < signals; ++i) {
        m.defineRegister(kActionGroupKey0 + i * kActionSignalStride, Access::ReadWrite, 0);
        m.defineRegister(kActionGroupMask0 + i * kActionSignalStride, Access::ReadWrite, 0);
    }
}
}  // namespace

void defineBootstrap(DeviceMemory& memory, const CameraConfig& config) {
    const DescriptionImage description = describeCamera(config);
    (void)memory.defineReadOnlyRegion(kDescriptionAddress, description.bytes);
    defineIdentity(memory, config, description.firstUrl);
    defineNetwork(memory, config);
    defineControl(memory, config);
    defineChannels(memory, config);
    defineActions(memory, config);
}

}  // namespace kavro::sim
