#include "filterengine/requests.h"

#include <net/if.h>

#include <algorithm>
#include <cstring>

#include "filterdriver/request_layout.h"
#include "frame/device.h"

namespace kavro::filterengine {

namespace {

using layout::loadLe16;
using layout::loadLe32;
using layout::storeLe32;
using layout::storeLe64;
namespace stream = layout::start;
namespace statistics = layout::statistics;

// An address travels as its four bytes in network order.
uint32_t loadAddressNet(const uint8_t* p) {
    uint32_t net = 0;
    std::memcpy(&net, p, sizeof net);
    return net;
}

std::optional<uint8_t> deviceIndex(uint8_t oneBased) {
    if (oneBased == 0 || oneBased > frame::kMaxDeviceIndex)
        return std::nullopt;
    return oneBased;
}

// Settings: the device index, one byte left unset where the value is 16 bits, the value.
constexpr size_t kSettingValue = layout::setting::kByteValue;
constexpr size_t kSettingWord = layout::setting::kBufferCount;
constexpr size_t kTestCount = layout::setting::kTestCount;

constexpr char kDevicePrefix[] = "\\DEVICE\\";

}  // namespace

std::optional<StartStream> parseStartStream(std::span<const uint8_t> in) {
    if (in.size() != kStreamRequestSize)
        return std::nullopt;
    const uint8_t* p = in.data();
    const auto device = deviceIndex(p[stream::kDeviceIndex]);
    if (!device)
        return std::nullopt;
    StartStream s;
    s.imageWidth = loadLe32(p + stream::kWidth);
    s.imageHeight = loadLe32(p + stream::kHeight);
    s.deviceAddressNet = loadAddressNet(p + stream::kDeviceAddress);
    s.streamPort = loadLe16(p + stream::kStreamPort);
    s.controlPort = loadLe16(p + stream::kControlPort);
    s.pixelFormat = loadLe32(p + stream::kPixelFormat);
    s.destinationNet = loadAddressNet(p + stream::kDestination);
    s.payloadSize = loadLe32(p + stream::kPayloadSize);
    s.packetDataSize = loadLe16(p + stream::kPacketDataSize);
    s.resendEnabled = p[stream::kResendEnabled] != 0;
    s.maxResend = p[stream::kMaxResend];
    s.device = *device;
    s.imageTimeoutMs = loadLe32(p + stream::kImageTimeout);
    return s;
}

std::optional<uint8_t> parseStopStream(std::span<const uint8_t> in) {
    if (in.size() != kStreamRequestSize)
        return std::nullopt;
    return deviceIndex(in[stream::kDeviceIndex]);
}

std::optional<ByteSetting> parseByteSetting(std::span<const uint8_t> in) {
    if (in.size() != kByteSettingSize)
        return std::nullopt;
    const auto device = deviceIndex(in[0]);
    if (!device)
        return std::nullopt;
    return ByteSetting{*device, in[kSettingValue]};
}

std::optional<BufferCount> parseBufferCount(std::span<const uint8_t> in) {
    if (in.size() != kBufferCountSize)
        return std::nullopt;
    const auto device = deviceIndex(in[0]);
    if (!device)
        return std::nullopt;
    return BufferCount{*device, loadLe16(&in[kSettingWord])};
}

std::optional<TestResend> parseTestResend(std::span<const uint8_t> in) {
    if (in.size() != kTestResendSize)
        return std::nullopt;
    const auto device = deviceIndex(in[0]);
    if (!device)
        return std::nullopt;
    return TestResend{*device, loadLe16(&in[kSettingWord]), loadLe16(&in[kTestCount])};
}

std::optional<uint8_t> parseDeviceQuery(std::span<const uint8_t> in, size_t size) {
    if (in.size() != size)
        return std::nullopt;
    return deviceIndex(in[0]);
}

std::optional<uint8_t> parseReadDevice(std::span<const uint8_t> dest) {
    if (dest.empty() || dest[0] >= frame::kMaxDeviceIndex)
        return std::nullopt;
    return static_cast<uint8_t>(dest[0] + 1);
}

std::optional<std::string> parseAdapterName(std::span<const uint8_t> in) {
    constexpr size_t prefix = sizeof kDevicePrefix - 1;
    if (in.size() % 2 != 0)
        return std::nullopt;
    const size_t chars = in.size() / 2;
    if (chars <= prefix || chars - prefix >= IFNAMSIZ)
        return std::nullopt;
    std::string text;
    text.reserve(chars);
    for (size_t i = 0; i < chars; ++i) {
        const uint16_t c = loadLe16(&in[2 * i]);
        if (c < 0x21 || c > 0x7E)
            return std::nullopt;
        text.push_back(static_cast<char>(c));
    }
    // The device namespace is not case-sensitive.
    for (size_t i = 0; i < prefix; ++i) {
        const char c = text[i];
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper != kDevicePrefix[i])
            return std::nullopt;
    }
    std::string name = text.substr(prefix);
    if (name.find_first_of("/\\") != std::string::npos)
        return std::nullopt;
    return name;
}

void writeBindAnswer(std::span<uint8_t, kBindAnswerSize> out, uint32_t status) {
    storeLe32(out.data(), status);
}

void writeVersion(std::span<uint8_t, kVersionAnswerSize> out) {
    out[0] = kVersionMajor;
    out[1] = kVersionMinor;
}

void writeImageHeader(std::span<uint8_t, kImageHeaderSize> out, const GevImageHeader& h) {
    std::fill(out.begin(), out.end(), uint8_t{0});
    layout::header::store(out.data() + layout::header::kImageHeader, h);
}

void writeStatistics(std::span<uint8_t, kStatisticsSize> out, const Statistics& s) {
    std::fill(out.begin(), out.end(), uint8_t{0});
    uint8_t* p = out.data();
    storeLe32(p + statistics::kFramesReceived, s.framesReceived);
    storeLe32(p + statistics::kFramesWithErrors, s.framesWithErrors);
    storeLe32(p + statistics::kPacketErrors, s.packetErrors);
    storeLe32(p + statistics::kIntervalCount, s.intervalCount);
    storeLe64(p + statistics::kIntervalSumMs, s.intervalSumMs);
}

}  // namespace kavro::filterengine
