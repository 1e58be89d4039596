// gevcamsim: runs simulated cameras on consecutive addresses until SIGINT or SIGTERM.
//   gevcamsim [--address 127.0.0.2] [--count N] [--serial-prefix SIM] [--interface NAME]
//             [--link-rate MBIT]
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "sim/camera_server.h"

namespace {

struct Options {
    uint32_t firstAddressNet = 0;
    unsigned count = 1;
    std::string serialPrefix = "SIM";
    std::string interface;
    uint64_t linkBitsPerSecond = 0;
};

constexpr unsigned kMaxCameras = 250;
constexpr unsigned long kMaxLinkMbit = 100000;

int usage(const char* program) {
    std::fprintf(
        stderr,
        "usage: %s [--address 127.0.0.2] [--count N (1..%u)] [--serial-prefix TEXT]\n"
        "          [--interface NAME] [--link-rate MBIT]\n"
        "Serves N simulated GigE Vision cameras on consecutive addresses from --address,\n"
        "each on UDP 3956, until SIGINT or SIGTERM. The addresses must be local: loopback\n"
        "(127.0.0.2, 127.0.0.3, ...) or, for discovery and Force IP by broadcast, the\n"
        "address of a veth end inside a network namespace, for example:\n"
        "  ip netns exec cams %s --address 198.18.1.20 --count 3 --interface veth1\n"
        "--interface names the cameras' link: broadcasts are heard only there and a\n"
        "forced address is added to it. Cameras on loopback hear no broadcasts.\n"
        "--link-rate spreads each frame's packets at the line rate of a link of that many\n"
        "Mbit/s (1..%lu; 1000 for a 1 Gbit/s camera) instead of sending them as one burst.\n",
        program, kMaxCameras, program, kMaxLinkMbit);
    return 2;
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
        } else if (std::strcmp(arg, "--link-rate") == 0) {
            char* end = nullptr;
            const unsigned long mbit = std::strtoul(value, &end, 10);
            if (*end != '\0' || mbit == 0 || mbit > kMaxLinkMbit)
                return false;
            options.linkBitsPerSecond = uint64_t{mbit} * 1000000;
        } else {
            return false;
        }
        ++i;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
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
        config.linkBitsPerSecond = options.linkBitsPerSecond;
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

    int signal = 0;
    sigwait(&stopSignals, &signal);
    return 0;
}
