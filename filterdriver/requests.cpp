#include "filterdriver/requests.h"

#include <arpa/inet.h>

#include <array>
#include <optional>

#include "filterdriver/request_layout.h"
#include "platform/byte_order.h"

namespace kavro::filterdriver {

namespace {

using layout::loadLe16;
using layout::loadLe32;
using layout::loadLe64;
using layout::storeLe16;
using layout::storeLe32;

// Longest adapter device name the driver takes, in UTF-16 units.
constexpr size_t kMaxDeviceNameUnits = 520;

GevStatus refusedUnlessZero(uint32_t error) {
    return error == 0 ? GEV_STATUS_SUCCESS : GEV_STATUS_FILTER_DRIVER_REFUSED;
}

// A request that carries the device index and one byte value.
GevStatus sendByteSetting(FilterDevice& driver, uint32_t code, uint8_t device, uint8_t value) {
    std::array<uint8_t, layout::setting::kByteRequestSize> in{};
    in[layout::setting::kDeviceIndex] = device;
    in[layout::setting::kByteValue] = value;
    return refusedUnlessZero(driver.control(code, in, {}));
}

// Next code point of UTF-8 text at `i` (advanced past it); nullopt for a malformed sequence,
// an overlong form, a surrogate or a value beyond Unicode.
std::optional<uint32_t> nextCodePoint(const std::string& text, size_t& i) {
    const auto lead = static_cast<uint8_t>(text[i++]);
    if (lead < 0x80)
        return lead;
    size_t more = 0;
    uint32_t cp = 0;
    uint32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        more = 1;
        cp = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2;
        cp = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3;
        cp = lead & 0x07;
        least = 0x10000;
    } else {
        return std::nullopt;
    }
    for (size_t k = 0; k < more; ++k) {
        if (i >= text.size())
            return std::nullopt;
        const auto c = static_cast<uint8_t>(text[i++]);
        if ((c & 0xC0) != 0x80)
            return std::nullopt;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    return cp;
}

void appendUnit(std::vector<uint8_t>& out, uint16_t unit) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
}

}  // namespace

std::shared_ptr<FilterDevice> driverInUse(frame::GevDevice& dev) {
    if (dev.filterDriverOpen.load() == 0)
        return nullptr;
    return driverHandle(dev);
}

std::shared_ptr<FilterDevice> driverHandle(frame::GevDevice& dev) {
    std::lock_guard lock(dev.filterDriverGuard);
    return dev.filterDriverHandle;
}

std::vector<uint8_t> adapterDeviceName(const std::string& adapterName) {
    const std::string name = "\\DEVICE\\" + adapterName;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < name.size();) {
        const auto cp = nextCodePoint(name, i);
        if (!cp)
            return {};
        if (*cp < 0x10000) {
            appendUnit(out, static_cast<uint16_t>(*cp));
        } else {
            appendUnit(out, static_cast<uint16_t>(0xD800 + ((*cp - 0x10000) >> 10)));
            appendUnit(out, static_cast<uint16_t>(0xDC00 + ((*cp - 0x10000) & 0x3FF)));
        }
        if (out.size() > kMaxDeviceNameUnits * 2)
            return {};
    }
    return out;
}

uint32_t sendBindAdapter(FilterDevice& driver, std::span<const uint8_t> deviceName) {
    std::array<uint8_t, layout::kBindAnswerSize> answer{};
    if (const uint32_t error = driver.control(kRequestBindAdapter, deviceName, answer))
        return error;
    return loadLe32(answer.data());
}

GevStatus sendStartStream(FilterDevice& driver, uint8_t device, const StreamStart& s) {
    namespace at = layout::start;
    std::array<uint8_t, at::kSize> in{};
    storeLe32(&in[at::kWidth], s.imageWidth);
    storeLe32(&in[at::kHeight], s.imageHeight);
    // Addresses travel in network byte order, whatever the rest of the buffer does.
    platform::storeBe32(&in[at::kDeviceAddress], ntohl(s.deviceAddress));
    storeLe16(&in[at::kStreamPort], s.streamPort);
    storeLe16(&in[at::kControlPort], s.controlPort);
    storeLe32(&in[at::kPixelFormat], s.imagePixelFormat);
    platform::storeBe32(&in[at::kDestination], ntohl(s.destination));
    storeLe32(&in[at::kPayloadSize], s.payloadSize);
    storeLe16(&in[at::kPacketDataSize], s.packetDataSize);
    in[at::kResendEnabled] = s.resendEnabled;
    in[at::kMaxResend] = s.maxResend;
    in[at::kDeviceIndex] = device;
    storeLe32(&in[at::kImageTimeout], s.imageTimeoutMs);
    switch (driver.control(kRequestStartStream, in, {})) {
        case 0:
            return GEV_STATUS_SUCCESS;
        case kErrorInvalidHandle:
            return GEV_STATUS_FILTER_DRIVER_INVALID_HANDLE;
        case kErrorNotEnoughMemory:
            return GEV_STATUS_OUT_OF_MEMORY;
        default:
            return GEV_STATUS_FILTER_DRIVER_REFUSED;
    }
}

GevStatus sendStopStream(FilterDevice& driver, uint8_t device) {
    std::array<uint8_t, layout::start::kSize> in{};
    in[layout::start::kDeviceIndex] = device;
    // The driver answers with a buffer of the same size that nothing here reads.
    std::array<uint8_t, layout::start::kSize> ignored{};
    return refusedUnlessZero(driver.control(kRequestStopStream, in, ignored));
}

GevStatus sendSetPacketResend(FilterDevice& driver, uint8_t device, bool enabled) {
    return sendByteSetting(driver, kRequestSetPacketResend, device, enabled ? 1 : 0);
}

GevStatus sendSetPacketsOutOfOrder(FilterDevice& driver, uint8_t device, uint8_t window) {
    return sendByteSetting(driver, kRequestSetPacketsOutOfOrder, device, window);
}

GevStatus sendSetBufferCount(FilterDevice& driver, uint8_t device, uint16_t count) {
    std::array<uint8_t, layout::setting::kBufferCountSize> in{};
    in[layout::setting::kDeviceIndex] = device;
    storeLe16(&in[layout::setting::kBufferCount], count);
    return refusedUnlessZero(driver.control(kRequestSetBufferCount, in, {}));
}

GevStatus sendTestPacketResend(FilterDevice& driver, uint8_t device, uint16_t first,
                               uint16_t count) {
    std::array<uint8_t, layout::setting::kTestSize> in{};
    in[layout::setting::kDeviceIndex] = device;
    storeLe16(&in[layout::setting::kTestFirst], first);
    storeLe16(&in[layout::setting::kTestCount], count);
    return refusedUnlessZero(driver.control(kRequestTestPacketResend, in, {}));
}

GevStatus sendGetVersion(FilterDevice& driver, uint8_t& major, uint8_t& minor) {
    std::array<uint8_t, layout::version::kRequestSize> in{};
    std::array<uint8_t, layout::version::kAnswerSize> out{};
    if (const GevStatus s = refusedUnlessZero(driver.control(kRequestGetVersion, in, out)))
        return s;
    major = out[0];
    minor = out[1];
    return GEV_STATUS_SUCCESS;
}

GevStatus sendGetImageHeader(FilterDevice& driver, uint8_t device, GevImageHeader& h) {
    std::array<uint8_t, layout::header::kSize> in{};
    in[layout::header::kDeviceIndex] = device;
    std::array<uint8_t, layout::header::kSize> out{};
    if (const GevStatus s = refusedUnlessZero(driver.control(kRequestGetImageHeader, in, out)))
        return s;
    h = layout::header::load(&out[layout::header::kImageHeader]);
    return GEV_STATUS_SUCCESS;
}

GevStatus sendGetStatistics(FilterDevice& driver, uint8_t device, DriverStatistics& statistics) {
    namespace at = layout::statistics;
    std::array<uint8_t, at::kSize> in{};
    in[at::kDeviceIndex] = device;
    std::array<uint8_t, at::kSize> out{};
    if (const GevStatus s = refusedUnlessZero(driver.control(kRequestGetStatistics, in, out)))
        return s;
    statistics.framesReceived = loadLe32(&out[at::kFramesReceived]);
    statistics.framesWithErrors = loadLe32(&out[at::kFramesWithErrors]);
    statistics.packetErrors = loadLe32(&out[at::kPacketErrors]);
    statistics.intervalCount = loadLe32(&out[at::kIntervalCount]);
    statistics.intervalSumMs = loadLe64(&out[at::kIntervalSumMs]);
    return GEV_STATUS_SUCCESS;
}

double framesPerSecond(uint32_t intervalCount, uint64_t intervalSumMs) {
    if (intervalCount == 0)
        return 0.0;
    const double ms = static_cast<double>(intervalSumMs) / intervalCount;
    return ms == 0.0 ? 0.0 : 1000.0 / ms;
}

GevStatus readImage(FilterDevice& driver, uint8_t device, std::span<uint8_t> destination) {
    if (destination.empty())
        return GEV_STATUS_INVALID_ARGUMENT;
    // Reads name their device zero-based, unlike the requests.
    destination[0] = static_cast<uint8_t>(device - 1);
    switch (driver.read(destination)) {
        case 0:
            return GEV_STATUS_SUCCESS;
        case kErrorSemaphoreTimeout:
            return GEV_STATUS_TIMEOUT;
        case kErrorInvalidParameter:
            return GEV_STATUS_FILTER_DRIVER_INVALID_PARAMETER;
        default:
            return GEV_STATUS_IMAGE_INCOMPLETE;
    }
}

}  // namespace kavro::filterdriver
