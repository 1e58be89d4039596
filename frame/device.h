// The per-process record of one device index. GEVInit makes a fresh record for every open; the
// library's own threads hold the record through a shared pointer, so a record is never freed
// while a heartbeat, message or receiver thread still uses it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "KavroGigEVisionLib.h"
#include "frame/image_memory.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace kavro::frame {

inline constexpr uint8_t kMaxDeviceIndex = 20;

struct GevDevice {
    // True from a successful open in this process until its close; another process may hold
    // the machine-wide flag of the same index.
    std::atomic<bool> openHere{false};

    // Identity and addressing; fixed while the device is open.
    uint8_t deviceIndex = 0;
    uint32_t hostAddress = 0;    // network byte order
    uint32_t deviceAddress = 0;  // network byte order
    uint16_t streamPort = 0;     // host order
    std::string adapterName;
    uint8_t controlMode = 0;  // value kept in the camera's CCP register; 0 = no control
    uint8_t saveDescription = 0;

    // Control channel. The socket and its port are replaced only while holding controlLock.
    std::mutex controlLock;
    platform::UniqueSocket controlSocket;
    std::atomic<uint16_t> controlPort{0};
    std::atomic<uint32_t> requestId{1};
    std::atomic<uint32_t> transactionTimeoutMs{200};
    std::atomic<uint8_t> retryCount{3};
    std::atomic<uint32_t> waitSeconds{0};
    std::atomic<uint32_t> waitMicroseconds{200000};
    std::atomic<uint8_t> connectionStatus{0};  // 0 connected, 1 lost and retried, 2 failed
    std::atomic<GevProgressCallback> progressCallback{nullptr};

    // Logging.
    std::atomic<GevLogCallback> logCallback{nullptr};
    std::atomic<uint8_t> detailedLog{0};

    // Heartbeat (control supervision). The thread holds the record through a shared pointer.
    platform::WorkerThread heartbeatThread;
    platform::ManualResetEvent heartbeatStopEvent;
    std::atomic<uint32_t> heartbeatStop{0};
    uint32_t heartbeatRunning = 0;

    // Message channel: events of this device go to this callback.
    std::atomic<GevMessageCallback> messageCallback{nullptr};

    // Set by the network configuration call; makes the close restart the camera's IP set-up.
    uint32_t netConfigChanged = 0;

    // Capabilities read at open.
    uint16_t gevVersionMajor = 0;
    uint16_t gevVersionMinor = 0;
    uint32_t packetDataSize = 0;
    double tickPeriodNs = 0.0;
    std::atomic<uint32_t> eventsSupported{0};

    // Stream side.
    std::mutex streamLock;
    platform::UniqueSocket streamSocket;  // replaced only while holding controlLock too
    uint32_t multicastGroup = 0;          // host byte order; 0 = unicast stream
    ImageMemory imageMemory;
    uint32_t acquisitionStopped = 1;
    uint16_t bufferCount = 4;
    uint16_t testResendCount = 1;
    uint32_t testResendFirst = 0;
    uint32_t secureTransfer = 0;
    std::atomic<uint32_t> streamTimeout{200};
    std::atomic<uint32_t> imageTimeout{1000};
    std::atomic<uint8_t> maxResend{10};
    std::atomic<uint32_t> heartbeatPeriodMs{0};

    // Next request id: the low 16 bits of requestId, which then advances; 65535 wraps to 1 so
    // that 0 is never used. Safe from any thread.
    uint16_t takeRequestId();
    // Splits a transaction time-out into the wait fields.
    void setTransactionTimeout(uint32_t timeoutMs);
};

}  // namespace kavro::frame
