// The packet-ring engine of the process: the state of device indexes 1..20 that every open
// handle of the driver shares (settings, the running stream, statistics, the header of the
// image read last). Thread-safe; a read waits without holding any lock a request needs.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "KavroGigEVisionLib.h"
#include "filterengine/requests.h"
#include "filterengine/ring_stream.h"
#include "frame/device.h"

namespace kavro::filterengine {

class Engine final {
  public:
    static Engine& instance();
    ~Engine();

    // Each returns 0 or an error number of the filter device interface. An index of which the
    // engine knows nothing (no setting and no start) gives "invalid handle".

    // Starts the stream of `start.device` on the adapter `interfaceIndex` for `owner` (the
    // handle that asked), stopping a stream of that index still running first.
    uint32_t startStream(const StartStream& start, int interfaceIndex, const void* owner);
    // Ends reception and releases the rings; the statistics stay.
    uint32_t stopStream(uint8_t device);
    // Stops the streams `owner` started (its handle closes).
    void stopStreamsOf(const void* owner);

    uint32_t setPacketResend(uint8_t device, bool on);
    uint32_t setOutOfOrderWindow(uint8_t device, uint8_t window);
    uint32_t setBufferCount(uint8_t device, uint16_t count);
    uint32_t setTestResend(uint8_t device, uint16_t first, uint16_t count);

    uint32_t statistics(uint8_t device, Statistics& out);
    uint32_t lastImageHeader(uint8_t device, GevImageHeader& out);
    // Waits for the device's next finished image and copies it to `dest`; "semaphore time-out"
    // when none came within the start's image time-out or no stream runs.
    uint32_t readImage(uint8_t device, std::span<uint8_t> dest);

  private:
    Engine() = default;

    struct Slot {
        std::mutex lock;
        // The device's record on the engine side; null while the engine knows nothing of it.
        std::shared_ptr<frame::GevDevice> settings;
        uint16_t bufferCount = 4;
        std::shared_ptr<RingStream> stream;
        const void* owner = nullptr;
        GevImageHeader lastHeader{};
        // Intervals between the hand-overs of the images read, in nanoseconds.
        int64_t lastHandOverNs = 0;
        uint32_t intervalCount = 0;
        uint64_t intervalSumNs = 0;
    };
    // The slot of an index 1..20, else null.
    Slot* slot(uint8_t device);
    // Makes the slot's settings when it has none; with its lock held.
    static void ensureSettings(Slot& slot);
    // Stops the slot's stream; with its lock held.
    static void stopLocked(Slot& slot);
    // Runs `use` on the slot of `device` under its lock; "invalid parameter" for an index out
    // of range.
    template <class Use>
    uint32_t withSlot(uint8_t device, Use use);
    // Runs `change` on the slot of `device` under its lock, its settings made first; 0, or
    // "invalid parameter" for an index out of range.
    template <class Change>
    uint32_t withSettings(uint8_t device, Change change);
    // Runs `use` on the slot of `device` under its lock when the engine knows the device;
    // "invalid parameter" for an index out of range, "invalid handle" for a device never set.
    template <class Use>
    uint32_t withKnownSlot(uint8_t device, Use use);

    std::array<Slot, frame::kMaxDeviceIndex> slots_;
};

}  // namespace kavro::filterengine
