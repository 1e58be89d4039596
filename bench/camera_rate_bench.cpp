// Stream reception at a real camera's rate rather than a flood: the simulated camera sends
// 1280 x 1024 Mono8 at 30 frames per second with each frame's packets spread at the line rate
// of a 1 Gbit/s link (about 900 packets a frame, 27,000 a second), first to a plain recvmmsg
// drain (the baseline), then to the library's socket path (GEVAcquisitionStartEx, images taken
// with GEVGetImage on a thread of the receiver's priority), then to the packet-ring engine of
// the filter driver path (driven through the filter device interface, images taken with its
// image read on such a thread). For each side it prints the receiving thread's CPU time and
// wake-ups (voluntary context switches) per frame, and the time from a frame's last packet
// leaving the camera to the drain reading it, or to the image call returning the frame. The
// sides take turns for a few rounds; the summary gives the median of the rounds' CPU and
// wake-ups per frame and the latencies of all frames, and the CPU per frame of the thread that
// takes the images (each image call copies the frame out of the ring).
//
//   camera_rate_bench [frames [rounds]]   (default 90 frames, 3 s per side, and 3 rounds)
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "bench/packet_ring_path.h"
#include "frame/device_table.h"
#include "gvcp/bootstrap.h"
#include "gvsp/acquisition.h"
#include "gvsp/stream_channel.h"
#include "gvsp/wire.h"
#include "platform/shared_table.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "sim/camera_server.h"
#include "sim/stream_source.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace gvsp = kavro::gvsp;
namespace platform = kavro::platform;
namespace sim = kavro::sim;

constexpr uint8_t kDevice = 1;
constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 1024;
constexpr double kFrameRate = 30.0;
constexpr uint64_t kLinkBitsPerSecond = 1000000000;
constexpr uint32_t kDefaultFrames = 90;
constexpr uint32_t kDefaultRounds = 3;
constexpr size_t kBatch = 64;
// Silence after the camera's last frame that ends a side's run.
constexpr auto kQuietEnd = 500ms;

double seconds(const timespec& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU time of any thread of this process, by kernel thread id.
double threadCpuSeconds(pid_t tid) {
    const clockid_t clock = static_cast<clockid_t>((~static_cast<clockid_t>(tid)) * 8 + 6);
    timespec ts{};
    return ::clock_gettime(clock, &ts) == 0 ? seconds(ts) : 0.0;
}

// Voluntary context switches of a thread of this process: how often it went to sleep waiting.
long threadWakeUps(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::atol(line.c_str() + line.find(':') + 1);
    }
    return 0;
}

std::set<pid_t> threadIds() {
    std::set<pid_t> ids;
    if (DIR* dir = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] != '.')
                ids.insert(static_cast<pid_t>(std::atoi(e->d_name)));
        }
        ::closedir(dir);
    }
    return ids;
}

std::string loadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one;
    std::string five;
    file >> one >> five;
    return one + " " + five;
}

// When each frame's trailer left the camera, by block id (ids run from 1).
class SendTimes {
  public:
    explicit SendTimes(uint32_t frames) : ns_(frames + 2) {}
    void record(uint64_t blockId, Clock::time_point t) {
        if (blockId < ns_.size())
            ns_[blockId] = t.time_since_epoch().count();
    }
    // Milliseconds from the trailer of `blockId` leaving to `t`; negative when unknown.
    double msUntil(uint64_t blockId, Clock::time_point t) const {
        if (blockId >= ns_.size() || ns_[blockId].load() == 0)
            return -1.0;
        return static_cast<double>(t.time_since_epoch().count() - ns_[blockId].load()) * 1e-6;
    }

  private:
    std::vector<std::atomic<int64_t>> ns_;
};

struct Side {
    uint64_t frames = 0;  // frames whole (library) or trailers read (drain)
    uint64_t packets = 0;
    double cpuSeconds = 0.0;
    double readerCpuSeconds = 0.0;  // the thread taking the images (their copy out included)
    long wakeUps = 0;
    std::vector<double> latencyMs;
    std::vector<double> spreadMs;  // drain: leader to trailer of each frame
};

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1)))];
}

sim::StreamFormat cameraFormat(uint32_t frames) {
    sim::StreamFormat f;
    f.width = kWidth;
    f.height = kHeight;
    f.extendedIds = true;
    f.frameRate = kFrameRate;
    f.frameCount = frames;
    f.linkBitsPerSecond = kLinkBitsPerSecond;
    return f;
}

// The baseline: a thread of the library receiver's priority that only drains, blocking for the
// first datagram of each read and taking as many as are waiting.
Side runDrain(sim::CameraServer& camera, uint32_t frames) {
    Side side;
    platform::UniqueSocket socket = gvsp::createStreamSocket(htonl(INADDR_LOOPBACK), 0);
    const auto port = platform::localPort(socket);
    if (!socket.isValid() || !port)
        return side;
    auto& model = camera.model();
    const uint32_t oldPort = model.readRegister(kavro::gvcp::reg::kScp0);
    model.writeRegister(kavro::gvcp::reg::kScp0, *port);
    const timeval tv{0, 100000};
    (void)::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    SendTimes sent(frames);
    std::atomic<bool> finished{false};
    platform::WorkerThread drain;
    const bool started = drain.start(
        [&] {
            std::vector<uint8_t> buffer(kBatch * 9100);
            std::vector<iovec> iov(kBatch);
            std::vector<mmsghdr> messages(kBatch);
            for (size_t i = 0; i < kBatch; ++i) {
                iov[i] = {buffer.data() + i * 9100, 9100};
                messages[i].msg_hdr.msg_iov = &iov[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            timespec t0{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
            rusage r0{};
            ::getrusage(RUSAGE_THREAD, &r0);
            Clock::time_point leaderAt{};
            auto lastData = Clock::now();
            while (!finished.load() || Clock::now() - lastData < kQuietEnd) {
                const int n =
                    ::recvmmsg(socket.get(), messages.data(), kBatch, MSG_WAITFORONE, nullptr);
                if (n <= 0)
                    continue;
                const auto now = Clock::now();
                lastData = now;
                side.packets += static_cast<uint64_t>(n);
                for (int i = 0; i < n; ++i) {
                    const std::span<const uint8_t> d(buffer.data() + i * 9100, messages[i].msg_len);
                    const auto h = gvsp::parseHeader(d, gvsp::carriesExtendedIds(d));
                    if (!h)
                        continue;
                    if (h->format == gvsp::kFormatLeader)
                        leaderAt = now;
                    if (h->format == gvsp::kFormatTrailer) {
                        ++side.frames;
                        side.latencyMs.push_back(sent.msUntil(h->blockId, now));
                        side.spreadMs.push_back(
                            std::chrono::duration<double, std::milli>(now - leaderAt).count());
                    }
                }
            }
            timespec t1{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
            rusage r1{};
            ::getrusage(RUSAGE_THREAD, &r1);
            side.cpuSeconds = seconds(t1) - seconds(t0);
            side.wakeUps = r1.ru_nvcsw - r0.ru_nvcsw;
        },
        platform::ThreadPriority::Highest);
    if (started) {
        sim::StreamSource source(model, camera.addressNet());
        source.setFrameSentObserver([&](uint64_t id, Clock::time_point t) { sent.record(id, t); });
        if (source.start(cameraFormat(frames)))
            (void)source.waitFinished(std::chrono::seconds(frames));
        finished = true;
        drain.join(std::chrono::seconds(10));
    }
    model.writeRegister(kavro::gvcp::reg::kScp0, oldPort);
    return side;
}

// What one take of an image gave: nothing within the wait, or an image (whole or not).
struct Take {
    bool timedOut = false;
    bool whole = false;
    uint64_t blockId = 0;
};

// Starts a receiver with `start` (the thread it makes is the one measured), streams `frames`
// from the camera and takes every image with `take` on a reader thread. The reader runs at the
// receiver's priority, as the drain does: the latency then shows what the receiver adds, not how
// long a busy machine keeps an ordinary thread waiting.
Side measure(sim::CameraServer& camera, uint32_t frames, const std::function<bool()>& start,
             const std::function<Take()>& take) {
    Side side;
    const auto before = threadIds();
    if (!start())
        return side;
    pid_t receiver = 0;
    for (const pid_t tid : threadIds()) {
        if (before.count(tid) == 0)
            receiver = tid;
    }
    SendTimes sent(frames);
    const double cpu0 = threadCpuSeconds(receiver);
    const long wake0 = threadWakeUps(receiver);
    double cpu1 = cpu0;
    long wake1 = wake0;
    std::atomic<bool> finished{false};
    platform::WorkerThread reader;
    const bool reading = reader.start(
        [&] {
            timespec r0{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &r0);
            auto lastImage = Clock::now();
            while (side.frames < frames &&
                   (!finished.load() || Clock::now() - lastImage < kQuietEnd)) {
                const Take t = take();
                const auto now = Clock::now();
                if (t.timedOut)
                    continue;
                lastImage = now;
                if (t.whole) {
                    ++side.frames;
                    side.latencyMs.push_back(sent.msUntil(t.blockId, now));
                }
            }
            cpu1 = threadCpuSeconds(receiver);
            wake1 = threadWakeUps(receiver);
            timespec r1{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &r1);
            side.readerCpuSeconds = seconds(r1) - seconds(r0);
        },
        platform::ThreadPriority::Highest);
    {
        sim::StreamSource source(camera.model(), camera.addressNet());
        source.setFrameSentObserver([&](uint64_t id, Clock::time_point t) { sent.record(id, t); });
        if (reading && source.start(cameraFormat(frames)))
            (void)source.waitFinished(std::chrono::seconds(frames));
        finished = true;
        reader.join(std::chrono::seconds(30));
        side.packets = source.stats().packetsSent;
    }
    side.cpuSeconds = cpu1 - cpu0;
    side.wakeUps = wake1 - wake0;
    return side;
}

// The library: an acquisition without description (the payload size given), every frame taken
// with GEVGetImage into the image memory block.
Side runLibrary(sim::CameraServer& camera, uint32_t frames) {
    const Side side = measure(
        camera, frames,
        [] { return GEVAcquisitionStartEx(kDevice, 0, kWidth * kHeight) == GEV_STATUS_SUCCESS; },
        [] {
            GevImageHeader h{};
            const GevStatus s = GEVGetImage(kDevice, &h);
            return Take{s == GEV_STATUS_TIMEOUT, s == GEV_STATUS_SUCCESS && h.missingPackets == 0,
                        h.blockId};
        });
    (void)GEVAcquisitionStop(kDevice);
    return side;
}

// The filter driver path: the engine's thread receives; every frame is taken with the image
// read into a buffer of the reader's own.
Side runPacketRing(sim::CameraServer& camera, uint32_t frames, kavro::bench::PacketRingPath& ring) {
    auto& dev = *kavro::frame::DeviceTable::instance().record(kDevice);
    uint32_t dataSize = 0;
    if (gvsp::readPacketDataSize(dev, dataSize) != GEV_STATUS_SUCCESS || dataSize == 0)
        return {};
    const kavro::bench::IdleStreamSocket idle(dev.streamSocket);
    std::vector<uint8_t> image(kWidth * kHeight);
    const Side side = measure(
        camera, frames,
        [&] {
            return ring.start(camera.addressNet(), dev.streamPort, kWidth * kHeight, dataSize, 4);
        },
        [&] {
            const uint32_t error = ring.read(image);
            return Take{error == kavro::filterdriver::kErrorSemaphoreTimeout, error == 0,
                        ring.lastBlockId()};
        });
    (void)ring.stop();
    return side;
}

double cpuPerFrameMs(const Side& s) {
    return s.cpuSeconds * 1e3 / static_cast<double>(std::max<uint64_t>(s.frames, 1));
}

double wakeUpsPerFrame(const Side& s) {
    return static_cast<double>(s.wakeUps) / static_cast<double>(std::max<uint64_t>(s.frames, 1));
}

void print(const char* name, const Side& s, uint32_t frames) {
    std::printf(
        "    %-16s %3llu/%u frames  %6.3f ms CPU/frame  %6.1f wake-ups/frame  "
        "latency ms: median %.3f  p90 %.3f  max %.3f\n",
        name, static_cast<unsigned long long>(s.frames), frames, cpuPerFrameMs(s),
        wakeUpsPerFrame(s), percentile(s.latencyMs, 0.5), percentile(s.latencyMs, 0.9),
        percentile(s.latencyMs, 1.0));
}

// The rounds of one side together: medians of the per-round figures, latencies pooled.
struct Summary {
    std::vector<double> cpuMs;
    std::vector<double> readerCpuMs;
    std::vector<double> wakeUps;
    std::vector<double> latencyMs;
    uint64_t frames = 0;

    void add(const Side& s) {
        cpuMs.push_back(cpuPerFrameMs(s));
        readerCpuMs.push_back(s.readerCpuSeconds * 1e3 /
                              static_cast<double>(std::max<uint64_t>(s.frames, 1)));
        wakeUps.push_back(wakeUpsPerFrame(s));
        latencyMs.insert(latencyMs.end(), s.latencyMs.begin(), s.latencyMs.end());
        frames += s.frames;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const uint32_t frames =
        argc > 1 ? static_cast<uint32_t>(std::clamp(std::atoi(argv[1]), 10, 3000)) : kDefaultFrames;
    const uint32_t rounds =
        argc > 2 ? static_cast<uint32_t>(std::clamp(std::atoi(argv[2]), 1, 20)) : kDefaultRounds;
    platform::SharedOpenFlags::usePrivateTableForThisProcess();
    auto camera = sim::CameraServer::startOnLoopback();
    if (!camera) {
        std::fprintf(stderr, "camera_rate_bench: no loopback address for the simulated camera\n");
        return 1;
    }
    GevConnectInfo info{};
    info.deviceAddress = camera->addressNet();
    info.hostAddress = htonl(INADDR_LOOPBACK);
    info.subnetMask = htonl(0xFF000000);
    std::strcpy(info.adapterName, "lo");
    if (GEVInit(kDevice, &info, nullptr, 0, 1) != GEV_STATUS_SUCCESS ||
        GEVOpenStreamChannel(kDevice, 0, 0, 0) != GEV_STATUS_SUCCESS) {
        std::fprintf(stderr, "camera_rate_bench: could not open the simulated camera\n");
        return 1;
    }
    std::printf(
        "Camera rate: %ux%u Mono8 at %.0f fps, packets spread at %.1f Gbit/s, %u frames "
        "per side and round, %u rounds (load average before: %s)\n",
        kWidth, kHeight, kFrameRate, static_cast<double>(kLinkBitsPerSecond) / 1e9, frames, rounds,
        loadAverage().c_str());
    auto ring = kavro::bench::PacketRingPath::open(kDevice);
    if (!ring)
        std::printf("  packet ring not measured: the engine needs CAP_NET_RAW\n");
    // The sides take turns, so that a change in the machine's load reaches all of them.
    Summary drainAll;
    Summary libraryAll;
    Summary ringAll;
    for (uint32_t round = 1; round <= rounds; ++round) {
        const Side drain = runDrain(*camera, frames);
        const Side library = runLibrary(*camera, frames);
        const double packetsPerFrame = static_cast<double>(drain.packets) /
                                       static_cast<double>(std::max<uint64_t>(drain.frames, 1));
        std::printf("  round %u: %.0f packets a frame, arriving over %.1f ms (median)\n", round,
                    packetsPerFrame, percentile(drain.spreadMs, 0.5));
        print("recvmmsg drain", drain, frames);
        print("socket path", library, frames);
        drainAll.add(drain);
        libraryAll.add(library);
        if (ring) {
            const Side packetRing = runPacketRing(*camera, frames, *ring);
            print("packet ring", packetRing, frames);
            ringAll.add(packetRing);
        }
    }
    const double drainCpu = percentile(drainAll.cpuMs, 0.5);
    const double drainLatency = percentile(drainAll.latencyMs, 0.5);
    std::printf("  over %u rounds (CPU and wake-ups: median of the rounds; latency: all frames):\n",
                rounds);
    const auto summarize = [&](const char* name, const Summary& s) {
        const double cpu = percentile(s.cpuMs, 0.5);
        std::printf(
            "    %-16s %6.3f ms CPU/frame  %6.1f wake-ups/frame  latency ms: median %.3f  "
            "p99 %.3f  max %.3f  (%llu/%u frames whole)\n",
            name, cpu, percentile(s.wakeUps, 0.5), percentile(s.latencyMs, 0.5),
            percentile(s.latencyMs, 0.99), percentile(s.latencyMs, 1.0),
            static_cast<unsigned long long>(s.frames), frames * rounds);
        if (&s != &drainAll && drainCpu > 0.0 && s.frames != 0) {
            // Added: beyond the drain's median time from a frame's last packet to reading it.
            std::printf(
                "      %s/drain CPU per frame: %.2f; latency added: median %.3f ms, max %.3f ms\n",
                name, cpu / drainCpu, percentile(s.latencyMs, 0.5) - drainLatency,
                percentile(s.latencyMs, 1.0) - drainLatency);
            std::printf(
                "      taking the images (the reader's thread, copy included): %.3f ms "
                "CPU/frame\n",
                percentile(s.readerCpuMs, 0.5));
        }
    };
    summarize("recvmmsg drain", drainAll);
    summarize("socket path", libraryAll);
    if (ring)
        summarize("packet ring", ringAll);
    std::printf("  load average after: %s\n", loadAverage().c_str());
    (void)GEVClose(kDevice);
    return 0;
}
