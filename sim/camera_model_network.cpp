// The camera model's network identity: the DISCOVERY answer and the persistent IP settings.
#include <arpa/inet.h>

#include <algorithm>

#include "gvcp/bootstrap.h"
#include "sim/camera_model.h"

namespace kavro::sim {

using namespace kavro::gvcp;

namespace {
constexpr uint32_t kPersistentIpEnabled = 0x1;  // network interface configuration bit value

template <size_t N>
void copyText(const DeviceMemory& memory, uint32_t address, std::array<char, N>& out) {
    const auto bytes = memory.bytes(address, N);
    std::copy_n(bytes.begin(), std::min(bytes.size(), N), out.begin());
}
}  // namespace

DiscoveryAck CameraModel::discoveryAck() const {
    std::lock_guard lock(mutex_);
    DiscoveryAck ack;
    const uint32_t version = memory_.value(reg::kVersion);
    ack.versionMajor = static_cast<uint16_t>(version >> 16);
    ack.versionMinor = static_cast<uint16_t>(version);
    ack.deviceMode = memory_.value(reg::kDeviceMode);
    const uint32_t macHigh = memory_.value(reg::kMacHigh);
    const uint32_t macLow = memory_.value(reg::kMacLow);
    ack.mac = {static_cast<uint8_t>(macHigh >> 8), static_cast<uint8_t>(macHigh),
               static_cast<uint8_t>(macLow >> 24), static_cast<uint8_t>(macLow >> 16),
               static_cast<uint8_t>(macLow >> 8),  static_cast<uint8_t>(macLow)};
    ack.ipConfigOptions = memory_.value(reg::kNetworkInterfaceCapability);
    ack.ipConfigCurrent = memory_.value(reg::kNetworkInterfaceConfiguration);
    ack.currentIp = memory_.value(reg::kCurrentIpAddress);
    ack.subnetMask = memory_.value(reg::kCurrentSubnetMask);
    ack.gateway = memory_.value(reg::kCurrentGateway);
    copyText(memory_, reg::kManufacturerName, ack.manufacturerName);
    copyText(memory_, reg::kModelName, ack.modelName);
    copyText(memory_, reg::kDeviceVersion, ack.deviceVersion);
    copyText(memory_, reg::kManufacturerInfo, ack.manufacturerInfo);
    copyText(memory_, reg::kSerialNumber, ack.serialNumber);
    copyText(memory_, reg::kUserDefinedName, ack.userDefinedName);
    return ack;
}

Answer CameraModel::discovery(const CommandHeader& header) {
    // Discovery is answered whatever the control state; by broadcast when the host asks, so
    // that a camera outside the host's subnet is still heard.
    const auto ack = buildDiscoveryAck(discoveryAck(), header.reqId);
    return Answer{
        kStatusSuccess, kDiscoveryAck,
        std::vector<uint8_t>(ack.begin() + static_cast<std::ptrdiff_t>(kHeaderSize), ack.end()),
        (header.flags & kFlagBroadcastAck) != 0};
}

std::optional<IpSettings> CameraModel::persistentIpSettings() const {
    std::lock_guard lock(mutex_);
    if ((memory_.value(reg::kNetworkInterfaceConfiguration) & kPersistentIpEnabled) == 0 ||
        memory_.value(reg::kPersistentIpAddress) == 0) {
        return std::nullopt;
    }
    return IpSettings{htonl(memory_.value(reg::kPersistentIpAddress)),
                      htonl(memory_.value(reg::kPersistentSubnetMask)),
                      htonl(memory_.value(reg::kPersistentGateway))};
}

}  // namespace kavro::sim
