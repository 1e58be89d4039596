#include "camera_session.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

namespace gevtool {
namespace {

std::mutex logMutex;
std::vector<std::string> logLines;
std::atomic<bool> verbose{false};
uint8_t openIndex = 1;

void keepLogLine(uint8_t device, const char* line) {
    if (verbose.load())
        std::fprintf(stderr, "[dev %u] %s\n", device, line);
    std::lock_guard lock(logMutex);
    logLines.emplace_back(line);
}

// The adapter whose subnet holds `cameraNet`: its address, mask and name.
bool adapterFor(uint32_t cameraNet, GevConnectInfo& info) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* a = list; a != nullptr && !found; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_netmask == nullptr ||
            a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_UP) == 0)
            continue;
        const uint32_t address =
            reinterpret_cast<const sockaddr_in*>(static_cast<const void*>(a->ifa_addr))
                ->sin_addr.s_addr;
        const uint32_t mask =
            reinterpret_cast<const sockaddr_in*>(static_cast<const void*>(a->ifa_netmask))
                ->sin_addr.s_addr;
        if ((address & mask) != (cameraNet & mask))
            continue;
        info.hostAddress = address;
        info.subnetMask = mask;
        std::snprintf(info.adapterName, sizeof info.adapterName, "%s", a->ifa_name);
        found = true;
    }
    freeifaddrs(list);
    return found;
}

bool connectInfoFromDiscovery(const std::string& choice, GevConnectInfo& info) {
    GevDeviceList list{};
    if (!check("discovery", GEVDiscovery(&list, nullptr, 1000, 0)))
        return false;
    const auto index = parseUnsigned(choice);
    for (uint8_t i = 0; i < list.count && i < GEV_MAX_DISCOVERED; ++i) {
        const GevDeviceInfo& d = list.devices[i];
        const std::string serial(d.serialNumber, strnlen(d.serialNumber, sizeof d.serialNumber));
        if ((index && *index == i + 1u) || (!index && serial == choice)) {
            info.deviceAddress = d.deviceAddress;
            info.hostAddress = d.adapterAddress;
            info.subnetMask = d.adapterMask;
            std::memcpy(info.adapterName, d.adapterName, sizeof info.adapterName);
            info.adapterName[sizeof info.adapterName - 1] = '\0';
            return true;
        }
    }
    std::fprintf(stderr, "gevtool: no camera \"%s\" among the %u discovered\n", choice.c_str(),
                 list.count);
    return false;
}

// In the build tree the schema and stylesheet files sit in data/ beside tools/. An installed
// tool finds them in the installed data folder by itself.
void useBuildTreeDataFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return;
    const auto data = exe.parent_path().parent_path() / "data";
    if (std::filesystem::exists(data / "GenApiSchema_Version_1_1.xsd", error))
        (void)GEVSetDescriptionDataFolder(data.c_str());
}

}  // namespace

const char* const kCameraOptionsHelp =
    "  -a, --address ADDRESS   the camera at this IPv4 address (no discovery needed)\n"
    "  -d, --device INDEX|SERIAL\n"
    "                          the camera of this row of `gevtool discover` (from 1) or with\n"
    "                          this serial number\n"
    "  -v, --verbose           print the library's log lines of the device on stderr\n"
    "  -h, --help              this text\n";

std::vector<OptionInfo> cameraOptions(std::vector<OptionInfo> more) {
    more.push_back({'a', "address", true});
    more.push_back({'d', "device", true});
    more.push_back({'v', "verbose", false});
    return more;
}

bool check(const char* what, GevStatus status) {
    if (status != GEV_STATUS_SUCCESS)
        std::fprintf(stderr, "gevtool: %s: %s\n", what, GEVStatusText(status));
    return status == GEV_STATUS_SUCCESS;
}

void setVerboseLog(bool on) {
    verbose = on;
}

bool CameraSession::open(const CommandLine& line, Control control, CameraSession& session,
                         int& exitCode) {
    exitCode = kExitFailure;
    setVerboseLog(line.has("verbose"));
    GevConnectInfo info{};
    const auto address = line.value("address");
    const auto device = line.value("device");
    if (address && device) {
        std::fprintf(stderr, "gevtool: give either -a or -d, not both\n");
        exitCode = kExitUsage;
        return false;
    }
    if (address) {
        const auto host = parseIpv4Host(*address);
        if (!host) {
            std::fprintf(stderr, "gevtool: \"%s\" is not an IPv4 address\n", address->c_str());
            exitCode = kExitUsage;
            return false;
        }
        info.deviceAddress = htonl(*host);
        if (!adapterFor(info.deviceAddress, info)) {
            std::fprintf(stderr, "gevtool: no adapter of this host is on the subnet of %s\n",
                         address->c_str());
            return false;
        }
    } else if (!connectInfoFromDiscovery(device.value_or("1"), info)) {
        return false;
    }
    // Another process may hold an index (they are shared by every process of the machine).
    GevStatus status = GEV_STATUS_DEVICE_ALREADY_OPEN;
    for (uint8_t index = 1; index <= 20 && status == GEV_STATUS_DEVICE_ALREADY_OPEN; ++index) {
        openIndex = index;
        status = GEVInit(index, &info, &keepLogLine, 0, static_cast<uint8_t>(control));
    }
    if (!check("open", status))
        return false;
    session.open_ = true;
    exitCode = kExitOk;
    return true;
}

uint8_t sessionDevice() {
    return openIndex;
}

CameraSession::~CameraSession() {
    if (open_)
        (void)GEVClose(openIndex);
}

bool CameraSession::loadDescription() {
    useBuildTreeDataFolder();
    return check("loading the device description", GEVInitXml(openIndex));
}

std::vector<std::string> CameraSession::takeLog() {
    std::lock_guard lock(logMutex);
    return std::exchange(logLines, {});
}

}  // namespace gevtool
