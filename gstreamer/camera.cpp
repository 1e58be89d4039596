#include "gstreamer/camera.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <array>
#include <cstring>
#include <mutex>

#include <gst/gst.h>

#include "gstreamer/feature_settings.h"

GST_DEBUG_CATEGORY_EXTERN(kavro_src_debug);
#define GST_CAT_DEFAULT kavro_src_debug

namespace kavro::gst {

namespace {

constexpr uint8_t kFirstDevice = 1;
constexpr uint8_t kLastDevice = 20;
constexpr uint8_t kExclusiveControl = 1;
// The stream channel's first packet size register: the size in the low 16 bits.
constexpr uint32_t kPacketSizeRegister = 0x0D04;
// How long one wait for an image lasts: the longest the element takes to notice a flush.
constexpr uint32_t kImageWaitMs = 100;
constexpr uint32_t kDiscoveryMs = 1000;
constexpr int32_t kEntryNameSize = 64;

// Device indexes are chosen one open at a time within the process.
std::mutex openMutex;

void logLine(uint8_t device, const char* line) {
    GST_DEBUG("device %u: %s", device, line);
}

CameraError failed(GevStatus status, const std::string& what) {
    return {status, what + ": " + GEVStatusText(status)};
}

// The local IPv4 interface whose subnet holds `cameraNet` (network byte order).
bool interfaceFor(uint32_t cameraNet, GevConnectInfo& info) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool found = false;
    for (const ifaddrs* a = list; a != nullptr && !found; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_netmask == nullptr ||
            a->ifa_addr->sa_family != AF_INET || (a->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        sockaddr_in address{};
        sockaddr_in mask{};
        std::memcpy(&address, a->ifa_addr, sizeof address);
        std::memcpy(&mask, a->ifa_netmask, sizeof mask);
        const uint32_t m = mask.sin_addr.s_addr;
        if ((address.sin_addr.s_addr & m) != (cameraNet & m))
            continue;
        info.hostAddress = address.sin_addr.s_addr;
        info.subnetMask = m;
        std::strncpy(info.adapterName, a->ifa_name, sizeof info.adapterName - 1);
        found = true;
    }
    ::freeifaddrs(list);
    return found;
}

bool connectInfo(const CameraSettings& settings, GevConnectInfo& info, CameraError& error) {
    info = GevConnectInfo{};
    if (!settings.address.empty()) {
        in_addr a{};
        if (::inet_pton(AF_INET, settings.address.c_str(), &a) != 1) {
            error = {GEV_STATUS_INVALID_ADDRESS,
                     "\"" + settings.address + "\" is not an IPv4 address"};
            return false;
        }
        info.deviceAddress = a.s_addr;
        if (!interfaceFor(a.s_addr, info)) {
            error = {GEV_STATUS_NOT_IN_SUBNET,
                     "no local interface is on the subnet of " + settings.address};
            return false;
        }
        return true;
    }
    if (settings.serial.empty()) {
        error = {GEV_STATUS_INVALID_ARGUMENT, "neither an address nor a serial number is set"};
        return false;
    }
    GevDeviceList list{};
    if (const GevStatus s = GEVDiscovery(&list, nullptr, kDiscoveryMs, 0)) {
        error = failed(s, "discovery");
        return false;
    }
    for (uint8_t i = 0; i < list.count && i < GEV_MAX_DISCOVERED; ++i) {
        const GevDeviceInfo& d = list.devices[i];
        const std::string serial(d.serialNumber, strnlen(d.serialNumber, sizeof d.serialNumber));
        if (serial != settings.serial)
            continue;
        info.deviceAddress = d.deviceAddress;
        info.hostAddress = d.adapterAddress;
        info.subnetMask = d.adapterMask;
        std::memcpy(info.adapterName, d.adapterName, sizeof info.adapterName);
        info.adapterName[sizeof info.adapterName - 1] = '\0';
        return true;
    }
    error = {GEV_STATUS_INVALID_ADDRESS,
             "no camera with serial number " + settings.serial + " answered the discovery"};
    return false;
}

bool readInteger(uint8_t device, const char* name, uint32_t& value, CameraError& error) {
    uint64_t wide = 0;
    if (const GevStatus s = GEVGetFeatureInteger(device, name, &wide)) {
        error = failed(s, std::string("reading ") + name);
        return false;
    }
    value = static_cast<uint32_t>(wide);
    return true;
}

IntegerRange rangeOf(uint8_t device, const char* name) {
    GevFeatureParameter p{};
    if (GEVGetFeatureParameter(device, name, &p) != GEV_STATUS_SUCCESS)
        return {};
    return {p.min, p.max, p.inc == 0 ? 1 : int64_t{p.inc}};
}

}  // namespace

std::unique_ptr<Camera> Camera::open(const CameraSettings& settings, CameraError& error) {
    GevConnectInfo info{};
    if (!connectInfo(settings, info, error))
        return nullptr;
    std::unique_ptr<Camera> camera;
    {
        std::lock_guard lock(openMutex);
        for (uint8_t device = kFirstDevice; device <= kLastDevice && !camera; ++device) {
            const GevStatus s = GEVInit(device, &info, &logLine, 0, kExclusiveControl);
            if (s == GEV_STATUS_DEVICE_ALREADY_OPEN)
                continue;
            if (s != GEV_STATUS_SUCCESS) {
                error = failed(s, "opening the camera");
                return nullptr;
            }
            camera.reset(new Camera(device));
        }
    }
    if (!camera) {
        error = {GEV_STATUS_DEVICE_ALREADY_OPEN, "every device index is in use"};
        return nullptr;
    }
    if (!camera->configure(settings, error))
        return nullptr;
    return camera;
}

bool Camera::configure(const CameraSettings& settings, CameraError& error) {
    // The library's stream diagnostics join the element's debug log when that is detailed.
    if (gst_debug_category_get_threshold(kavro_src_debug) >= GST_LEVEL_DEBUG)
        (void)GEVSetDetailedLog(device_, GEV_LOG_STREAM_WARNINGS | GEV_LOG_STREAM_ERRORS);
    if (const GevStatus s = GEVInitXml(device_)) {
        error = failed(s, "building the camera's description");
        return false;
    }
    if (settings.packetSize != 0) {
        uint32_t value = 0;
        GevStatus s = GEVReadRegister(device_, kPacketSizeRegister, 1, &value);
        if (s == GEV_STATUS_SUCCESS) {
            value = (value & 0xFFFF0000u) | (settings.packetSize & 0xFFFFu);
            s = GEVWriteRegister(device_, kPacketSizeRegister, 1, &value);
        }
        if (s != GEV_STATUS_SUCCESS) {
            error = failed(s, "setting the packet size");
            return false;
        }
    }
    const GevStatus resend = GEVSetPacketResend(device_, settings.packetResend ? 1 : 0);
    // A camera without resend streams all the same; asking for it there is no failure.
    resendUnavailable_ = settings.packetResend && resend == GEV_STATUS_NOT_SUPPORTED;
    if (resend != GEV_STATUS_SUCCESS && resend != GEV_STATUS_NOT_SUPPORTED) {
        error = failed(resend, "setting packet resend");
        return false;
    }
    GevChannelParameter channel{};
    GevStatus s = GEVGetChannelParameter(device_, &channel);
    if (s == GEV_STATUS_SUCCESS) {
        channel.imageTimeout = kImageWaitMs;
        s = GEVSetChannelParameter(device_, &channel);
    }
    if (s != GEV_STATUS_SUCCESS) {
        error = failed(s, "setting the image time-out");
        return false;
    }
    bufferCount_ = settings.bufferCount;

    std::vector<FeatureSetting> features;
    std::string text;
    if (!parseFeatureSettings(settings.features, features, text)) {
        error = {GEV_STATUS_INVALID_ARGUMENT, text};
        return false;
    }
    for (const FeatureSetting& f : features) {
        if (const GevStatus fs = applyFeatureSetting(device_, f, text)) {
            error = {fs, text};
            return false;
        }
    }
    if (GEVGetTimeOneTick(device_, &nanosecondsPerTick_) != GEV_STATUS_SUCCESS ||
        nanosecondsPerTick_ <= 0.0) {
        nanosecondsPerTick_ = 1.0;
    }
    if (const GevStatus os = GEVOpenStreamChannel(device_, 0, 0, 0)) {
        error = failed(os, "opening the stream channel");
        return false;
    }
    streamChannelOpen_ = true;
    return true;
}

Camera::~Camera() {
    stopAcquisition();
    if (streamChannelOpen_)
        (void)GEVCloseStreamChannel(device_);
    (void)GEVClose(device_);
}

bool Camera::readGeometry(Geometry& g, CameraError& error) const {
    g = Geometry{};
    if (!readInteger(device_, "PixelFormat", g.pixelFormat, error) ||
        !readInteger(device_, "Width", g.width, error) ||
        !readInteger(device_, "Height", g.height, error)) {
        return false;
    }
    g.format = pixelFormatByCode(g.pixelFormat);
    for (const char* name : {"ResultingFrameRate", "AcquisitionFrameRate"}) {
        double rate = 0.0;
        if (GEVGetFeatureFloat(device_, name, &rate) == GEV_STATUS_SUCCESS && rate > 0.0) {
            g.frameRate = rate;
            break;
        }
    }
    return true;
}

Choices Camera::readChoices() const {
    Choices c;
    c.width = rangeOf(device_, "Width");
    c.height = rangeOf(device_, "Height");
    GevFeatureParameter p{};
    if (GEVGetFeatureParameter(device_, "PixelFormat", &p) != GEV_STATUS_SUCCESS)
        return c;
    for (uint8_t position = 0; position < p.enumEntries; ++position) {
        std::array<char, kEntryNameSize + 1> name{};
        if (GEVGetFeatureEnumerationName(device_, "PixelFormat", position, name.data(),
                                         kEntryNameSize) != GEV_STATUS_SUCCESS) {
            break;
        }
        if (const PixelFormatCaps* f = pixelFormatByEntry(name.data()))
            c.formats.push_back(f);
    }
    return c;
}

bool Camera::setGeometry(const PixelFormatCaps& format, uint32_t width, uint32_t height,
                         CameraError& error) {
    Geometry now;
    if (!readGeometry(now, error))
        return false;
    if (now.pixelFormat != format.code) {
        GevStatus s = GEVSetFeatureEnumeration(device_, "PixelFormat", format.entry);
        if (s != GEV_STATUS_SUCCESS && format.alternateEntry != nullptr)
            s = GEVSetFeatureEnumeration(device_, "PixelFormat", format.alternateEntry);
        if (s != GEV_STATUS_SUCCESS) {
            error = failed(s, std::string("setting PixelFormat to ") + format.entry);
            return false;
        }
    }
    const auto setSize = [&](const char* name, const char* offset, uint32_t value, uint32_t old) {
        if (value == old)
            return true;
        GevStatus s = GEVSetFeatureInteger(device_, name, value);
        if (s != GEV_STATUS_SUCCESS && GEVSetFeatureInteger(device_, offset, 0) == 0)
            s = GEVSetFeatureInteger(device_, name, value);  // a window moved to the corner
        if (s != GEV_STATUS_SUCCESS) {
            error = failed(s, std::string("setting ") + name + " to " + std::to_string(value));
            return false;
        }
        return true;
    };
    if (!setSize("Width", "OffsetX", width, now.width) ||
        !setSize("Height", "OffsetY", height, now.height)) {
        return false;
    }
    Geometry after;
    if (!readGeometry(after, error))
        return false;
    if (after.pixelFormat != format.code || after.width != width || after.height != height) {
        error = {GEV_STATUS_INVALID_ARGUMENT, "the camera did not take the image format"};
        return false;
    }
    return true;
}

bool Camera::startAcquisition(CameraError& error) {
    if (ring_)
        return true;
    uint32_t payloadSize = 0;
    if (!readInteger(device_, "PayloadSize", payloadSize, error))
        return false;
    std::shared_ptr<FrameRing> ring = FrameRing::create(device_, bufferCount_, payloadSize);
    if (!ring) {
        error = {GEV_STATUS_OUT_OF_MEMORY, "no memory for " + std::to_string(bufferCount_) +
                                               " buffers of " + std::to_string(payloadSize) +
                                               " bytes"};
        return false;
    }
    if (const GevStatus s = ring->registerBuffers()) {
        (void)GEVReleaseRingBuffer(device_);
        error = failed(s, "registering the ring buffers");
        return false;
    }
    if (const GevStatus s = GEVAcquisitionStart(device_, 0)) {
        ring->retire();
        (void)GEVAcquisitionStop(device_);
        (void)GEVReleaseRingBuffer(device_);
        error = failed(s, "starting the acquisition");
        return false;
    }
    ring_ = std::move(ring);
    return true;
}

void Camera::stopAcquisition() {
    if (!ring_)
        return;
    ring_->retire();
    (void)GEVAcquisitionStop(device_);
    (void)GEVReleaseRingBuffer(device_);
    ring_.reset();
}

}  // namespace kavro::gst
