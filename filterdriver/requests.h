// The requests the stream calls send to the filter driver, one operation each, and the image
// read. Each builds its buffer in full and turns the driver's answer into a status: 0 or 0xC011
// (refused) unless said otherwise. `device` is the one-based index the request is for.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "filterdriver/filter_device.h"
#include "frame/device.h"

namespace kavro::filterdriver {

// The device's driver while the stream calls use it (filterDriverOpen set), else null.
std::shared_ptr<FilterDevice> driverInUse(frame::GevDevice& device);
// The device's driver handle whether or not the stream calls use it, else null.
std::shared_ptr<FilterDevice> driverHandle(frame::GevDevice& device);

// The driver's name of an adapter, "\DEVICE\<adapter>", as UTF-16LE without a terminator; empty
// when the name is not valid UTF-8 or longer than the driver takes.
std::vector<uint8_t> adapterDeviceName(const std::string& adapterName);
// 0 when the driver bound the adapter; otherwise the error number or the driver's status word.
uint32_t sendBindAdapter(FilterDevice& driver, std::span<const uint8_t> deviceName);

// What the driver needs to receive one device's stream.
struct StreamStart {
    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
    uint32_t deviceAddress = 0;  // network byte order
    uint16_t streamPort = 0;
    uint16_t controlPort = 0;
    uint32_t imagePixelFormat = 0;
    uint32_t destination = 0;  // network byte order: the multicast group or the host
    uint32_t payloadSize = 0;
    uint16_t packetDataSize = 0;
    uint8_t resendEnabled = 0;
    uint8_t maxResend = 0;
    uint32_t imageTimeoutMs = 0;
};
// 0xC019 for an invalid handle, 0xC007 when the driver is short of memory, else 0xC011.
GevStatus sendStartStream(FilterDevice& driver, uint8_t device, const StreamStart& start);
GevStatus sendStopStream(FilterDevice& driver, uint8_t device);

GevStatus sendSetPacketResend(FilterDevice& driver, uint8_t device, bool enabled);
GevStatus sendSetPacketsOutOfOrder(FilterDevice& driver, uint8_t device, uint8_t window);
GevStatus sendSetBufferCount(FilterDevice& driver, uint8_t device, uint16_t count);
GevStatus sendTestPacketResend(FilterDevice& driver, uint8_t device, uint16_t first,
                               uint16_t count);
GevStatus sendGetVersion(FilterDevice& driver, uint8_t& major, uint8_t& minor);

// Header of the image the last read delivered.
GevStatus sendGetImageHeader(FilterDevice& driver, uint8_t device, GevImageHeader& header);

struct DriverStatistics {
    uint32_t framesReceived = 0;
    uint32_t framesWithErrors = 0;
    uint32_t packetErrors = 0;
    uint32_t intervalCount = 0;
    uint64_t intervalSumMs = 0;
};
GevStatus sendGetStatistics(FilterDevice& driver, uint8_t device, DriverStatistics& statistics);
// Frames per second from the measured intervals; 0 when none was measured.
double framesPerSecond(uint32_t intervalCount, uint64_t intervalSumMs);

// Reads the next complete image of `device` into `destination` (the payload size). 0xC008 when
// none came within the driver's wait, 0xC027 when the driver found the request invalid, 0xC010
// on any other failure.
GevStatus readImage(FilterDevice& driver, uint8_t device, std::span<uint8_t> destination);

}  // namespace kavro::filterdriver
