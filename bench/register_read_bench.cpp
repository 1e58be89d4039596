// Register-read round trip against the simulated camera on loopback: median latency and reads
// per second, with a bare UDP echo of the same size as the baseline.
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "frame/device_open.h"
#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "platform/shared_table.h"
#include "platform/socket.h"
#include "sim/camera_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReads = 20000;

struct Figures {
    double medianUs;
    double perSecond;
};

template <class Op>
Figures measure(Op&& op) {
    std::vector<double> samples;
    samples.reserve(kReads);
    const auto begin = Clock::now();
    for (int i = 0; i < kReads; ++i) {
        const auto t0 = Clock::now();
        if (!op()) {
            std::fprintf(stderr, "operation failed\n");
            return {0, 0};
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    const double total = std::chrono::duration<double>(Clock::now() - begin).count();
    std::nth_element(samples.begin(), samples.begin() + kReads / 2, samples.end());
    return {samples[kReads / 2], kReads / total};
}

}  // namespace

int main() {
    kavro::platform::SharedOpenFlags::usePrivateTableForThisProcess();
    auto camera = kavro::sim::CameraServer::startOnLoopback();
    if (!camera)
        return 1;

    // Baseline: the same READREG datagram sent and answered over a plain socket, no library.
    auto sock = kavro::platform::createUdpSocket(htonl(INADDR_LOOPBACK), 0);
    uint16_t reqId = 1;
    std::vector<uint8_t> ack(64);
    const Figures baseline = measure([&] {
        const auto cmd = kavro::gvcp::buildReadReg(reqId++, kavro::gvcp::reg::kCcp, 1);
        if (reqId == 0)
            reqId = 1;
        if (!kavro::platform::sendTo(sock, cmd, camera->addressNet(), kavro::gvcp::kPort))
            return false;
        return kavro::platform::receiveFrom(sock, ack).has_value();
    });

    GevConnectInfo info{};
    info.deviceAddress = camera->addressNet();
    info.hostAddress = htonl(INADDR_LOOPBACK);
    info.subnetMask = htonl(0xFF000000);
    if (kavro::frame::openWithoutHandshake(1, info, nullptr, 1) != 0)
        return 1;
    const Figures library = measure([] {
        uint32_t value = 0;
        return GEVReadRegister(1, kavro::gvcp::reg::kCcp, 1, &value) == GEV_STATUS_SUCCESS;
    });

    std::printf("register read round trip on loopback, %d reads each\n", kReads);
    std::printf("  bare UDP exchange   median %7.1f us  %9.0f reads/s\n", baseline.medianUs,
                baseline.perSecond);
    std::printf("  GEVReadRegister     median %7.1f us  %9.0f reads/s\n", library.medianUs,
                library.perSecond);
    std::printf("  ratio (library / bare): latency %.2f, throughput %.2f\n",
                library.medianUs / baseline.medianUs, library.perSecond / baseline.perSecond);
    return 0;
}
