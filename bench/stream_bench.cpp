// Stream reception over loopback: a sender thread sends GVSP frames at increasing packet rates,
// at each rate to a plain recvmmsg drain (one buffer used over and over), to a drain into
// frame-sized buffers (as much memory as the library's ring, so the cost of writing to it shows
// apart), to the library's socket receiver (an open device with a running acquisition, images
// taken with the ring-buffer calls, which copy nothing) and to the packet-ring engine of the
// filter driver path (driven through the filter device interface, images taken with its image
// read). The socket receiver is measured a second time with a ring of four entries, which fits
// the processor's cache. The sender hands runs of payload packets to the kernel in one piece:
// the socket receiver, which asks for receive coalescing, reads each run whole. For 1500- and
// 9000-byte packets it prints the highest rate at which each side mostly lost nothing (found
// in coarse steps, then again in fine steps with three trials each), then the CPU time
// per packet of each side at the highest rate all of them carried, in alternating rounds: of the
// receiving thread (its kernel time included) and of the whole process (sender, reader and the
// kernel's receive work on loopback included), as ratios of the drains'. At 1500 bytes the packet
// ring is then tried at 10 GbE line rate, 812,000 packets/s.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "bench/packet_ring_path.h"
#include "filterdriver/filter_device.h"
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
namespace filterdriver = kavro::filterdriver;

constexpr uint8_t kDevice = 1;
constexpr uint32_t kPacketsPerFrame = 100;  // payload packets; plus a leader and a trailer
constexpr auto kTrialLength = 300ms;
constexpr double kFirstRate = 40000.0;  // packets per second
constexpr double kRateStep = 1.25;
constexpr int kMaxSteps = 24;
// A trial whose sender reached less than this share of the asked rate ends the climb.
constexpr double kSenderShortfall = 0.95;
constexpr size_t kBatch = 64;
constexpr uint16_t kBufferCount = 64;     // ring entries of the library
constexpr uint16_t kSmallRing = 4;        // a ring that fits the cache, for comparison
constexpr size_t kMaxSegments = 64;       // segments of one send
constexpr size_t kMaxUdpPayload = 65507;  // bytes of one send
constexpr double kLineRate = 812000.0;    // 10 GbE of 1500-byte packets
constexpr int kLineRateTrials = 3;

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

double processCpuSeconds() {
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    const auto sec = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return sec(r.ru_utime) + sec(r.ru_stime);
}

// The thread a start made: the one that is new since `before`.
pid_t newThread(const std::set<pid_t>& before) {
    for (const pid_t tid : threadIds()) {
        if (before.count(tid) == 0)
            return tid;
    }
    return 0;
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
    uint64_t received = 0;           // packets (drain) or packets of complete frames (library)
    double cpuSeconds = 0.0;         // the receiving thread
    double processCpuSeconds = 0.0;  // the whole process
    bool lossFree() const { return received == sent.packets; }
};

void setReceiveTimeout(const platform::UniqueSocket& socket, std::chrono::milliseconds t) {
    timeval tv{static_cast<time_t>(t.count() / 1000),
               static_cast<suseconds_t>((t.count() % 1000) * 1000)};
    (void)::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// Where a drain puts what it reads: one buffer used over and over (the plain drain), or frames
// laid out as the library's ring lays them out (the same number of entries of the same size,
// each datagram's bytes after its header at its packet's place, entries in turn), so that the
// baseline writes to as much memory as the library does.
struct DrainTarget {
    bool intoFrames = false;
    size_t entries = 0;
    size_t entryBytes = 0;
};

// The baselines: a thread of the same priority as the library's receiver that only drains.
Outcome runDrain(const SenderSocket& sender, Traffic& traffic, double rate, size_t datagramSize,
                 const DrainTarget& target) {
    platform::UniqueSocket socket = gvsp::createStreamSocket(htonl(INADDR_LOOPBACK), 0);
    const auto port = platform::localPort(socket);
    if (!socket.isValid() || !port)
        return {};
    setReceiveTimeout(socket, 100ms);
    std::atomic<uint64_t> expected{~uint64_t{0}};
    std::atomic<uint64_t> received{0};
    std::atomic<double> cpu{0.0};
    std::vector<uint8_t> frames(target.intoFrames ? target.entries * target.entryBytes : 0);
    // Touched once, as the ring's buffers are when it is built.
    std::fill(frames.begin(), frames.end(), uint8_t{0});
    platform::WorkerThread drain;
    const bool started = drain.start(
        [&] {
            std::vector<std::vector<uint8_t>> buffers(kBatch, std::vector<uint8_t>(datagramSize));
            std::vector<std::array<iovec, 2>> iov(kBatch);
            std::vector<mmsghdr> messages(kBatch);
            for (size_t i = 0; i < kBatch; ++i) {
                iov[i][0] = {buffers[i].data(), buffers[i].size()};
                messages[i].msg_hdr.msg_iov = iov[i].data();
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            const size_t dataSize = traffic.stride() - gvsp::kExtendedHeaderSize;
            const uint64_t perFrame = Traffic::packetsPerFrame();
            uint64_t place = 0;  // datagrams placed so far
            timespec t0{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t0);
            uint64_t count = 0;
            while (count < expected.load()) {
                if (target.intoFrames) {
                    for (size_t i = 0; i < kBatch; ++i) {
                        const uint64_t k = place + i;
                        const size_t entry = (k / perFrame) % target.entries;
                        // Leader and trailer land on the first and the last payload place.
                        const size_t slot =
                            std::clamp<size_t>(k % perFrame, 1, kPacketsPerFrame) - 1;
                        iov[i][0] = {buffers[i].data(), gvsp::kExtendedHeaderSize};
                        iov[i][1] = {frames.data() + entry * target.entryBytes + slot * dataSize,
                                     dataSize};
                        messages[i].msg_hdr.msg_iovlen = 2;
                    }
                }
                const int n =
                    ::recvmmsg(socket.get(), messages.data(), kBatch, MSG_WAITFORONE, nullptr);
                if (n > 0) {
                    count += static_cast<uint64_t>(n);
                    place += static_cast<uint64_t>(n);
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
    const double process0 = processCpuSeconds();
    out.sent = send(sender, traffic, *port, rate);
    expected = out.sent.packets;
    (void)drain.join(5000ms);
    out.processCpuSeconds = processCpuSeconds() - process0;
    out.received = received.load();
    out.cpuSeconds = cpu.load();
    return out;
}

// What one take of an image gave.
enum class Take { kTimedOut, kWhole, kBroken };

// Starts a receiver with `start` (the thread it makes is the one measured), sends at `rate` and
// takes every image with `take` on a reader thread; `stop` ends the receiver and tells whether it
// counted no loss. Only frames that arrived whole count as received.
Outcome runReceiver(const SenderSocket& sender, Traffic& traffic, double rate, uint16_t port,
                    const std::function<bool()>& start, const std::function<Take()>& take,
                    const std::function<bool()>& stop) {
    const auto before = threadIds();
    const double process0 = processCpuSeconds();
    if (!start())
        return {};
    const pid_t receiver = newThread(before);
    const double cpu0 = receiver != 0 ? threadCpuSeconds(receiver) : 0.0;
    std::atomic<uint64_t> expectedFrames{~uint64_t{0}};
    uint64_t complete = 0;
    std::thread reader([&] {
        uint64_t seen = 0;
        while (seen < expectedFrames.load()) {
            const Take t = take();
            if (t == Take::kTimedOut) {
                if (expectedFrames.load() != ~uint64_t{0})
                    break;
                continue;
            }
            ++seen;
            complete += t == Take::kWhole ? 1 : 0;
        }
    });
    Outcome out;
    out.sent = send(sender, traffic, port, rate);
    expectedFrames = out.sent.packets / Traffic::packetsPerFrame();
    reader.join();
    out.cpuSeconds = receiver != 0 ? threadCpuSeconds(receiver) - cpu0 : 0.0;
    out.processCpuSeconds = processCpuSeconds() - process0;
    if (!stop())
        complete = 0;
    out.received = complete * Traffic::packetsPerFrame();
    return out;
}

// The library: a running acquisition on the open device; images taken with the ring-buffer
// calls, which copy nothing.
Outcome runLibrary(const SenderSocket& sender, Traffic& traffic, double rate, uint16_t port) {
    return runReceiver(
        sender, traffic, rate, port,
        [&] {
            return GEVAcquisitionStartEx(kDevice, 0, traffic.payloadSize()) == GEV_STATUS_SUCCESS;
        },
        [] {
            GevImageHeader h{};
            uint8_t index = 0;
            const GevStatus s = GEVGetImageRingBuffer(kDevice, &h, &index);
            if (s == GEV_STATUS_TIMEOUT)
                return Take::kTimedOut;
            (void)GEVQueueRingBuffer(kDevice, index);
            return s == GEV_STATUS_SUCCESS && h.missingPackets == 0 ? Take::kWhole : Take::kBroken;
        },
        [] {
            (void)GEVAcquisitionStop(kDevice);
            const auto& c = kavro::frame::DeviceTable::instance().record(kDevice)->counters;
            return c.framesLost.load() == 0 && c.packetsLost.load() == 0;
        });
}

// The filter driver path: the packet-ring engine, images taken with its image read.
Outcome runPacketRing(kavro::bench::PacketRingPath& ring, const SenderSocket& sender,
                      Traffic& traffic, double rate, uint32_t cameraAddressNet, uint16_t port,
                      uint32_t dataSize) {
    const kavro::bench::IdleStreamSocket idle(
        kavro::frame::DeviceTable::instance().record(kDevice)->streamSocket);
    std::vector<uint8_t> image(traffic.payloadSize());
    return runReceiver(
        sender, traffic, rate, port,
        [&] { return ring.start(cameraAddressNet, port, traffic.payloadSize(), dataSize, 64); },
        [&] {
            const uint32_t error = ring.read(image);
            if (error == filterdriver::kErrorSemaphoreTimeout)
                return Take::kTimedOut;
            return error == 0 ? Take::kWhole : Take::kBroken;
        },
        [&] { return ring.stop(); });
}

struct Best {
    double rate = 0.0;   // sent
    double asked = 0.0;  // the step's rate
    int lossySteps = 0;
    bool done = false;
};

void record(Best& best, double asked, const Outcome& o) {
    if (o.lossFree() && o.sent.packets != 0) {
        if (o.sent.rate() > best.rate) {
            best.rate = o.sent.rate();
            best.asked = asked;
        }
        best.lossySteps = 0;
    } else if (++best.lossySteps >= 2) {
        best.done = true;  // lost twice in a row: the climb is over for this side
    }
}

std::string describe(const Outcome& o) {
    char text[64];
    const double packets = static_cast<double>(std::max<uint64_t>(o.sent.packets, 1));
    std::snprintf(text, sizeof text, "%s %7.0f/s %5.0f %5.0f ns", o.lossFree() ? "ok  " : "LOSS",
                  o.sent.rate(), o.cpuSeconds * 1e9 / packets, o.processCpuSeconds * 1e9 / packets);
    return text;
}

double median(std::vector<double> v) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The climb's steps are a quarter apart and one trial each, and near the top loss comes and
// goes with the machine's load. So each side's highest loss-free rate is found again in steps
// of 5 %, from the climb's: the highest step at which at least two of three trials lost
// nothing, and the median rate the sender reached in those.
constexpr double kFineStep = 1.05;
constexpr int kFineTrials = 3;
constexpr int kFineMajority = 2;

double lossFreeMostly(const std::function<Outcome(double)>& run, double rate) {
    std::vector<double> sent;
    for (int k = 0; k < kFineTrials; ++k) {
        const Outcome o = run(rate);
        if (o.lossFree() && o.sent.packets != 0)
            sent.push_back(o.sent.rate());
    }
    return static_cast<int>(sent.size()) >= kFineMajority ? median(sent) : 0.0;
}

double refineLossFreeRate(const std::function<Outcome(double)>& run, const Best& climbed) {
    if (climbed.asked == 0.0)
        return 0.0;
    double rate = climbed.asked;
    double sent = lossFreeMostly(run, rate);
    // A lucky trial made the climb's figure: down in the climb's steps until most trials hold.
    while (sent == 0.0 && rate / kRateStep >= kFirstRate) {
        rate /= kRateStep;
        sent = lossFreeMostly(run, rate);
    }
    double best = sent;
    for (rate *= kFineStep; sent != 0.0 && rate <= climbed.asked * kRateStep * 1.001;
         rate *= kFineStep) {
        sent = lossFreeMostly(run, rate);
        best = std::max(best, sent);
        if (sent < rate * kSenderShortfall)
            break;  // lost, or the sender fell behind: no higher step can be reached
    }
    return best;
}

// Rounds of all sides, in turn, at the rate every side carried.
constexpr int kRounds = 3;

void benchPacketSize(kavro::sim::CameraServer& camera, uint32_t packetSize, uint16_t buffers,
                     kavro::bench::PacketRingPath* ring) {
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
    const DrainTarget frames{true, buffers, size_t{traffic.payloadSize()} + gvsp::kBufferSlack};

    // The sides in the order each step tries them; the plain drain is the baseline, the drain
    // into frames the baseline that writes to as much memory as the receivers do.
    struct Side {
        const char* name;
        std::function<Outcome(double)> run;
        Best best;
        std::vector<double> cpu;
        std::vector<double> processCpu;
    };
    std::vector<Side> sides;
    sides.push_back(
        {"recvmmsg drain",
         [&](double rate) { return runDrain(sender, traffic, rate, size_t{packetSize} + 100, {}); },
         {},
         {},
         {}});
    sides.push_back({"drain into frames",
                     [&](double rate) {
                         return runDrain(sender, traffic, rate, size_t{packetSize} + 100, frames);
                     },
                     {},
                     {},
                     {}});
    sides.push_back({"socket path",
                     [&](double rate) { return runLibrary(sender, traffic, rate, port); },
                     {},
                     {},
                     {}});
    // The socket path again with a ring that fits the processor's cache: what the ring's memory
    // costs the socket path, apart from the path itself.
    sides.push_back({"socket, 4 buffers",
                     [&](double rate) {
                         (void)GEVSetBufferCount(kDevice, kSmallRing);
                         const Outcome o = runLibrary(sender, traffic, rate, port);
                         (void)GEVSetBufferCount(kDevice, buffers);
                         return o;
                     },
                     {},
                     {},
                     {}});
    if (ring != nullptr) {
        sides.push_back({"packet ring",
                         [&](double rate) {
                             return runPacketRing(*ring, sender, traffic, rate, camera.addressNet(),
                                                  port, dataSize);
                         },
                         {},
                         {},
                         {}});
    }

    std::printf("\n%u-byte packets (%u data bytes), frames of %u packets, %u per send:\n",
                packetSize, dataSize, Traffic::packetsPerFrame(), sender.segmentsPerSend);
    std::printf("  each side: sent, CPU per packet of the receiving thread, of the process\n");
    std::printf("  %12s", "asked pkt/s");
    for (const Side& side : sides)
        std::printf("  %-33s", side.name);
    std::printf("\n");
    // The highest rate at which every side lost nothing: there the sides are compared.
    double pairedRate = 0.0;
    bool senderBound = false;
    double rate = kFirstRate;
    const auto allDone = [&] {
        return std::all_of(sides.begin(), sides.end(), [](const Side& x) { return x.best.done; });
    };
    for (int step = 0; step < kMaxSteps && !allDone(); ++step, rate *= kRateStep) {
        double sentRate = 0.0;
        bool allLossFree = true;
        std::printf("  %12.0f", rate);
        for (Side& side : sides) {
            std::string text = "-";
            if (side.best.done) {
                allLossFree = false;
            } else {
                const Outcome o = side.run(rate);
                record(side.best, rate, o);
                allLossFree = allLossFree && o.lossFree() && o.sent.packets != 0;
                sentRate = std::max(sentRate, o.sent.rate());
                text = describe(o);
            }
            std::printf("  %-33s", text.c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
        if (allLossFree)
            pairedRate = rate;
        if (sentRate < rate * kSenderShortfall) {
            senderBound = allLossFree;
            std::printf("  (the sender can't go faster)\n");
            break;
        }
    }
    const auto gbit = [&](double r) { return r * packetSize * 8.0 / 1e9; };
    std::vector<double> highest;
    for (const Side& side : sides)
        highest.push_back(refineLossFreeRate(side.run, side.best));
    std::printf("  highest loss-free rate (in steps of %.0f %%, two of %d trials lost nothing):\n",
                (kFineStep - 1.0) * 100.0, kFineTrials);
    for (size_t i = 0; i < sides.size(); ++i) {
        std::printf("    %-18s %10.0f pkt/s  %6.2f Gbit/s", sides[i].name, highest[i],
                    gbit(highest[i]));
        if (i != 0 && highest[0] > 0.0)
            std::printf("   / drain %.2f", highest[i] / highest[0]);
        std::printf("\n");
    }
    if (senderBound)
        std::printf("    (every side kept up with the sender)\n");
    if (pairedRate > 0.0) {
        // CPU per packet at one rate for all sides, in alternating rounds (the machine's load
        // changes from one trial to the next; the median of the rounds steadies the figure).
        for (int round = 0; round < kRounds; ++round) {
            for (Side& side : sides) {
                const Outcome o = side.run(pairedRate);
                if (!o.lossFree() || o.sent.packets == 0)
                    continue;
                const double packets = static_cast<double>(o.sent.packets);
                side.cpu.push_back(o.cpuSeconds / packets);
                side.processCpu.push_back(o.processCpuSeconds / packets);
            }
        }
        std::printf(
            "  CPU per packet at %.0f pkt/s (median of %d rounds, loss-free trials), of "
            "the receiving thread and of the process:\n",
            pairedRate, kRounds);
        const double drain = median(sides[0].cpu);
        const double drainProcess = median(sides[0].processCpu);
        const double frameDrain = median(sides[1].cpu);
        for (const Side& side : sides) {
            if (side.cpu.empty()) {
                std::printf("    %-18s lost packets in every round\n", side.name);
                continue;
            }
            const double cpu = median(side.cpu);
            const double process = median(side.processCpu);
            std::printf("    %-18s %6.0f ns %6.0f ns  (%zu trials)", side.name, cpu * 1e9,
                        process * 1e9, side.cpu.size());
            if (&side != &sides[0] && drain > 0.0 && drainProcess > 0.0 && frameDrain > 0.0) {
                std::printf("   / drain %.2f (process %.2f), / drain into frames %.2f", cpu / drain,
                            process / drainProcess, cpu / frameDrain);
            }
            std::printf("\n");
        }
    }
    if (ring != nullptr && packetSize == 1500) {
        int lossFree = 0;
        std::printf("  packet ring at 10 GbE line rate (%.0f pkt/s):", kLineRate);
        for (int k = 0; k < kLineRateTrials; ++k) {
            const Outcome o = runPacketRing(*ring, sender, traffic, kLineRate, camera.addressNet(),
                                            port, dataSize);
            lossFree += o.lossFree() ? 1 : 0;
            std::printf("  %s", describe(o).c_str());
        }
        std::printf("\n    %d of %d trials loss-free\n", lossFree, kLineRateTrials);
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
        GEVSetBufferCount(kDevice, kBufferCount) != GEV_STATUS_SUCCESS) {
        std::fprintf(stderr, "stream_bench: could not open the simulated camera\n");
        return 1;
    }
    GevChannelParameter p{};
    (void)GEVGetChannelParameter(kDevice, &p);
    p.imageTimeout = 100;
    (void)GEVSetChannelParameter(kDevice, &p);

    std::printf("GVSP reception over loopback, %.1f s per trial, rates x%.2f from %.0f pkt/s\n",
                std::chrono::duration<double>(kTrialLength).count(), kRateStep, kFirstRate);
    auto ring = kavro::bench::PacketRingPath::open(kDevice);
    if (!ring)
        std::printf("(packet ring not measured: the engine needs CAP_NET_RAW)\n");
    const auto start = Clock::now();
    for (const uint32_t size : {1500u, 9000u})
        benchPacketSize(*camera, size, kBufferCount, ring.get());
    std::printf("\ntotal %.1f s\n", std::chrono::duration<double>(Clock::now() - start).count());
    (void)GEVClose(kDevice);
    return 0;
}
