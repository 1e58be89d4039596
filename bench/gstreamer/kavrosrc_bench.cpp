// Images through the GStreamer element next to the same images taken straight from the C
// interface, in one run against one simulated camera (gevcamsim, a process of its own, so that
// its sending costs this process nothing). The direct side grabs with GEVGetImageBuffer into
// its own memory; the element side runs "kavrosrc ! fakesink". Each side's figures cover the
// first to the last of kFrames frames: frames per second and this process's CPU time per
// frame (every thread: receiver, heartbeat, streaming thread), then the element's figures as
// ratios of the direct call's, each side from its best of three rounds.
#include <arpa/inet.h>
#include <gst/gst.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KavroGigEVisionLib.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFrames = 500;
constexpr int kRounds = 3;
constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 480;
constexpr uint32_t kPacketSize = 9000;
constexpr double kFrameRate = 250.0;
constexpr int64_t kExposureUs = 100;
constexpr uint8_t kDevice = 1;
constexpr uint32_t kScps0 = 0x0D04;

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

struct Figures {
    uint32_t frames = 0;  // whole frames between the first and the last
    double seconds = 0.0;
    double cpu = 0.0;
    double fps() const { return seconds > 0.0 ? (frames - 1) / seconds : 0.0; }
    double cpuPerFrame() const { return frames > 1 ? cpu / (frames - 1) : 0.0; }
};

// Marks taken at the first and the last frame.
struct Span {
    Clock::time_point t0;
    double cpu0 = 0.0;
    void first() {
        t0 = Clock::now();
        cpu0 = cpuSeconds();
    }
    Figures last(uint32_t frames) const {
        return {frames, std::chrono::duration<double>(Clock::now() - t0).count(),
                cpuSeconds() - cpu0};
    }
};

// The camera process on its own loopback address.
struct CameraProcess {
    pid_t pid = 0;
    std::string address;
    ~CameraProcess() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

bool startCamera(CameraProcess& camera) {
    const unsigned id = static_cast<unsigned>(::getpid());
    camera.address = "127.61." + std::to_string((id >> 8) & 0xFF) + "." +
                     std::to_string(std::max(2u, id & 0xFF));
    std::vector<std::string> args = {KAVRO_GEVCAMSIM, "--address", camera.address};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return ::posix_spawn(&camera.pid, KAVRO_GEVCAMSIM, nullptr, nullptr, argv.data(), environ) == 0;
}

bool setFeatures(uint8_t device) {
    GevFeatureParameter enable{};
    return GEVSetFeatureInteger(device, "Width", kWidth) == 0 &&
           GEVSetFeatureInteger(device, "Height", kHeight) == 0 &&
           GEVSetFeatureInteger(device, "ExposureTime", kExposureUs) == 0 &&
           GEVGetFeatureParameter(device, "AcquisitionFrameRateEnable", &enable) == 0 &&
           GEVSetFeatureBoolean(device, "AcquisitionFrameRateEnable", enable.onValue) == 0 &&
           GEVSetFeatureFloat(device, "AcquisitionFrameRate", kFrameRate) == 0;
}

// GEVGetImageBuffer straight from C.
bool runDirect(const std::string& address, Figures& figures) {
    GevConnectInfo info{};
    ::inet_pton(AF_INET, address.c_str(), &info.deviceAddress);
    info.hostAddress = htonl(INADDR_LOOPBACK);
    info.subnetMask = htonl(0xFF000000);
    std::strcpy(info.adapterName, "lo");
    // The camera process may still be starting.
    GevStatus s = GEV_STATUS_DEVICE_IN_USE;
    for (int i = 0; i < 50 && s != GEV_STATUS_SUCCESS; ++i) {
        s = GEVInit(kDevice, &info, nullptr, 0, 1);
        if (s != GEV_STATUS_SUCCESS)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (s != GEV_STATUS_SUCCESS)
        return false;
    uint32_t scps = 0;
    bool ok = GEVInitXml(kDevice) == 0 && GEVReadRegister(kDevice, kScps0, 1, &scps) == 0;
    scps = (scps & 0xFFFF0000u) | kPacketSize;
    ok = ok && GEVWriteRegister(kDevice, kScps0, 1, &scps) == 0 && setFeatures(kDevice) &&
         GEVSetPacketResend(kDevice, 1) == 0 && GEVSetBufferCount(kDevice, 16) == 0 &&
         GEVOpenStreamChannel(kDevice, 0, 0, 0) == 0 && GEVAcquisitionStart(kDevice, 0) == 0;
    std::vector<uint8_t> image(size_t{kWidth} * kHeight);
    Span span;
    uint32_t whole = 0;
    for (uint32_t k = 0; ok && k < kFrames; ++k) {
        GevImageHeader h{};
        const GevStatus got = GEVGetImageBuffer(kDevice, &h, image.data());
        if (got == GEV_STATUS_TIMEOUT) {
            ok = false;
            break;
        }
        if (got == GEV_STATUS_SUCCESS && whole++ == 0)
            span.first();
    }
    figures = span.last(whole);
    (void)GEVAcquisitionStop(kDevice);
    (void)GEVCloseStreamChannel(kDevice);
    (void)GEVClose(kDevice);
    return ok;
}

struct ProbeState {
    std::atomic<uint32_t> frames{0};
    Span span;
};

GstPadProbeReturn countFrame(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto& p = *static_cast<ProbeState*>(data);
    if (p.frames++ == 0)
        p.span.first();
    return GST_PAD_PROBE_OK;
}

// The same frames through "kavrosrc ! fakesink".
bool runElement(const std::string& address, Figures& figures) {
    const std::string description =
        "kavrosrc address=" + address + " num-buffers=" + std::to_string(kFrames) +
        " packet-size=" + std::to_string(kPacketSize) +
        " features=\"Width=" + std::to_string(kWidth) + " Height=" + std::to_string(kHeight) +
        " ExposureTime=" + std::to_string(kExposureUs) +
        " AcquisitionFrameRateEnable=1 AcquisitionFrameRate=" + std::to_string(kFrameRate) +
        "\" ! fakesink name=sink sync=false enable-last-sample=false";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr) {
        std::fprintf(stderr, "kavrosrc_bench: %s\n", error != nullptr ? error->message : "");
        return false;
    }
    ProbeState probe;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, countFrame, &probe, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = m != nullptr && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    figures = probe.span.last(probe.frames.load());
    if (m != nullptr)
        gst_message_unref(m);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

void print(const char* side, int round, const Figures& f) {
    std::printf("  round %d  %-26s %5u frames  %7.1f frames/s  %7.1f us CPU/frame\n", round, side,
                f.frames, f.fps(), f.cpuPerFrame() * 1e6);
}

}  // namespace

int main() {
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstPlugin* plugin = gst_plugin_load_file(KAVRO_GST_PLUGIN, &error);
    if (plugin == nullptr) {
        std::fprintf(stderr, "kavrosrc_bench: %s\n", error != nullptr ? error->message : "");
        return 1;
    }
    gst_object_unref(plugin);
    CameraProcess camera;
    if (!startCamera(camera)) {
        std::fprintf(stderr, "kavrosrc_bench: can't start %s\n", KAVRO_GEVCAMSIM);
        return 1;
    }
    std::printf(
        "%ux%u Mono8 at %.0f frames/s asked, %u-byte packets, %u frames per side and "
        "round, camera %s\n",
        kWidth, kHeight, kFrameRate, kPacketSize, kFrames, camera.address.c_str());
    // The machine is shared: a round that others slowed down (lost packets and their resends
    // cost CPU) says little, so each side is judged by its best round.
    Figures direct;
    Figures element;
    for (int round = 1; round <= kRounds; ++round) {
        Figures d;
        Figures e;
        if (!runDirect(camera.address, d) || !runElement(camera.address, e)) {
            std::fprintf(stderr, "kavrosrc_bench: a run failed\n");
            return 1;
        }
        print("GEVGetImageBuffer (C)", round, d);
        print("kavrosrc ! fakesink", round, e);
        if (round == 1 || d.cpuPerFrame() < direct.cpuPerFrame())
            direct = d;
        if (round == 1 || e.cpuPerFrame() < element.cpuPerFrame())
            element = e;
    }
    std::printf(
        "  best rounds: direct %.1f frames/s %.1f us CPU/frame, element %.1f frames/s "
        "%.1f us CPU/frame\n",
        direct.fps(), direct.cpuPerFrame() * 1e6, element.fps(), element.cpuPerFrame() * 1e6);
    std::printf("  element/direct: frames/s %.2f, CPU per frame %.2f (goal <= 1.10)\n",
                element.fps() / direct.fps(), element.cpuPerFrame() / direct.cpuPerFrame());
    return 0;
}
