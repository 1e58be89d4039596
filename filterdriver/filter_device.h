// The filter driver as the library sees it: a device opened by name that answers control
// requests and image reads. The library's own packet-ring engine stands behind it in a normal
// run; tests put a recording device in its place and check every buffer byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace kavro::filterdriver {

// Error numbers a driver answers with. They keep the numbering of the platform the driver
// interface comes from, since the library maps them to its status codes by number.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorGeneralFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorSemaphoreTimeout = 121;

// Device-control codes: device type 0x12 (network), buffered transfer, read and write access.
constexpr uint32_t requestCode(uint32_t function) {
    return 0x0012C000u + function * 4u;
}
inline constexpr uint32_t kRequestBindAdapter = requestCode(0x202);
inline constexpr uint32_t kRequestStartStream = requestCode(0x205);
inline constexpr uint32_t kRequestStopStream = requestCode(0x206);
inline constexpr uint32_t kRequestSetPacketResend = requestCode(0x207);
inline constexpr uint32_t kRequestGetVersion = requestCode(0x209);
inline constexpr uint32_t kRequestGetImageHeader = requestCode(0x20A);
inline constexpr uint32_t kRequestGetStatistics = requestCode(0x20B);
inline constexpr uint32_t kRequestSetBufferCount = requestCode(0x20C);
inline constexpr uint32_t kRequestSetPacketsOutOfOrder = requestCode(0x20D);
inline constexpr uint32_t kRequestTestPacketResend = requestCode(0x20E);

// The two names the driver is looked for under, in this order.
inline constexpr const char* kDriverName = "\\\\.\\MORVAGEVFilter";
inline constexpr const char* kGlobalDriverName = "\\\\.\\Global\\MORVAGEVFilter";

class FilterDevice {
  public:
    virtual ~FilterDevice() = default;
    // A synchronous control request: `in` as sent; `out` receives at most out.size() bytes.
    // Returns 0 or an error number.
    virtual uint32_t control(uint32_t code, std::span<const uint8_t> in,
                             std::span<uint8_t> out) = 0;
    // A synchronous read of dest.size() bytes into dest; the first byte names the device
    // (zero-based) on the way in. Returns 0 or an error number.
    virtual uint32_t read(std::span<uint8_t> dest) = 0;
};

// Opens the device of that name; on failure null, with `error` set.
using FilterDeviceOpener =
    std::function<std::unique_ptr<FilterDevice>(const std::string& name, uint32_t& error)>;

// The opener GEVInitFilterDriver uses: the one set here when there is one (tests), else the
// default the library installs at its first open (its packet-ring engine).
void setFilterDeviceOpener(FilterDeviceOpener opener);
void setDefaultFilterDeviceOpener(FilterDeviceOpener opener);
std::unique_ptr<FilterDevice> openFilterDevice(const std::string& name, uint32_t& error);

}  // namespace kavro::filterdriver
