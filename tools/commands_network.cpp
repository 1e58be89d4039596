// discover, forceip, netconfig and info: finding cameras and their network settings.
#include <arpa/inet.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "camera_session.h"
#include "commands.h"

namespace gevtool {
namespace {

const char* discoveryStatusText(uint8_t status) {
    switch (status) {
        case GEV_DISCOVERY_AVAILABLE:
            return "available";
        case GEV_DISCOVERY_UNREACHABLE:
            return "unreachable or held exclusively";
        case GEV_DISCOVERY_OTHER_SUBNET:
            return "other subnet (needs forceip)";
        case GEV_DISCOVERY_CONTROLLED:
            return "controlled by another application";
        default:
            return "unknown";
    }
}

std::string fixedText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

int runDiscover(const CommandLine& line) {
    uint64_t timeout = 1000;
    if (const auto text = line.value("timeout")) {
        const auto ms = parseUnsigned(*text);
        if (!ms || *ms > 60000)
            return usageError(discoverCommand(), "--timeout takes milliseconds up to 60000");
        timeout = *ms;
    }
    if (!line.operands().empty())
        return usageError(discoverCommand(), "takes no operands");
    GevDeviceList list{};
    if (!check("discovery", GEVDiscovery(&list, nullptr, static_cast<uint32_t>(timeout),
                                         line.has("all") ? 1 : 0)))
        return kExitFailure;
    std::printf("%u camera(s)\n", list.count);
    if (list.count == 0)
        return kExitOk;
    std::printf("%-3s %-15s %-17s %-20s %-16s %-24s %s\n", "#", "address", "MAC", "model", "serial",
                "adapter", "status");
    for (uint8_t i = 0; i < list.count && i < GEV_MAX_DISCOVERED; ++i) {
        const GevDeviceInfo& d = list.devices[i];
        char mac[18];
        std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", d.macAddress[0],
                      d.macAddress[1], d.macAddress[2], d.macAddress[3], d.macAddress[4],
                      d.macAddress[5]);
        const std::string adapter = fixedText(d.adapterName, sizeof d.adapterName) + " (" +
                                    formatIpv4Host(ntohl(d.adapterAddress)) + ")";
        std::printf("%-3u %-15s %-17s %-20s %-16s %-24s %s\n", i + 1u,
                    formatIpv4Host(ntohl(d.deviceAddress)).c_str(), mac,
                    fixedText(d.modelName, sizeof d.modelName).c_str(),
                    fixedText(d.serialNumber, sizeof d.serialNumber).c_str(), adapter.c_str(),
                    discoveryStatusText(d.status));
    }
    return kExitOk;
}

int runForceIp(const CommandLine& line) {
    const auto& ops = line.operands();
    if (ops.size() != 2)
        return usageError(forceIpCommand(), "needs MAC and ADDRESS");
    uint8_t mac[6];
    if (!parseMac(ops[0], mac))
        return usageError(forceIpCommand(), "MAC must look like 00:0C:4B:10:20:30");
    const auto address = parseIpv4Host(ops[1]);
    const auto mask = parseIpv4Host(line.value("mask").value_or("255.255.255.0"));
    const auto gateway = parseIpv4Host(line.value("gateway").value_or("0.0.0.0"));
    if (!address || !mask || !gateway)
        return usageError(forceIpCommand(), "addresses must be dotted IPv4 addresses");
    if (!check("force IP", GEVForceIp(*address, *mask, *gateway, mac)))
        return kExitFailure;
    if (*address == 0)
        std::printf("asked %s to restart its IP configuration\n", ops[0].c_str());
    else
        std::printf("%s now has %s/%s\n", ops[0].c_str(), ops[1].c_str(),
                    formatIpv4Host(*mask).c_str());
    return kExitOk;
}

int runNetConfig(const CommandLine& line) {
    if (!line.operands().empty())
        return usageError(netConfigCommand(), "takes no operands");
    const bool setting = line.has("dhcp") || line.has("ip") || line.has("off");
    if (line.has("ip") && line.has("off"))
        return usageError(netConfigCommand(), "give --ip or --off, not both");
    std::optional<uint32_t> ip = 0;
    std::optional<uint32_t> mask = 0;
    std::optional<uint32_t> gateway = 0;
    if (line.has("ip")) {
        ip = parseIpv4Host(*line.value("ip"));
        mask = parseIpv4Host(line.value("mask").value_or("255.255.255.0"));
        gateway = parseIpv4Host(line.value("gateway").value_or("0.0.0.0"));
    } else if (line.has("mask") || line.has("gateway")) {
        return usageError(netConfigCommand(), "--mask and --gateway go with --ip");
    }
    if (!ip || !mask || !gateway)
        return usageError(netConfigCommand(), "addresses must be dotted IPv4 addresses");
    uint8_t dhcp = 0;
    if (const auto text = line.value("dhcp")) {
        if (*text != "on" && *text != "off")
            return usageError(netConfigCommand(), "--dhcp takes on or off");
        dhcp = *text == "on" ? 1 : 0;
    }

    CameraSession camera;
    int exitCode = kExitOk;
    const auto control = setting ? CameraSession::Control::Exclusive : CameraSession::Control::None;
    if (!CameraSession::open(line, control, camera, exitCode))
        return exitCode;
    if (setting) {
        if (!check("setting the persistent IP",
                   GEVSetNetConfig(sessionDevice(), dhcp, *ip, *mask, *gateway)))
            return kExitFailure;
        std::printf("stored; the camera uses it from its next start\n");
    }
    uint8_t dhcpNow = 0;
    uint32_t address = 0;
    uint32_t maskNow = 0;
    uint32_t gatewayNow = 0;
    if (!check("reading the persistent IP",
               GEVGetNetConfig(sessionDevice(), &dhcpNow, &address, &maskNow, &gatewayNow)))
        return kExitFailure;
    std::printf("DHCP           %s\n", dhcpNow != 0 ? "on" : "off");
    if (address == 0) {
        std::printf("persistent IP  off\n");
    } else {
        std::printf("persistent IP  %s\n", formatIpv4Host(address).c_str());
        std::printf("subnet mask    %s\n", formatIpv4Host(maskNow).c_str());
        std::printf("gateway        %s\n", formatIpv4Host(gatewayNow).c_str());
    }
    return kExitOk;
}

// Standard bootstrap register addresses.
struct Bootstrap {
    static constexpr uint32_t kVersion = 0x0000;
    static constexpr uint32_t kDeviceMode = 0x0004;
    static constexpr uint32_t kMacHigh = 0x0008;
    static constexpr uint32_t kCurrentIp = 0x0024;
    static constexpr uint32_t kCurrentMask = 0x0034;
    static constexpr uint32_t kCurrentGateway = 0x0044;
    static constexpr uint32_t kManufacturer = 0x0048;
    static constexpr uint32_t kModel = 0x0068;
    static constexpr uint32_t kDeviceVersion = 0x0088;
    static constexpr uint32_t kManufacturerInfo = 0x00A8;
    static constexpr uint32_t kSerial = 0x00D8;
    static constexpr uint32_t kUserName = 0x00E8;
    static constexpr uint32_t kFirstUrl = 0x0200;
    static constexpr uint32_t kSecondUrl = 0x0400;
    static constexpr uint32_t kMessageChannels = 0x0900;
    static constexpr uint32_t kStreamChannels = 0x0904;
    static constexpr uint32_t kActionSignals = 0x0908;
    static constexpr uint32_t kGvcpCapability = 0x0934;
    static constexpr uint32_t kHeartbeatTimeout = 0x0938;
    static constexpr uint32_t kTickFrequencyHigh = 0x093C;
    static constexpr uint32_t kCcp = 0x0A00;
    static constexpr uint32_t kScps0 = 0x0D04;
};

struct CapabilityBit {
    uint32_t value;
    const char* name;
};
constexpr CapabilityBit kCapabilities[] = {
    {0x80000000, "user-defined name"},
    {0x40000000, "serial number"},
    {0x20000000, "heartbeat disable"},
    {0x02000000, "test data"},
    {0x00020000, "scheduled action"},
    {0x00000040, "action"},
    {0x00000020, "pending acknowledge"},
    {0x00000010, "EVENTDATA"},
    {0x00000008, "EVENT"},
    {0x00000004, "packet resend"},
    {0x00000002, "WRITEMEM"},
    {0x00000001, "concatenation"},
};

std::string memoryText(uint32_t address, uint32_t size) {
    std::string text(size, '\0');
    if (GEVReadMemory(sessionDevice(), address, size, reinterpret_cast<uint8_t*>(text.data())) !=
        GEV_STATUS_SUCCESS)
        return "(unreadable)";
    text.resize(strnlen(text.c_str(), size));
    return text;
}

int runInfo(const CommandLine& line) {
    if (!line.operands().empty())
        return usageError(infoCommand(), "takes no operands");
    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::None, camera, exitCode))
        return exitCode;
    const uint8_t d = sessionDevice();
    uint32_t r[4] = {};
    if (!check("reading the bootstrap registers", GEVReadRegister(d, Bootstrap::kVersion, 4, r)))
        return kExitFailure;
    const uint32_t version = r[0];
    const uint32_t mode = r[1];
    const uint32_t macHigh = r[2];
    const uint32_t macLow = r[3];
    std::printf("manufacturer      %s\n", memoryText(Bootstrap::kManufacturer, 32).c_str());
    std::printf("model             %s\n", memoryText(Bootstrap::kModel, 32).c_str());
    std::printf("device version    %s\n", memoryText(Bootstrap::kDeviceVersion, 32).c_str());
    std::printf("manufacturer info %s\n", memoryText(Bootstrap::kManufacturerInfo, 48).c_str());
    std::printf("serial number     %s\n", memoryText(Bootstrap::kSerial, 16).c_str());
    std::printf("user name         %s\n", memoryText(Bootstrap::kUserName, 16).c_str());
    std::printf("GigE Vision       %u.%u\n", version >> 16, version & 0xFFFF);
    std::printf("device mode       0x%08X (%s endian, class %u)\n", mode,
                (mode & 0x80000000u) != 0 ? "big" : "little", (mode >> 28) & 0x7);
    std::printf("MAC               %02X:%02X:%02X:%02X:%02X:%02X\n", (macHigh >> 8) & 0xFF,
                macHigh & 0xFF, macLow >> 24, (macLow >> 16) & 0xFF, (macLow >> 8) & 0xFF,
                macLow & 0xFF);
    uint32_t net[9] = {};
    if (GEVReadRegister(d, Bootstrap::kCurrentIp, 1, &net[0]) == GEV_STATUS_SUCCESS &&
        GEVReadRegister(d, Bootstrap::kCurrentMask, 1, &net[1]) == GEV_STATUS_SUCCESS &&
        GEVReadRegister(d, Bootstrap::kCurrentGateway, 1, &net[2]) == GEV_STATUS_SUCCESS) {
        std::printf("current IP        %s/%s, gateway %s\n", formatIpv4Host(net[0]).c_str(),
                    formatIpv4Host(net[1]).c_str(), formatIpv4Host(net[2]).c_str());
    }
    std::printf("first URL         %s\n", memoryText(Bootstrap::kFirstUrl, 512).c_str());
    std::printf("second URL        %s\n", memoryText(Bootstrap::kSecondUrl, 512).c_str());

    uint32_t channels[3] = {};
    (void)GEVReadRegister(d, Bootstrap::kMessageChannels, 3, channels);
    std::printf("message channels  %u\nstream channels   %u\naction signals    %u\n", channels[0],
                channels[1], channels[2]);
    uint32_t capability = 0;
    if (GEVReadRegister(d, Bootstrap::kGvcpCapability, 1, &capability) == GEV_STATUS_SUCCESS) {
        std::string names;
        for (const CapabilityBit& bit : kCapabilities) {
            if ((capability & bit.value) != 0)
                names += (names.empty() ? "" : ", ") + std::string(bit.name);
        }
        std::printf("GVCP capability   0x%08X: %s\n", capability, names.c_str());
    }
    uint32_t timing[3] = {};
    if (GEVReadRegister(d, Bootstrap::kHeartbeatTimeout, 3, timing) == GEV_STATUS_SUCCESS) {
        const uint64_t hz = (uint64_t{timing[1]} << 32) | timing[2];
        std::printf("heartbeat timeout %u ms\ntick frequency    %llu Hz\n", timing[0],
                    static_cast<unsigned long long>(hz));
    }
    uint32_t ccp = 0;
    uint32_t scps = 0;
    if (GEVReadRegister(d, Bootstrap::kCcp, 1, &ccp) == GEV_STATUS_SUCCESS)
        std::printf("control (CCP)     0x%X%s\n", ccp, ccp == 0 ? " (nobody holds control)" : "");
    if (GEVReadRegister(d, Bootstrap::kScps0, 1, &scps) == GEV_STATUS_SUCCESS)
        std::printf("packet size       %u bytes\n", scps & 0xFFFF);
    return kExitOk;
}

}  // namespace

Command discoverCommand() {
    return {"discover",
            "list the cameras that answer a broadcast on any adapter",
            "usage: gevtool discover [--all] [--timeout MS]\n"
            "Broadcasts a discovery on every IPv4 adapter and prints one row per camera:\n"
            "row number (for -d), address, MAC, model, serial number, the adapter that\n"
            "heard it, and its status in words.\n"
            "  --all          also list cameras outside the adapter's subnet\n"
            "  --timeout MS   listen this long on each adapter (default 1000)\n"
            "  -h, --help     this text\n",
            {{0, "all", false}, {0, "timeout", true}},
            &runDiscover};
}

Command forceIpCommand() {
    return {"forceip",
            "give the camera with a MAC address a temporary IP address",
            "usage: gevtool forceip MAC ADDRESS [--mask MASK] [--gateway GATEWAY]\n"
            "Sends a Force IP broadcast: the camera with MAC (00:0C:4B:10:20:30) takes\n"
            "ADDRESS until it restarts. ADDRESS 0.0.0.0 makes it restart its IP set-up.\n"
            "  --mask MASK        subnet mask (default 255.255.255.0)\n"
            "  --gateway GATEWAY  default gateway (default 0.0.0.0)\n"
            "  -h, --help         this text\n",
            {{0, "mask", true}, {0, "gateway", true}},
            &runForceIp};
}

Command netConfigCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool netconfig CAMERA [--dhcp on|off] [--ip ADDRESS [--mask MASK]\n"
            "                [--gateway GATEWAY] | --off]\n"
            "Shows the camera's persistent IP settings and DHCP, or sets them (they\n"
            "take effect when the camera restarts).\n"
            "  --dhcp on|off       switch DHCP\n"
            "  --ip ADDRESS        persistent address (with --mask, --gateway)\n"
            "  --off               switch persistent IP off\n") +
        kCameraOptionsHelp;
    return {"netconfig", "show or set the persistent IP address and DHCP", help.c_str(),
            cameraOptions({{0, "dhcp", true},
                           {0, "ip", true},
                           {0, "mask", true},
                           {0, "gateway", true},
                           {0, "off", false}}),
            &runNetConfig};
}

Command infoCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool info CAMERA\n"
            "Prints the camera's bootstrap facts: names, versions, MAC, current IP,\n"
            "description URLs, channels, capabilities, heartbeat and tick rate.\n") +
        kCameraOptionsHelp;
    return {"info", "bootstrap facts, capabilities and versions of a camera", help.c_str(),
            cameraOptions(), &runInfo};
}

}  // namespace gevtool
