// gevtool demo (the rest of the tool is in main.cpp and commands_*.cpp): the library shown
// against a simulated camera started inside the tool.
//   gevtool demo    opens a simulated camera embedded in the tool, keeps control with the
//                   heartbeat, receives an event, grabs a stream of images (with packet resend
//                   making up for injected loss), prints the stream statistics, then loads the
//                   camera's device description, sets exposure, gain and the image window
//                   through its features, reads the window back with a convenience call,
//                   grabs frames with the camera started by the library,
//                   fires a test packet and searches the largest packet size the simulated
//                   network path passes, and closes
// It reaches into the simulator (to start the camera inside the tool, inject loss and send an
// event); every other subcommand uses only the public header.
#include <arpa/inet.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "commands.h"
#include "gvcp/bootstrap.h"
#include "gvcp/wire_events.h"
#include "platform/socket.h"
#include "sim/camera_server.h"
#include "sim/stream_source.h"

namespace {

namespace reg = kavro::gvcp::reg;
constexpr uint8_t kDevice = 1;

void printLogLine(uint8_t device, const char* line) {
    std::printf("  [dev %u] %s\n", device, line);
}

std::string readString(uint32_t address, uint32_t size) {
    std::string text(size, '\0');
    if (GEVReadMemory(kDevice, address, size, reinterpret_cast<uint8_t*>(text.data())) != 0) {
        return "<unreadable>";
    }
    text.resize(strnlen(text.c_str(), size));
    return text;
}

void printRegister(const char* name, uint32_t address) {
    uint32_t value = 0;
    const GevStatus status = GEVReadRegister(kDevice, address, 1, &value);
    if (status == GEV_STATUS_SUCCESS) {
        std::printf("  %-28s 0x%04X = 0x%08X\n", name, address, value);
    } else {
        std::printf("  %-28s 0x%04X : %s\n", name, address, GEVStatusText(status));
    }
}

void printEvent(uint8_t device, const GevEventInfo* event) {
    std::printf("  event on device %u: id 0x%04X, block %llu, timestamp %llu, %u data bytes\n",
                device, event->eventId, static_cast<unsigned long long>(event->blockId),
                static_cast<unsigned long long>(event->timestamp), event->dataLength);
}

void printDeviceStrings() {
    std::printf("Device strings:\n");
    std::printf("  manufacturer   %s\n", readString(reg::kManufacturerName, 32).c_str());
    std::printf("  model          %s\n", readString(reg::kModelName, 32).c_str());
    std::printf("  version        %s\n", readString(reg::kDeviceVersion, 32).c_str());
    std::printf("  serial number  %s\n", readString(reg::kSerialNumber, 16).c_str());
    std::printf("  user name      %s\n", readString(reg::kUserDefinedName, 16).c_str());
    std::printf("  first URL      %s\n", readString(reg::kFirstUrl, 512).c_str());
}

void printRegisters() {
    std::printf("Bootstrap registers:\n");
    printRegister("version", reg::kVersion);
    printRegister("device mode", reg::kDeviceMode);
    printRegister("MAC high", reg::kMacHigh);
    printRegister("MAC low", reg::kMacLow);
    printRegister("message channels", reg::kNumberOfMessageChannels);
    printRegister("stream channels", reg::kNumberOfStreamChannels);
    printRegister("GVCP capability", reg::kGvcpCapability);
    printRegister("heartbeat time-out (ms)", reg::kHeartbeatTimeout);
    printRegister("tick frequency high", reg::kTimestampTickFrequencyHigh);
    printRegister("tick frequency low", reg::kTimestampTickFrequencyLow);
    printRegister("CCP", reg::kCcp);
    printRegister("SCPS0", reg::kScps0);
}

// Streams frames from the simulated camera, which loses some packets on purpose; packet resend
// brings them back. The library logs the statistics at the stop.
bool runStreamDemo(kavro::sim::CameraServer& camera) {
    constexpr uint32_t kFrames = 30;
    kavro::sim::StreamFormat format;
    format.extendedIds = true;  // the simulated camera is a version 2 device
    format.width = 640;
    format.height = 480;
    format.frameRate = 60.0;
    format.frameCount = kFrames;
    const uint32_t payloadSize = kavro::sim::blockBytes(format);

    std::printf(
        "Streaming %u frames of %ux%u Mono8 at %.0f fps; the camera loses 1 %% of the "
        "packets:\n",
        kFrames, format.width, format.height, format.frameRate);
    if (const GevStatus s = GEVOpenStreamChannel(kDevice, 0, 0, 0)) {
        std::printf("  open stream channel: %s\n", GEVStatusText(s));
        return false;
    }
    (void)GEVSetBufferCount(kDevice, 8);
    if (GEVSetPacketResend(kDevice, 1) != GEV_STATUS_SUCCESS)
        std::printf("  the camera can't resend packets\n");
    if (const GevStatus s = GEVAcquisitionStartEx(kDevice, 0, payloadSize)) {
        std::printf("  acquisition start: %s\n", GEVStatusText(s));
        (void)GEVCloseStreamChannel(kDevice);
        return false;
    }
    kavro::sim::StreamSource source(camera.model(), camera.addressNet());
    kavro::sim::StreamFaults faults;
    faults.seed = 1;
    faults.lose = 0.01;
    source.setFaults(faults);
    if (!source.start(format)) {
        std::printf("  the camera could not start streaming\n");
        (void)GEVAcquisitionStop(kDevice);
        (void)GEVCloseStreamChannel(kDevice);
        return false;
    }

    std::vector<uint8_t> image(payloadSize);
    uint32_t whole = 0;
    for (uint32_t k = 1; k <= kFrames; ++k) {
        GevImageHeader h{};
        const GevStatus s = GEVGetImageBuffer(kDevice, &h, image.data());
        if (s == GEV_STATUS_TIMEOUT) {
            std::printf("  no image within the image time-out\n");
            break;
        }
        bool intact = s == GEV_STATUS_SUCCESS;
        for (size_t o = 0; intact && o < image.size(); ++o)
            intact = image[o] == kavro::sim::frameByte(h.blockId, o);
        whole += intact ? 1 : 0;
        if (k <= 3 || k == kFrames || !intact) {
            std::printf("  frame %2u: block %llu, %ux%u, status 0x%04X, missing %u, %s\n", k,
                        static_cast<unsigned long long>(h.blockId), h.sizeX, h.sizeY, s,
                        h.missingPackets, intact ? "every byte as sent" : "damaged");
        } else if (k == 4) {
            std::printf("  ...\n");
        }
    }
    std::printf("Stopping the acquisition (the library logs its statistics):\n");
    const GevStatus stopped = GEVAcquisitionStop(kDevice);
    source.stop();
    const kavro::sim::StreamStats sent = source.stats();
    std::printf(
        "  %u of %u frames whole; the camera lost %llu packets and resent %llu on "
        "request\n",
        whole, kFrames, static_cast<unsigned long long>(sent.packetsLost),
        static_cast<unsigned long long>(sent.packetsResent));
    (void)GEVCloseStreamChannel(kDevice);
    return stopped == GEV_STATUS_SUCCESS && whole == kFrames;
}

bool showStatus(const char* what, GevStatus status) {
    if (status != GEV_STATUS_SUCCESS)
        std::printf("  %s: %s\n", what, GEVStatusText(status));
    return status == GEV_STATUS_SUCCESS;
}

void printIntegerFeature(const char* name) {
    uint64_t value = 0;
    const GevStatus s = GEVGetFeatureInteger(kDevice, name, &value);
    if (s == GEV_STATUS_SUCCESS) {
        std::printf("  %-22s %llu\n", name, static_cast<unsigned long long>(value));
    } else {
        std::printf("  %-22s %s\n", name, GEVStatusText(s));
    }
}

void printFloatFeature(const char* name, const char* unit) {
    double value = 0;
    const GevStatus s = GEVGetFeatureFloat(kDevice, name, &value);
    if (s == GEV_STATUS_SUCCESS) {
        std::printf("  %-22s %.1f %s\n", name, value, unit);
    } else {
        std::printf("  %-22s %s\n", name, GEVStatusText(s));
    }
}

// The tool is linked statically, so its "library folder" is its own. In the build tree the
// schema and stylesheet files sit in data/ beside tools/: point the library there. An installed
// tool finds them in the installed data folder compiled into the library.
void useBuildTreeDataFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return;
    const auto data = exe.parent_path().parent_path() / "data";
    if (std::filesystem::exists(data / "GenApiSchema_Version_1_1.xsd", error))
        (void)GEVSetDescriptionDataFolder(data.c_str());
}

// The feature tree as a property browser would show it, walked with the navigation calls:
// each root category with its features, selected features and sub-categories in brackets.
void printFeatureTree() {
    uint8_t roots = 0;
    if (get_root_count(kDevice, &roots) != GEV_STATUS_SUCCESS)
        return;
    std::printf("Feature tree (%u categories under Root):\n", roots);
    constexpr int32_t kNameLength = 63;
    char name[kNameLength + 1];
    for (uint8_t r = 1; r != 0 && r <= roots; ++r) {
        uint8_t features = 0;
        if (get_root_name(kDevice, r, name, kNameLength) != GEV_STATUS_SUCCESS ||
            get_feature_count(kDevice, r, &features) != GEV_STATUS_SUCCESS)
            continue;
        std::string line = std::string("  ") + name + ":";
        for (uint8_t f = 1; f != 0 && f <= features; ++f) {
            if (get_feature_name(kDevice, r, f, name, kNameLength) != GEV_STATUS_SUCCESS)
                continue;
            std::string item = std::string(" ") + name;
            uint8_t subs = 0;
            if (get_sub_feature_count(kDevice, r, f, &subs) == GEV_STATUS_SUCCESS && subs > 0) {
                item += " [";
                for (uint8_t s = 1; s != 0 && s <= subs; ++s) {
                    if (get_sub_feature_name(kDevice, r, f, s, name, kNameLength) ==
                        GEV_STATUS_SUCCESS)
                        item += (s > 1 ? " " : "") + std::string(name);
                }
                item += "]";
            }
            if (line.size() + item.size() > 100) {
                std::printf("%s\n", line.c_str());
                line = "   ";
            }
            line += item;
        }
        std::printf("%s\n", line.c_str());
    }
}

// The camera's own description drives the second stream: its features set exposure, gain and
// the image window, and the library reads the geometry and starts and stops the camera itself.
bool runFeatureDemo() {
    std::printf("Reading the camera's device description (GEVInitXml):\n");
    useBuildTreeDataFolder();
    if (!showStatus("GEVInitXml", GEVInitXml(kDevice)))
        return false;
    printFeatureTree();
    char text[101] = {};
    if (GEVGetFeatureString(kDevice, "DeviceModelName", text) == GEV_STATUS_SUCCESS)
        std::printf("  model name from the description: %.32s\n", text);
    printFloatFeature("DeviceTemperature", "C");
    uint32_t memory = 0;
    (void)GEVGetMemorySize(kDevice, &memory);
    std::printf("  image memory sized for PayloadSize = %u bytes\n", memory);

    std::printf("Setting exposure, gain and the image window through features:\n");
    bool ok = showStatus("ExposureTime", GEVSetFeatureInteger(kDevice, "ExposureTime", 8000)) &&
              showStatus("Gain", GEVSetFeatureFloat(kDevice, "Gain", 6.0)) &&
              showStatus("Width", GEVSetFeatureInteger(kDevice, "Width", 320)) &&
              showStatus("Height", GEVSetFeatureInteger(kDevice, "Height", 240)) &&
              showStatus("OffsetX", GEVSetFeatureInteger(kDevice, "OffsetX", 160)) &&
              showStatus("AcquisitionMode",
                         GEVSetFeatureEnumeration(kDevice, "AcquisitionMode", "MultiFrame")) &&
              showStatus("AcquisitionFrameCount",
                         GEVSetFeatureInteger(kDevice, "AcquisitionFrameCount", 20));
    if (!ok)
        return false;
    printIntegerFeature("ExposureTime");
    printFloatFeature("Gain", "dB");
    printIntegerFeature("Width");
    printIntegerFeature("Height");
    printIntegerFeature("OffsetX");
    printIntegerFeature("PayloadSize");
    printFloatFeature("ResultingFrameRate", "fps");
    uint16_t offsetX = 0;
    uint16_t offsetY = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    if (!showStatus("LumexGetVideoWindow",
                    LumexGetVideoWindow(kDevice, &offsetX, &offsetY, &width, &height))) {
        return false;
    }
    std::printf("  image window (LumexGetVideoWindow): %ux%u at %u,%u\n", width, height, offsetX,
                offsetY);
    if (width != 320 || height != 240 || offsetX != 160)
        return false;

    constexpr uint32_t kFrames = 20;
    std::printf("Grabbing %u frames with GEVAcquisitionStart (the camera stops by itself):\n",
                kFrames);
    if (!showStatus("open stream channel", GEVOpenStreamChannel(kDevice, 0, 0, 0)))
        return false;
    if (!showStatus("acquisition start", GEVAcquisitionStart(kDevice, kFrames))) {
        (void)GEVAcquisitionStop(kDevice);
        (void)GEVCloseStreamChannel(kDevice);
        return false;
    }
    uint32_t whole = 0;
    for (uint32_t k = 1; k <= kFrames; ++k) {
        GevImageHeader h{};
        const GevStatus s = GEVGetImage(kDevice, &h);
        if (s == GEV_STATUS_TIMEOUT) {
            std::printf("  no image within the image time-out\n");
            break;
        }
        uint8_t* pixels = nullptr;
        (void)GEVGetPixelPtr(kDevice, 0, &pixels);
        bool intact = s == GEV_STATUS_SUCCESS && pixels != nullptr;
        for (size_t o = 0; intact && o < size_t{h.sizeX} * h.sizeY; ++o)
            intact = pixels[o] == kavro::sim::frameByte(h.blockId, o);
        whole += intact ? 1 : 0;
        if (k <= 2 || k == kFrames || !intact) {
            std::printf("  frame %2u: block %llu, %ux%u at offset %u, status 0x%04X, %s\n", k,
                        static_cast<unsigned long long>(h.blockId), h.sizeX, h.sizeY, h.offsetX, s,
                        intact ? "every byte as sent" : "damaged");
        } else if (k == 3) {
            std::printf("  ...\n");
        }
    }
    std::printf("Stopping the acquisition (the library logs its statistics):\n");
    const GevStatus stopped = GEVAcquisitionStop(kDevice);
    (void)GEVCloseStreamChannel(kDevice);
    std::printf("  %u of %u frames whole\n", whole, kFrames);
    return stopped == GEV_STATUS_SUCCESS && whole == kFrames;
}

// A test packet and the packet size search over a simulated path that passes IP packets of at
// most kPathMtu bytes; SCPS0 gets its packet size back afterwards.
bool runPacketSizeDemo(kavro::sim::CameraServer& camera) {
    constexpr uint32_t kPathMtu = 4000;
    constexpr uint16_t kUpper = 9000;
    camera.model().testPackets().setPathMtu(kPathMtu);
    std::printf("Network path test (the simulated path passes at most %u bytes):\n", kPathMtu);
    uint32_t scps = 0;
    if (!showStatus("read SCPS0", GEVReadRegister(kDevice, reg::kScps0, 1, &scps)))
        return false;
    uint32_t size = 0;
    if (!showStatus("GEVTestPacket", GEVTestPacket(kDevice, &size)))
        return false;
    std::printf("  test packet of %u bytes came back\n", size);
    uint16_t largest = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const GevStatus searched = GEVTestFindMaxPacketSize(kDevice, &largest, 0, kUpper, 4);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    (void)GEVWriteRegister(kDevice, reg::kScps0, 1, &scps);
    if (!showStatus("GEVTestFindMaxPacketSize", searched))
        return false;
    std::printf("  largest packet size the path allows: %u bytes (found in %lld ms)\n", largest,
                static_cast<long long>(ms));
    return largest == kPathMtu;
}

int runDemo() {
    kavro::sim::CameraConfig config;
    config.heartbeatTimeoutMs = 1500;  // a short time-out, so that the demo shows it being kept
    config.gvcpCapability |= reg::kCapTestData;  // test packets carry the test data sequence
    auto camera = kavro::sim::CameraServer::startOnLoopback(config);
    if (!camera) {
        std::fprintf(stderr, "gevtool: could not start the simulated camera on loopback\n");
        return 1;
    }
    char address[16];
    kavro::platform::formatIpv4(camera->addressNet(), address);
    std::printf("Simulated camera on %s:3956\n", address);

    GevConnectInfo info{};
    info.deviceAddress = camera->addressNet();
    info.hostAddress = htonl(INADDR_LOOPBACK);
    info.subnetMask = htonl(0xFF000000);
    std::strcpy(info.adapterName, "lo");
    std::printf("Opening with exclusive control:\n");
    if (const GevStatus s = GEVInit(kDevice, &info, &printLogLine, 0, 1)) {
        std::fprintf(stderr, "gevtool: open failed: %s\n", GEVStatusText(s));
        return 1;
    }
    printDeviceStrings();
    printRegisters();

    // Three heartbeat time-outs pass; the heartbeat thread keeps control all along.
    std::printf("Waiting 4.5 s (three heartbeat time-outs)...\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    uint8_t status = 0;
    uint8_t reserved = 0;
    (void)GEVGetConnectionStatus(kDevice, &status, &reserved);
    std::printf("  connection status %u, camera CCP = %u (still ours)\n", status,
                camera->model().readRegister(reg::kCcp));

    if (GEVSetMessageChannelCallback(kDevice, &printEvent) == GEV_STATUS_SUCCESS) {
        std::printf("The camera sends a trigger event:\n");
        const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
        kavro::gvcp::EventToSend event;
        event.eventData = true;
        event.eventId = 0x0002;
        event.blockId = 7;
        event.timestamp = 123456789;
        event.data = data;
        if (!camera->sendEvent(event))
            std::printf("  the camera could not send it\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }

    const bool streamed = runStreamDemo(*camera);
    if (!streamed)
        std::printf("  streaming failed\n");
    const bool described = runFeatureDemo();
    if (!described)
        std::printf("  the acquisition through the description failed\n");
    const bool measured = runPacketSizeDemo(*camera);
    if (!measured)
        std::printf("  the packet size search failed\n");

    std::printf("Closing:\n");
    const GevStatus closed = GEVClose(kDevice);
    std::printf("  close status 0x%04X, camera CCP = %u (released)\n", closed,
                camera->model().readRegister(reg::kCcp));
    return closed == GEV_STATUS_SUCCESS && streamed && described && measured ? 0 : 1;
}

}  // namespace

namespace gevtool {

Command demoCommand() {
    return {"demo",
            "run the demonstration against a simulated camera inside the tool",
            "usage: gevtool demo\n"
            "Starts a simulated camera inside the tool on loopback and walks through the\n"
            "library: open with exclusive control kept by the heartbeat, an event, a\n"
            "stream with injected packet loss made whole by packet resend, the device\n"
            "description and its features, an acquisition the library starts, a test\n"
            "packet and the packet size search. Exits non-zero when a step fails.\n"
            "  -h, --help     this text\n",
            {},
            [](const CommandLine&) { return runDemo(); }};
}

}  // namespace gevtool
