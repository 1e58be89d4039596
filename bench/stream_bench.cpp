// Stream reception over loopback: a sender thread sends GVSP frames at increasing packet rates,
// first to a plain recvmmsg drain and then to the library's receiver (an open device with a
// running acquisition, images taken with the ring-buffer calls, which copy nothing). For 1500-
// and 9000-byte packets it prints the highest rate at which each side lost nothing, the
// receiving thread's CPU time per packet, and the library's figures as ratios of the drain's.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "frame/device_table.h"
#include "gvcp/bootstrap.h"
#include "gvsp/acquisition.h"
#include "gvsp/stream_channel.h"
#include "gvsp/wire.h"
#include "platform/shared_table.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "sim/camera_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace gvsp = kavro::gvsp;
namespace platform = kavro::platform;

constexpr uint8_t kDevice = 1;
constexpr uint32_t kPacketsPerFrame = 100;  // payload packets; plus a leader and a trailer
constexpr auto kTrialLength = 300ms;
constexpr double kFirstRate = 40000.0;  // packets per second
constexpr double kRateStep = 1.25;
constexpr int kMaxSteps = 24;
// A trial whose sender reached less than this share of the asked rate ends the climb.
constexpr double kSenderShortfall = 0.95;
constexpr size_t kBatch = 64;
constexpr size_t kMaxSegments = 64;       // segments of one send
constexpr size_t kMaxUdpPayload = 65507;  // bytes of one send

// CPU time of any thread of this process, by kernel thread id.
double threadCpuSeconds(pid_t tid) {
    const clockid_t clock = static_cast<clockid_t>((~static_cast<clockid_t>(tid)) * 8 + 6);
    timespec ts{};
    if (::clock_gettime(clock, &ts) != 0)
        return 0.0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
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

// The frames of one trial, laid out once: leader, the payload packets back to back (so that
// a run of them leaves in one segmented send) and trailer. Block ids are patched in as the
// frames go out.
class Traffic {
  public:
    explicit Traffic(uint32_t dataSize)
        : dataSize_(dataSize),
          stride_(dataSize + gvsp::kExtendedHeaderSize),
          leader_(64),
          trailer_(64),
          payload_(stride_ * kPacketsPerFrame) {
        gvsp::Leader leader;
        leader.payloadType = gvsp::kPayloadImage;
        leader.pixelFormat = 0x01080001;
        leader.sizeX = dataSize;
        leader.sizeY = kPacketsPerFrame;
        leader_.resize(gvsp::writeLeader(leader_, header(gvsp::kFormatLeader, 0), leader));
        for (uint32_t p = 1; p <= kPacketsPerFrame; ++p) {
            const std::span<uint8_t> packet(payload_.data() + (p - 1) * stride_, stride_);
            const size_t head = gvsp::writeHeader(packet, header(gvsp::kFormatPayload, p));
            for (size_t o = head; o < stride_; ++o)
                packet[o] = static_cast<uint8_t>(p * 13 + o);
        }
        gvsp::Trailer trailer;
        trailer.payloadType = gvsp::kPayloadImage;
        trailer.hasSizeY = true;
        trailer.sizeY = kPacketsPerFrame;
        trailer_.resize(gvsp::writeTrailer(
            trailer_, header(gvsp::kFormatTrailer, kPacketsPerFrame + 1), trailer));
    }
    uint32_t payloadSize() const { return dataSize_ * kPacketsPerFrame; }
    size_t stride() const { return stride_; }
    static uint32_t packetsPerFrame() { return kPacketsPerFrame + 2; }

    // Makes every packet of the frame carry `blockId`.
    void setBlockId(uint64_t blockId) {
        patch(leader_.data(), blockId);
        patch(trailer_.data(), blockId);
        for (uint32_t p = 0; p < kPacketsPerFrame; ++p)
            patch(payload_.data() + p * stride_, blockId);
    }
    std::span<uint8_t> leader() { return leader_; }
    std::span<uint8_t> trailer() { return trailer_; }
    // Payload packets first..first+count-1 (0-based), back to back.
    std::span<uint8_t> payload(uint32_t first, uint32_t count) {
        return {payload_.data() + first * stride_, count * stride_};
    }

  private:
    static gvsp::PacketHeader header(uint8_t format, uint32_t packetId) {
        return {0, true, format, 1, packetId};
    }
    static void patch(uint8_t* packet, uint64_t blockId) {
        for (int i = 0; i < 8; ++i)
            packet[8 + i] = static_cast<uint8_t>(blockId >> (56 - 8 * i));
    }
    uint32_t dataSize_;
    size_t stride_;
    std::vector<uint8_t> leader_;
    std::vector<uint8_t> trailer_;
    std::vector<uint8_t> payload_;
};

struct Sent {
    uint64_t packets = 0;
    double seconds = 0.0;
    double rate() const { return seconds > 0.0 ? packets / seconds : 0.0; }
};

// The sender's socket. With UDP segmentation offload one send carries a run of equal payload
// packets, which the kernel cuts apart: the sender then outruns the receivers, which is what a
// receiver measurement needs.
struct SenderSocket {
    platform::UniqueSocket socket;
    uint32_t segmentsPerSend = 1;  // payload packets per send
};

SenderSocket makeSender(uint32_t cameraAddressNet, const Traffic& traffic) {
    SenderSocket s;
    s.socket = platform::createUdpSocket(cameraAddressNet, 0);
    const int sendBuffer = 8 << 20;
    (void)::setsockopt(s.socket.get(), SOL_SOCKET, SO_SNDBUFFORCE, &sendBuffer, sizeof sendBuffer);
    const int segment = static_cast<int>(traffic.stride());
    if (::setsockopt(s.socket.get(), SOL_UDP, UDP_SEGMENT, &segment, sizeof segment) == 0) {
        s.segmentsPerSend = static_cast<uint32_t>(
            std::min<size_t>(kMaxSegments, kMaxUdpPayload / traffic.stride()));
    }
    return s;
}

// Sends whole frames to 127.0.0.1:port at `rate` packets per second for about a trial's length,
// each frame when it falls due.
Sent send(const SenderSocket& sender, Traffic& traffic, uint16_t port, double rate) {
    const uint64_t frames = std::max<uint64_t>(
        1, static_cast<uint64_t>(rate * std::chrono::duration<double>(kTrialLength).count()) /
               Traffic::packetsPerFrame());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<iovec> iov;
    std::vector<mmsghdr> messages;
    const auto add = [&](std::span<uint8_t> bytes) {
        iov.push_back({bytes.data(), bytes.size()});
        messages.emplace_back();
    };
    const auto start = Clock::now();
    uint64_t frame = 0;
    uint64_t sent = 0;
    while (frame < frames) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (static_cast<double>(frame * Traffic::packetsPerFrame()) > elapsed * rate) {
            std::this_thread::sleep_for(20us);
            continue;
        }
        traffic.setBlockId(frame + 1);
        iov.clear();
        messages.clear();
        add(traffic.leader());
        for (uint32_t p = 0; p < kPacketsPerFrame; p += sender.segmentsPerSend)
            add(traffic.payload(p, std::min(sender.segmentsPerSend, kPacketsPerFrame - p)));
        add(traffic.trailer());
        for (size_t i = 0; i < messages.size(); ++i) {
            messages[i].msg_hdr.msg_name = &to;
            messages[i].msg_hdr.msg_namelen = sizeof to;
            messages[i].msg_hdr.msg_iov = &iov[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        size_t done = 0;
        while (done < messages.size()) {
            const int n = ::sendmmsg(sender.socket.get(), messages.data() + done,
                                     static_cast<unsigned>(messages.size() - done), 0);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        if (done == messages.size())
            sent += Traffic::packetsPerFrame();
        ++frame;
    }
    return {sent, std::chrono::duration<double>(Clock::now() - start).count()};
}

struct Outcome {
    Sent sent;
    uint64_t received = 0;  // packets (drain) or packets of complete frames (library)
    double cpuSeconds = 0.0;
    bool lossFree() const { return received == sent.packets; }
};

void setReceiveTimeout(const platform::UniqueSocket& socket, std::chrono::milliseconds t) {
    timeval tv{static_cast<time_t>(t.count() / 1000),
               static_cast<suseconds_t>((t.count() % 1000) * 1000)};
    (void)::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// The baseline: a thread of the same priority as the library's receiver that only drains.
Outcome runDrain(const SenderSocket& sender, Traffic& traffic, double rate, size_t datagramSize) {
    platform::UniqueSocket socket = gvsp::createStreamSocket(htonl(INADDR_LOOPBACK), 0);
    const auto port = platform::localPort(socket);
    if (!socket.isValid() || !port)
        return {};
    setReceiveTimeout(socket, 100ms);
    std::atomic<uint64_t> expected{~uint64_t{0}};
    std::atomic<uint64_t> received{0};
    std::atomic<double> cpu{0.0};
    platform::WorkerThread drain;
    const bool started = drain.start(
        [&] {
            std::vector<std::vector<uint8_t>> buffers(kBatch, std::vector<uint8_t>(datagramSize));
            std::vector<iovec> iov(kBatch);
            std::vector<mmsghdr> messages(kBatch);
            for (size_t i = 0; i < kBatch; ++i) {
                iov[i] = {buffers[i].data(), buffers[i].size()};
                messages[i].msg_hdr.msg_iov = &iov[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            timespec t0{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
            uint64_t count = 0;
            while (count < expected.load()) {
                const int n =
                    ::recvmmsg(socket.get(), messages.data(), kBatch, MSG_WAITFORONE, nullptr);
                if (n > 0) {
                    count += static_cast<uint64_t>(n);
                } else if (expected.load() != ~uint64_t{0}) {
                    break;  // silence after the sender finished: the rest was lost
                }
            }
            timespec t1{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t1);
            cpu = static_cast<double>(t1.tv_sec - t0.tv_sec) +
                  static_cast<double>(t1.tv_nsec - t0.tv_nsec) * 1e-9;
            received = count;
        },
        platform::ThreadPriority::Highest);
    if (!started)
        return {};
    Outcome out;
    out.sent = send(sender, traffic, *port, rate);
    expected = out.sent.packets;
    (void)drain.join(5000ms);
    out.received = received.load();
    out.cpuSeconds = cpu.load();
    return out;
}

// The library: a running acquisition on the open device; a reader thread takes every image
// with the ring-buffer calls and counts those that arrived whole.
Outcome runLibrary(const SenderSocket& sender, Traffic& traffic, double rate, uint16_t port) {
    const auto before = threadIds();
    if (GEVAcquisitionStartEx(kDevice, 0, traffic.payloadSize()) != GEV_STATUS_SUCCESS)
        return {};
    pid_t receiver = 0;
    for (const pid_t tid : threadIds()) {
        if (before.count(tid) == 0)
            receiver = tid;
    }
    const double cpu0 = receiver != 0 ? threadCpuSeconds(receiver) : 0.0;
    std::atomic<uint64_t> expectedFrames{~uint64_t{0}};
    uint64_t complete = 0;
    std::thread reader([&] {
        uint64_t seen = 0;
        while (seen < expectedFrames.load()) {
            GevImageHeader h{};
            uint8_t index = 0;
            const GevStatus s = GEVGetImageRingBuffer(kDevice, &h, &index);
            if (s == GEV_STATUS_TIMEOUT) {
                if (expectedFrames.load() != ~uint64_t{0})
                    break;
                continue;
            }
            ++seen;
            if (s == GEV_STATUS_SUCCESS && h.missingPackets == 0)
                ++complete;
            (void)GEVQueueRingBuffer(kDevice, index);
        }
    });
    Outcome out;
    out.sent = send(sender, traffic, port, rate);
    expectedFrames = out.sent.packets / Traffic::packetsPerFrame();
    reader.join();
    out.cpuSeconds = receiver != 0 ? threadCpuSeconds(receiver) - cpu0 : 0.0;
    (void)GEVAcquisitionStop(kDevice);
    const auto& c = kavro::frame::DeviceTable::instance().record(kDevice)->counters;
    if (c.framesLost.load() != 0 || c.packetsLost.load() != 0)
        complete = 0;
    out.received = complete * Traffic::packetsPerFrame();
    return out;
}

struct Best {
    double rate = 0.0;
    double cpuPerPacket = 0.0;
    int lossySteps = 0;
    bool done = false;
};

void record(Best& best, const Outcome& o) {
    if (o.lossFree() && o.sent.packets != 0) {
        if (o.sent.rate() > best.rate) {
            best.rate = o.sent.rate();
            best.cpuPerPacket = o.cpuSeconds / static_cast<double>(o.sent.packets);
        }
        best.lossySteps = 0;
    } else if (++best.lossySteps >= 2) {
        best.done = true;  // lost twice in a row: the climb is over for this side
    }
}

void benchPacketSize(kavro::sim::CameraServer& camera, uint32_t packetSize) {
    camera.model().writeRegister(kavro::gvcp::reg::kScps0, packetSize);
    auto& dev = *kavro::frame::DeviceTable::instance().record(kDevice);
    uint32_t dataSize = 0;
    if (gvsp::readPacketDataSize(dev, dataSize) != GEV_STATUS_SUCCESS || dataSize == 0) {
        std::printf("  %u-byte packets: packet size not accepted\n", packetSize);
        return;
    }
    Traffic traffic(dataSize);
    const uint16_t port = dev.streamPort;
    const SenderSocket sender = makeSender(camera.addressNet(), traffic);

    std::printf("\n%u-byte packets (%u data bytes), frames of %u packets, %u per send:\n",
                packetSize, dataSize, Traffic::packetsPerFrame(), sender.segmentsPerSend);
    std::printf("  %12s  %-30s %-30s\n", "asked pkt/s", "drain: sent, CPU/pkt",
                "library: sent, CPU/pkt");
    Best drain;
    Best library;
    bool senderBound = false;
    double rate = kFirstRate;
    for (int step = 0; step < kMaxSteps && !(drain.done && library.done);
         ++step, rate *= kRateStep) {
        char drainText[48] = "-";
        char libraryText[48] = "-";
        double sentRate = 0.0;
        if (!drain.done) {
            const Outcome o = runDrain(sender, traffic, rate, size_t{packetSize} + 100);
            record(drain, o);
            sentRate = o.sent.rate();
            std::snprintf(drainText, sizeof drainText, "%s %7.0f/s %5.0f ns",
                          o.lossFree() ? "ok  " : "LOSS", o.sent.rate(),
                          o.cpuSeconds * 1e9 / o.sent.packets);
        }
        if (!library.done) {
            const Outcome o = runLibrary(sender, traffic, rate, port);
            record(library, o);
            sentRate = std::max(sentRate, o.sent.rate());
            std::snprintf(libraryText, sizeof libraryText, "%s %7.0f/s %5.0f ns",
                          o.lossFree() ? "ok  " : "LOSS", o.sent.rate(),
                          o.cpuSeconds * 1e9 / o.sent.packets);
        }
        std::printf("  %12.0f  %-30s %-30s\n", rate, drainText, libraryText);
        std::fflush(stdout);
        if (sentRate < rate * kSenderShortfall) {
            senderBound = !drain.done && !library.done;
            std::printf("  (the sender can't go faster)\n");
            break;
        }
    }
    const auto gbit = [&](double r) { return r * packetSize * 8.0 / 1e9; };
    std::printf("  highest loss-free rate:\n");
    std::printf("    recvmmsg drain  %10.0f pkt/s  %6.2f Gbit/s  %6.0f ns CPU/pkt\n", drain.rate,
                gbit(drain.rate), drain.cpuPerPacket * 1e9);
    std::printf("    library         %10.0f pkt/s  %6.2f Gbit/s  %6.0f ns CPU/pkt\n", library.rate,
                gbit(library.rate), library.cpuPerPacket * 1e9);
    if (drain.rate > 0.0 && drain.cpuPerPacket > 0.0) {
        std::printf("    ratio library/drain: rate %.2f, CPU per packet %.2f\n",
                    library.rate / drain.rate, library.cpuPerPacket / drain.cpuPerPacket);
    }
    if (senderBound && drain.cpuPerPacket > 0.0 && library.cpuPerPacket > 0.0) {
        // Neither side lost a packet before the sender ran out: the rate each thread would
        // carry with a core to itself, from its CPU time per packet at the highest rate.
        const double drainCeiling = 1.0 / drain.cpuPerPacket;
        const double libraryCeiling = 1.0 / library.cpuPerPacket;
        std::printf("  both sides kept up with the sender; one core would carry about:\n");
        std::printf("    recvmmsg drain  %10.0f pkt/s  %6.2f Gbit/s\n", drainCeiling,
                    gbit(drainCeiling));
        std::printf("    library         %10.0f pkt/s  %6.2f Gbit/s\n", libraryCeiling,
                    gbit(libraryCeiling));
        std::printf("    ratio library/drain: %.2f\n", libraryCeiling / drainCeiling);
    }
}

}  // namespace

int main() {
    platform::SharedOpenFlags::usePrivateTableForThisProcess();
    auto camera = kavro::sim::CameraServer::startOnLoopback();
    if (!camera) {
        std::fprintf(stderr, "stream_bench: no loopback address for the simulated camera\n");
        return 1;
    }
    GevConnectInfo info{};
    info.deviceAddress = camera->addressNet();
    info.hostAddress = htonl(INADDR_LOOPBACK);
    info.subnetMask = htonl(0xFF000000);
    std::strcpy(info.adapterName, "lo");
    if (GEVInit(kDevice, &info, nullptr, 0, 1) != GEV_STATUS_SUCCESS ||
        GEVOpenStreamChannel(kDevice, 0, 0, 0) != GEV_STATUS_SUCCESS ||
        GEVSetBufferCount(kDevice, 64) != GEV_STATUS_SUCCESS) {
        std::fprintf(stderr, "stream_bench: could not open the simulated camera\n");
        return 1;
    }
    GevChannelParameter p{};
    (void)GEVGetChannelParameter(kDevice, &p);
    p.imageTimeout = 100;
    (void)GEVSetChannelParameter(kDevice, &p);

    std::printf("GVSP reception over loopback, %.1f s per trial, rates x%.2f from %.0f pkt/s\n",
                std::chrono::duration<double>(kTrialLength).count(), kRateStep, kFirstRate);
    const auto start = Clock::now();
    for (const uint32_t size : {1500u, 9000u})
        benchPacketSize(*camera, size);
    std::printf("\ntotal %.1f s\n", std::chrono::duration<double>(Clock::now() - start).count());
    (void)GEVClose(kDevice);
    return 0;
}
