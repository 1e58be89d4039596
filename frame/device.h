// The per-process record of one device index. GEVInit makes a fresh record for every open; the
// library's own threads hold the record through a shared pointer, so a record is never freed
// while a heartbeat, message or receiver thread still uses it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KavroGigEVisionLib.h"
#include "frame/chunk_data.h"
#include "frame/image_memory.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "platform/thread.h"

namespace kavro::gvsp {
class Acquisition;
}
namespace kavro::filterdriver {
class FilterDevice;
}

namespace kavro::frame {

inline constexpr uint8_t kMaxDeviceIndex = 20;

// Image geometry and block size of an acquisition.
struct StreamGeometry {
    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
    uint32_t imagePixelFormat = 0;
    uint32_t bytesPerPixel = 0;
    uint32_t payloadSize = 0;
    uint32_t frameCountLimit = 0;  // 0 = continuous
    // Learnt from the device description's features: the receiver then holds image headers to
    // the width, height and pixel format above rather than to the payload size alone.
    bool fromDescription = false;
};

// Counters of the stream receiver and the frame-rate window (ticks of the monotonic counter).
// Written by the receiver, read by the statistics calls without a lock.
struct StreamCounters {
    std::atomic<uint32_t> framesTotal{0};
    std::atomic<uint32_t> framesLost{0};
    std::atomic<uint32_t> packetsLost{0};
    std::atomic<int64_t> fpsFrequency{0};
    std::atomic<uint64_t> fpsWindowStart{0};
    std::atomic<uint64_t> fpsWindowTicks{0};
    std::atomic<uint32_t> fpsWindowFrames{0};
    std::atomic<double> fps{0.0};

    void clear() {
        framesTotal = 0;
        framesLost = 0;
        packetsLost = 0;
        fpsWindowTicks = 0;
        fpsWindowFrames = 0;
        fps = 0.0;
    }
};

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
    // 1 after a successful description build; 0 while a build runs, after a failed one, and
    // before any.
    std::atomic<uint32_t> descriptionReady{0};

    // Control channel. The socket and its port are replaced only while holding controlLock and
    // then controlSocketSwap; senders that must not wait for a transaction (packet resend) hold
    // only controlSocketSwap, so they always send on the live socket.
    std::mutex controlLock;
    std::mutex controlSocketSwap;
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
    // The packet size field of SCPS0 the last acquisition started with: a camera that comes
    // back from a power cycle gets it again with its stream destination.
    std::atomic<uint32_t> streamPacketSize{0};
    double tickPeriodNs = 0.0;
    std::atomic<uint32_t> eventsSupported{0};

    // Stream side.
    std::mutex streamLock;
    platform::UniqueSocket streamSocket;  // replaced only while holding controlLock too
    uint32_t multicastGroup = 0;          // host byte order; 0 = unicast stream
    ImageMemory imageMemory;
    // 1 while no acquisition runs; the receiver sets it itself when its frame count is reached.
    std::atomic<uint32_t> acquisitionStopped{1};
    uint16_t bufferCount = 4;
    std::atomic<uint32_t> streamTimeout{200};
    std::atomic<uint32_t> imageTimeout{1000};
    std::atomic<uint8_t> maxResend{10};

    // Resend and ordering settings; the receiver reads them afresh at every datagram.
    std::atomic<uint32_t> resendEnabled{0};
    std::atomic<uint8_t> outOfOrderWindow{0};
    std::atomic<uint16_t> testResendFirst{0};  // 0 = resend test off
    std::atomic<uint16_t> testResendCount{1};
    std::atomic<uint32_t> secureTransfer{0};
    std::atomic<GevSecureTransferCallback> secureCallback{nullptr};

    // What acquisition start learnt; written under streamLock before the receiver starts.
    StreamGeometry geometry;
    // Frame, loss and rate figures of the running (or last) acquisition.
    StreamCounters counters;
    // Application ring buffers in registration order; never freed by the library.
    std::vector<void*> userBuffers;
    // Header of the last image a copying call delivered.
    GevImageHeader lastImageHeader{};
    // Chunk data of the last image any retrieval call delivered (chunk features read it).
    LastChunkData lastChunkData;
    // Ring and receiver of the running acquisition. Held by shared pointer (the receiver thread
    // holds it too); replaced only under streamLock, read under acquisitionGuard.
    std::mutex acquisitionGuard;
    std::shared_ptr<gvsp::Acquisition> acquisition;

    std::atomic<uint32_t> heartbeatPeriodMs{0};

    // Filter driver: 1 while the stream calls go to the driver instead of the socket receiver.
    // The handle may stay open with the flag at 0 (secure transfer took the device off it); it
    // is read and replaced under filterDriverGuard.
    std::atomic<uint32_t> filterDriverOpen{0};
    std::mutex filterDriverGuard;
    std::shared_ptr<filterdriver::FilterDevice> filterDriverHandle;
    // The running acquisition's stream was started in the driver: its stop goes there too,
    // even when secure transfer took the device off the driver in between. Under streamLock.
    bool driverStreaming = false;

    // 1 when LumexInitClinkSerial found the word-wise serial bridge features (ReceiveCLSerial);
    // 0 (every fresh open) selects the buffered ones.
    std::atomic<uint32_t> oldClinkFeatures{0};

    // Next request id: the low 16 bits of requestId, which then advances; 65535 wraps to 1 so
    // that 0 is never used. Safe from any thread.
    uint16_t takeRequestId();
    // Splits a transaction time-out into the wait fields.
    void setTransactionTimeout(uint32_t timeoutMs);
};

}  // namespace kavro::frame
