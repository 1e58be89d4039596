// Addresses and bits of the GigE Vision bootstrap registers that the library and the simulator use.
#pragma once

#include <cstdint>

namespace kavro::gvcp::reg {

inline constexpr uint32_t kVersion = 0x0000;
inline constexpr uint32_t kDeviceMode = 0x0004;
inline constexpr uint32_t kMacHigh = 0x0008;
inline constexpr uint32_t kMacLow = 0x000C;
inline constexpr uint32_t kNetworkInterfaceCapability = 0x0010;
inline constexpr uint32_t kNetworkInterfaceConfiguration = 0x0014;
inline constexpr uint32_t kCurrentIpAddress = 0x0024;
inline constexpr uint32_t kCurrentSubnetMask = 0x0034;
inline constexpr uint32_t kCurrentGateway = 0x0044;
inline constexpr uint32_t kManufacturerName = 0x0048;  // 32 bytes
inline constexpr uint32_t kModelName = 0x0068;         // 32 bytes
inline constexpr uint32_t kDeviceVersion = 0x0088;     // 32 bytes
inline constexpr uint32_t kManufacturerInfo = 0x00A8;  // 48 bytes
inline constexpr uint32_t kSerialNumber = 0x00D8;      // 16 bytes
inline constexpr uint32_t kUserDefinedName = 0x00E8;   // 16 bytes
inline constexpr uint32_t kFirstUrl = 0x0200;          // 512 bytes
inline constexpr uint32_t kSecondUrl = 0x0400;         // 512 bytes
inline constexpr uint32_t kNumberOfNetworkInterfaces = 0x0600;
inline constexpr uint32_t kPersistentIpAddress = 0x064C;
inline constexpr uint32_t kPersistentSubnetMask = 0x065C;
inline constexpr uint32_t kPersistentGateway = 0x066C;
inline constexpr uint32_t kLinkSpeed = 0x0670;
inline constexpr uint32_t kNumberOfMessageChannels = 0x0900;
inline constexpr uint32_t kNumberOfStreamChannels = 0x0904;
inline constexpr uint32_t kNumberOfActionSignals = 0x0908;
inline constexpr uint32_t kStreamChannelCapability = 0x092C;
inline constexpr uint32_t kMessageChannelCapability = 0x0930;
inline constexpr uint32_t kGvcpCapability = 0x0934;
inline constexpr uint32_t kHeartbeatTimeout = 0x0938;
inline constexpr uint32_t kTimestampTickFrequencyHigh = 0x093C;
inline constexpr uint32_t kTimestampTickFrequencyLow = 0x0940;
inline constexpr uint32_t kTimestampControl = 0x0944;
inline constexpr uint32_t kTimestampValueHigh = 0x0948;
inline constexpr uint32_t kTimestampValueLow = 0x094C;
inline constexpr uint32_t kGvcpConfiguration = 0x0954;
inline constexpr uint32_t kGvspConfiguration = 0x0960;
inline constexpr uint32_t kActionDeviceKey = 0x090C;
inline constexpr uint32_t kCcp = 0x0A00;
inline constexpr uint32_t kPrimaryApplicationPort = 0x0A04;
inline constexpr uint32_t kPrimaryApplicationAddress = 0x0A14;
inline constexpr uint32_t kMcp = 0x0B00;
inline constexpr uint32_t kMcda = 0x0B10;
inline constexpr uint32_t kMctt = 0x0B14;
inline constexpr uint32_t kMcrc = 0x0B18;
inline constexpr uint32_t kScp0 = 0x0D00;
inline constexpr uint32_t kScps0 = 0x0D04;
inline constexpr uint32_t kScpd0 = 0x0D08;
inline constexpr uint32_t kScda0 = 0x0D18;
inline constexpr uint32_t kScc0 = 0x0D20;
inline constexpr uint32_t kActionGroupKey0 = 0x9800;
inline constexpr uint32_t kActionGroupMask0 = 0x9804;

// String register sizes.
inline constexpr uint32_t kManufacturerNameSize = 32;
inline constexpr uint32_t kModelNameSize = 32;
inline constexpr uint32_t kDeviceVersionSize = 32;
inline constexpr uint32_t kManufacturerInfoSize = 48;
inline constexpr uint32_t kSerialNumberSize = 16;
inline constexpr uint32_t kUserDefinedNameSize = 16;
inline constexpr uint32_t kUrlSize = 512;

// GVCP capability (0x0934) bits as values (the standard numbers bit 0 as the most significant).
inline constexpr uint32_t kCapConcatenation = 0x00000001;
inline constexpr uint32_t kCapWriteMem = 0x00000002;
inline constexpr uint32_t kCapPacketResend = 0x00000004;
inline constexpr uint32_t kCapEvent = 0x00000008;
inline constexpr uint32_t kCapEventData = 0x00000010;
inline constexpr uint32_t kCapPendingAck = 0x00000020;
inline constexpr uint32_t kCapAction = 0x00000040;
inline constexpr uint32_t kCapScheduledAction = 0x00020000;
inline constexpr uint32_t kCapTestData = 0x02000000;
inline constexpr uint32_t kCapHeartbeatDisable = 0x20000000;
inline constexpr uint32_t kCapSerialNumber = 0x40000000;
inline constexpr uint32_t kCapUserDefinedName = 0x80000000;

// CCP (0x0A00) bits as values.
inline constexpr uint32_t kCcpExclusiveAccess = 0x1;
inline constexpr uint32_t kCcpControlAccess = 0x2;

// GVCP configuration (0x0954) bit value: heartbeat disabled.
inline constexpr uint32_t kGvcpConfigHeartbeatDisable = 0x1;

}  // namespace kavro::gvcp::reg
