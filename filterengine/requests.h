// The filter driver's request buffers as the engine reads them, and its answers as it writes
// them: little-endian fields at fixed offsets (addresses in network byte order), every length
// and device index checked before a field is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "KavroGigEVisionLib.h"
#include "filterdriver/request_layout.h"
#include "filterdriver/requests.h"

namespace kavro::filterengine {

inline constexpr uint8_t kVersionMajor = 1;
inline constexpr uint8_t kVersionMinor = 0;

namespace layout = filterdriver::layout;
inline constexpr size_t kBindAnswerSize = layout::kBindAnswerSize;
inline constexpr size_t kStreamRequestSize = layout::start::kSize;  // start and stop
inline constexpr size_t kByteSettingSize = layout::setting::kByteRequestSize;
inline constexpr size_t kBufferCountSize = layout::setting::kBufferCountSize;
inline constexpr size_t kTestResendSize = layout::setting::kTestSize;
inline constexpr size_t kVersionRequestSize = layout::version::kRequestSize;
inline constexpr size_t kVersionAnswerSize = layout::version::kAnswerSize;
inline constexpr size_t kImageHeaderSize = layout::header::kSize;
inline constexpr size_t kStatisticsSize = layout::statistics::kSize;

struct StartStream {
    uint32_t imageWidth = 0;  // 0: started without a device description
    uint32_t imageHeight = 0;
    uint32_t deviceAddressNet = 0;
    uint16_t streamPort = 0;
    uint16_t controlPort = 0;
    uint32_t pixelFormat = 0;
    uint32_t destinationNet = 0;
    uint32_t payloadSize = 0;
    uint16_t packetDataSize = 0;
    bool resendEnabled = false;
    uint8_t maxResend = 0;
    uint8_t device = 0;  // 1..20
    uint32_t imageTimeoutMs = 0;
};

struct ByteSetting {
    uint8_t device = 0;
    uint8_t value = 0;
};

struct BufferCount {
    uint8_t device = 0;
    uint16_t count = 0;
};

struct TestResend {
    uint8_t device = 0;
    uint16_t first = 0;  // 0: test off
    uint16_t count = 0;
};

// What the statistics answer carries, as the library reads it.
using Statistics = filterdriver::DriverStatistics;

// Each returns nullopt when the buffer has the wrong size or names no device index 1..20.
std::optional<StartStream> parseStartStream(std::span<const uint8_t> in);
std::optional<uint8_t> parseStopStream(std::span<const uint8_t> in);
std::optional<ByteSetting> parseByteSetting(std::span<const uint8_t> in);
std::optional<BufferCount> parseBufferCount(std::span<const uint8_t> in);
std::optional<TestResend> parseTestResend(std::span<const uint8_t> in);
// The device index in the first byte of a request of exactly `size` bytes.
std::optional<uint8_t> parseDeviceQuery(std::span<const uint8_t> in, size_t size);
// The device index a read names: its first byte, zero-based.
std::optional<uint8_t> parseReadDevice(std::span<const uint8_t> dest);

// The adapter's interface name from "\DEVICE\<name>" in UTF-16LE without terminator; nullopt
// when the text is not of that form (odd length, other prefix, characters beyond ASCII, an
// empty name or one longer than an interface name can be).
std::optional<std::string> parseAdapterName(std::span<const uint8_t> in);

void writeBindAnswer(std::span<uint8_t, kBindAnswerSize> out, uint32_t status);
void writeVersion(std::span<uint8_t, kVersionAnswerSize> out);
// The image header from byte 8 on, in the exported header's field order; bytes 0..7 zero.
void writeImageHeader(std::span<uint8_t, kImageHeaderSize> out, const GevImageHeader& header);
void writeStatistics(std::span<uint8_t, kStatisticsSize> out, const Statistics& statistics);

}  // namespace kavro::filterengine
