// gevcamsim: runs simulated cameras on consecutive addresses until SIGINT or SIGTERM.
//   gevcamsim [--address 127.0.0.2] [--count N] [--serial-prefix SIM] [--interface NAME]
//             [--stream-faults LIST] [--multi-part N] [--event-interval MS]
//             [--report-mask A.B.C.D] [--write-only-memory BYTES] [--sensor mono|colour]
//             [--link-rate MBIT] [--runs N]
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gvcp/wire_events.h"
#include "platform/socket.h"
#include "sim/camera_server.h"

namespace {

struct Options {
    uint32_t firstAddressNet = 0;
    unsigned count = 1;
    std::string serialPrefix = "SIM";
    std::string interface;
    kavro::sim::CameraConfig stream;       // only the stream pattern fields are used
    unsigned eventIntervalMs = 0;          // 0: no periodic events
    std::optional<uint32_t> reportedMask;  // host byte order
    uint32_t writeOnlyMemory = 0;          // bytes at the end of user memory
    bool colourSensor = false;
    uint64_t linkBitsPerSecond = 0;
    uint32_t runLength = 0;
};

// A probability in [0, 1].
bool parseProbability(const char* text, double& out) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0.0 && value <= 1.0))
        return false;
    out = value;
    return true;
}

// "lose=P,lose-leader=P,lose-trailer=P,seed=N,plain-resends" in any order and subset.
bool parseStreamFaults(const std::string& list, kavro::sim::CameraConfig& config) {
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = std::min(list.find(',', start), list.size());
        const std::string item = list.substr(start, comma - start);
        const size_t equals = item.find('=');
        const std::string key = item.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
        if (key == "plain-resends" && equals == std::string::npos) {
            config.plainResends = true;
        } else if (key == "lose") {
            if (!parseProbability(value.c_str(), config.streamLoss))
                return false;
        } else if (key == "lose-leader") {
            if (!parseProbability(value.c_str(), config.streamLeaderLoss))
                return false;
        } else if (key == "lose-trailer") {
            if (!parseProbability(value.c_str(), config.streamTrailerLoss))
                return false;
        } else if (key == "seed") {
            char* end = nullptr;
            config.streamSeed = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0')
                return false;
        } else {
            return false;
        }
        start = comma + 1;
    }
    return true;
}

constexpr unsigned kMaxCameras = 250;
constexpr unsigned long kMaxLinkMbit = 100000;

int usage(const char* program, FILE* out = stderr) {
    std::fprintf(
        out,
        "usage: %s [--address 127.0.0.2] [--count N (1..%u)] [--serial-prefix TEXT]\n"
        "          [--interface NAME] [--stream-faults LIST] [--multi-part N (1..16)]\n"
        "          [--event-interval MS] [--report-mask A.B.C.D] [--write-only-memory BYTES]\n"
        "          [--sensor mono|colour] [--link-rate MBIT] [--runs N (2..64)]\n"
        "Serves N simulated GigE Vision cameras on consecutive addresses from --address,\n"
        "each on UDP 3956, until SIGINT or SIGTERM. The addresses must be local: loopback\n"
        "(127.0.0.2, 127.0.0.3, ...) or, for discovery and Force IP by broadcast, the\n"
        "address of a veth end inside a network namespace, for example:\n"
        "  ip netns exec cams %s --address 198.18.1.20 --count 3 --interface veth1\n"
        "--interface names the cameras' link: broadcasts are heard only there and a\n"
        "forced address is added to it. Cameras on loopback hear no broadcasts.\n"
        "--stream-faults makes the cameras' streams lossy, LIST being a comma list of\n"
        "lose=P (payload packets), lose-leader=P, lose-trailer=P (probabilities 0..1),\n"
        "seed=N and plain-resends (resent packets carry status 0 instead of 0x0100).\n"
        "--multi-part N sends every block as a multi-part block of N parts.\n"
        "--event-interval makes every camera send an event (id 0x9000, 4 data bytes\n"
        "counting up) every MS milliseconds once an application set up its message\n"
        "channel.\n"
        "--report-mask makes the cameras report this subnet mask (0.0.0.0: an empty one)\n"
        "instead of their real one, as some cameras in the field do.\n"
        "--write-only-memory makes the last BYTES of the user memory take writes but refuse\n"
        "reads.\n"
        "--sensor colour gives the cameras a Bayer RG sensor (PixelFormat BayerRG8).\n"
        "--link-rate spreads each frame's packets at the line rate of a link of that many\n"
        "Mbit/s (1..%lu; 1000 for a 1 Gbit/s camera) instead of sending them as one burst.\n"
        "--runs N hands each frame's packets to the host's stack in runs of up to N of one\n"
        "size, cut apart by the kernel: on loopback a receiver that asks for receive\n"
        "coalescing gets them as a host's receive offload hands over a camera's packets.\n",
        program, kMaxCameras, program, kMaxLinkMbit);
    return out == stderr ? 2 : 0;
}

bool parse(int argc, char** argv, Options& options) {
    options.firstAddressNet = kavro::platform::parseIpv4("127.0.0.2");
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (value == nullptr)
            return false;
        if (std::strcmp(arg, "--address") == 0) {
            options.firstAddressNet = kavro::platform::parseIpv4(value);
            if (options.firstAddressNet == 0)
                return false;
        } else if (std::strcmp(arg, "--count") == 0) {
            char* end = nullptr;
            const unsigned long n = std::strtoul(value, &end, 10);
            if (*end != '\0' || n == 0 || n > kMaxCameras)
                return false;
            options.count = static_cast<unsigned>(n);
        } else if (std::strcmp(arg, "--serial-prefix") == 0) {
            options.serialPrefix = value;
        } else if (std::strcmp(arg, "--interface") == 0) {
            options.interface = value;
        } else if (std::strcmp(arg, "--stream-faults") == 0) {
            if (!parseStreamFaults(value, options.stream))
                return false;
        } else if (std::strcmp(arg, "--multi-part") == 0) {
            char* end = nullptr;
            const unsigned long n = std::strtoul(value, &end, 10);
            if (*end != '\0' || n == 0 || n > 16)
                return false;
            options.stream.streamParts = static_cast<uint32_t>(n);
        } else if (std::strcmp(arg, "--event-interval") == 0) {
            char* end = nullptr;
            const unsigned long ms = std::strtoul(value, &end, 10);
            if (*end != '\0' || ms == 0 || ms > 3600000)
                return false;
            options.eventIntervalMs = static_cast<unsigned>(ms);
        } else if (std::strcmp(arg, "--report-mask") == 0) {
            in_addr mask{};
            if (::inet_pton(AF_INET, value, &mask) != 1)
                return false;
            options.reportedMask = ntohl(mask.s_addr);
        } else if (std::strcmp(arg, "--write-only-memory") == 0) {
            char* end = nullptr;
            const unsigned long n = std::strtoul(value, &end, 10);
            if (*end != '\0' || n == 0 || n > kavro::sim::CameraConfig{}.userMemorySize)
                return false;
            options.writeOnlyMemory = static_cast<uint32_t>(n);
        } else if (std::strcmp(arg, "--sensor") == 0) {
            if (std::strcmp(value, "mono") != 0 && std::strcmp(value, "colour") != 0)
                return false;
            options.colourSensor = std::strcmp(value, "colour") == 0;
        } else if (std::strcmp(arg, "--link-rate") == 0) {
            char* end = nullptr;
            const unsigned long mbit = std::strtoul(value, &end, 10);
            if (*end != '\0' || mbit == 0 || mbit > kMaxLinkMbit)
                return false;
            options.linkBitsPerSecond = uint64_t{mbit} * 1000000;
        } else if (std::strcmp(arg, "--runs") == 0) {
            char* end = nullptr;
            const unsigned long n = std::strtoul(value, &end, 10);
            if (*end != '\0' || n < 2 || n > 64)
                return false;
            options.runLength = static_cast<uint32_t>(n);
        } else {
            return false;
        }
        ++i;
    }
    return true;
}

// Sends an EVENTDATA from every camera each interval until stopped; a camera whose message
// channel nobody set up sends nothing.
class EventTicker {
  public:
    EventTicker(const std::vector<std::unique_ptr<kavro::sim::CameraServer>>& cameras,
                unsigned intervalMs)
        : thread_([this, &cameras, intervalMs] { run(cameras, intervalMs); }) {}
    EventTicker(const EventTicker&) = delete;
    EventTicker& operator=(const EventTicker&) = delete;
    ~EventTicker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

  private:
    void run(const std::vector<std::unique_ptr<kavro::sim::CameraServer>>& cameras,
             unsigned intervalMs) {
        uint32_t sequence = 0;
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(intervalMs),
                               [this] { return stop_; })) {
            lock.unlock();
            ++sequence;
            const uint8_t data[4] = {
                static_cast<uint8_t>(sequence >> 24), static_cast<uint8_t>(sequence >> 16),
                static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence)};
            for (const auto& camera : cameras) {
                kavro::gvcp::EventToSend event;
                event.eventData = true;
                event.eventId = 0x9000;
                event.blockId = sequence;
                event.timestamp = static_cast<uint64_t>(
                    std::chrono::steady_clock::now().time_since_epoch().count());
                event.data = data;
                (void)camera->sendEvent(event);
            }
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return usage(argv[0], stdout);
    }
    Options options;
    if (!parse(argc, argv, options))
        return usage(argv[0]);

    // Block the stop signals before any server thread starts, so that only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<std::unique_ptr<kavro::sim::CameraServer>> cameras;
    for (unsigned i = 0; i < options.count; ++i) {
        kavro::sim::CameraConfig config;
        config.mac[4] = static_cast<uint8_t>((i + 1) >> 8);
        config.mac[5] = static_cast<uint8_t>(i + 1);
        char serial[32];
        std::snprintf(serial, sizeof serial, "%s%05u", options.serialPrefix.c_str(), i + 1);
        config.serialNumber = serial;
        config.broadcastInterface = options.interface;
        config.streamSeed = options.stream.streamSeed + i;
        config.streamLoss = options.stream.streamLoss;
        config.streamLeaderLoss = options.stream.streamLeaderLoss;
        config.streamTrailerLoss = options.stream.streamTrailerLoss;
        config.plainResends = options.stream.plainResends;
        config.streamParts = options.stream.streamParts;
        config.reportedSubnetMask = options.reportedMask;
        if (options.writeOnlyMemory != 0)
            config.writeOnlyUserMemoryFrom = config.userMemorySize - options.writeOnlyMemory;
        config.colourSensor = options.colourSensor;
        config.linkBitsPerSecond = options.linkBitsPerSecond;
        config.streamRunLength = options.runLength;
        const uint32_t addressNet = htonl(ntohl(options.firstAddressNet) + i);
        char address[16];
        kavro::platform::formatIpv4(addressNet, address);
        auto camera = kavro::sim::CameraServer::start(config, addressNet);
        if (!camera) {
            std::fprintf(stderr, "gevcamsim: can't serve on %s:3956\n", address);
            return 1;
        }
        const auto& mac = config.mac;
        std::printf("%s  %02X:%02X:%02X:%02X:%02X:%02X  %s\n", address, mac[0], mac[1], mac[2],
                    mac[3], mac[4], mac[5], config.serialNumber.c_str());
        cameras.push_back(std::move(camera));
    }
    std::fflush(stdout);

    std::unique_ptr<EventTicker> ticker;
    if (options.eventIntervalMs != 0)
        ticker = std::make_unique<EventTicker>(cameras, options.eventIntervalMs);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;
}
