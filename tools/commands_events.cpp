// events, testpacket and maxpacket: the message channel and the stream network path.
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

#include <atomic>

#include "camera_session.h"
#include "commands.h"

namespace gevtool {
namespace {

constexpr uint32_t kScps0 = 0x0D04;

std::atomic<uint64_t> eventsSeen{0};

void printEvent(uint8_t, const GevEventInfo* event) {
    std::string data;
    for (uint16_t i = 0; i < event->dataLength && i < 32 && event->data != nullptr; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", event->data[i]);
        data += hex;
    }
    if (event->dataLength > 32)
        data += "...";
    std::printf("event 0x%04X  channel 0x%04X  block %llu  timestamp %llu  %u data bytes%s%s\n",
                event->eventId, event->streamChannel,
                static_cast<unsigned long long>(event->blockId),
                static_cast<unsigned long long>(event->timestamp), event->dataLength,
                data.empty() ? "" : ": ", data.c_str());
    std::fflush(stdout);
    ++eventsSeen;
}

int runEvents(const CommandLine& line) {
    if (!line.operands().empty())
        return usageError(eventsCommand(), "takes no operands");
    const auto seconds = parseUnsigned(line.value("seconds").value_or("0"));
    const auto count = parseUnsigned(line.value("count").value_or("0"));
    if (!seconds || !count || *seconds > 86400 * 365)
        return usageError(eventsCommand(), "--seconds and --count take whole numbers");

    // Ctrl-C ends the wait; blocked before the library starts its threads.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::Exclusive, camera, exitCode))
        return exitCode;
    if (!check("routing events", GEVSetMessageChannelCallback(sessionDevice(), &printEvent)))
        return kExitFailure;
    std::fprintf(stderr, "waiting for events%s\n", *seconds != 0 ? "" : " (Ctrl-C ends)");
    const timespec step{0, 100 * 1000 * 1000};
    for (uint64_t tenths = 0; *seconds == 0 || tenths < *seconds * 10; ++tenths) {
        if (*count != 0 && eventsSeen.load() >= *count)
            break;
        if (sigtimedwait(&stop, nullptr, &step) > 0)
            break;
    }
    (void)GEVSetMessageChannelCallback(sessionDevice(), nullptr);
    std::printf("%llu event(s)\n", static_cast<unsigned long long>(eventsSeen.load()));
    return *count != 0 && eventsSeen.load() < *count ? kExitFailure : kExitOk;
}

int runTestPacket(const CommandLine& line) {
    if (!line.operands().empty())
        return usageError(testPacketCommand(), "takes no operands");
    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::Exclusive, camera, exitCode))
        return exitCode;
    uint32_t size = 0;
    if (!check("test packet", GEVTestPacket(sessionDevice(), &size)))
        return kExitFailure;
    if (size == 0) {
        std::printf("no test packet came back within the time-out\n");
        return kExitFailure;
    }
    std::printf("test packet of %u bytes came back\n", size);
    return kExitOk;
}

int runMaxPacket(const CommandLine& line) {
    if (!line.operands().empty())
        return usageError(maxPacketCommand(), "takes no operands");
    const auto lower = parseUnsigned(line.value("lower").value_or("0"));
    const auto upper = parseUnsigned(line.value("upper").value_or("9000"));
    const auto step = parseUnsigned(line.value("step").value_or("4"));
    if (!lower || !upper || !step || *lower > 65535 || *upper > 65535 || *step > 65535)
        return usageError(maxPacketCommand(), "--lower, --upper and --step take 0 to 65535");
    CameraSession camera;
    int exitCode = kExitOk;
    if (!CameraSession::open(line, CameraSession::Control::Exclusive, camera, exitCode))
        return exitCode;
    uint32_t scps = 0;
    if (!check("reading the packet size", GEVReadRegister(sessionDevice(), kScps0, 1, &scps)))
        return kExitFailure;
    uint16_t largest = 0;
    const GevStatus searched =
        GEVTestFindMaxPacketSize(sessionDevice(), &largest, static_cast<uint16_t>(*lower),
                                 static_cast<uint16_t>(*upper), static_cast<uint16_t>(*step));
    // The search leaves the last size it tried; keep the found one only when asked.
    uint32_t after = scps;
    if (line.has("apply") && searched == GEV_STATUS_SUCCESS && largest != 0)
        after = (scps & 0xFFFF0000u) | largest;
    (void)GEVWriteRegister(sessionDevice(), kScps0, 1, &after);
    if (!check("packet size search", searched))
        return kExitFailure;
    if (largest == 0) {
        std::printf("no packet size passed\n");
        return kExitFailure;
    }
    std::printf("largest packet size the path allows: %u bytes%s\n", largest,
                line.has("apply") ? " (now the camera's packet size)" : "");
    return kExitOk;
}

}  // namespace

Command eventsCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool events CAMERA [--seconds S] [--count N]\n"
            "Routes the camera's message channel to the tool and prints each event as\n"
            "it arrives: id, stream channel, block id, timestamp and data. Runs until\n"
            "Ctrl-C, S seconds or N events; fails when --count events did not come.\n"
            "  --seconds S             stop after S seconds\n"
            "  --count N               stop after N events\n") +
        kCameraOptionsHelp;
    return {"events", "print the camera's events as they arrive", help.c_str(),
            cameraOptions({{0, "seconds", true}, {0, "count", true}}), &runEvents};
}

Command testPacketCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool testpacket CAMERA\n"
            "Has the camera fire one test packet of its current packet size (with\n"
            "\"do not fragment\") and prints the size of the IP packet that came back.\n"
            "Fails when none came.\n") +
        kCameraOptionsHelp;
    return {"testpacket", "fire one stream test packet", help.c_str(), cameraOptions(),
            &runTestPacket};
}

Command maxPacketCommand() {
    static const std::string help =
        std::string(
            "usage: gevtool maxpacket CAMERA [--lower L] [--upper U] [--step S] [--apply]\n"
            "Searches with test packets the largest packet size the network path to\n"
            "this host passes (up to the adapter's MTU). The camera's packet size is\n"
            "restored afterwards unless --apply is given.\n"
            "  --lower L, --upper U    sizes searched (default 0 to 9000)\n"
            "  --step S                sizes tried are multiples of S (default 4)\n"
            "  --apply                 make the largest size the camera's packet size\n") +
        kCameraOptionsHelp;
    return {"maxpacket", "find the largest packet size the network path passes", help.c_str(),
            cameraOptions(
                {{0, "lower", true}, {0, "upper", true}, {0, "step", true}, {0, "apply", false}}),
            &runMaxPacket};
}

}  // namespace gevtool
