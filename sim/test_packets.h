// Test packets of the simulated camera: a write of SCPS0 with bit 31 set sends one GVSP
// datagram of the packet size in that write (counted from the IP header) to the stream channel's
// destination. Its data follows the test data sequence when the camera's GVCP capability says so,
// else it is zeros. A packet marked "do not fragment" (bit 30) that is larger than the simulated
// path's MTU is not delivered. Bit 31 is never stored. Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/socket.h"
#include "sim/camera_config.h"
#include "sim/device_memory.h"

namespace kavro::sim {

class TestPackets {
  public:
    explicit TestPackets(const CameraConfig& config);

    // The largest IP packet the path passes with "do not fragment"; 0: no limit.
    void setPathMtu(uint32_t mtu);
    // Off: no test packet is sent at all (a camera, or a path, that loses them).
    void setAnswering(bool answering);
    // Data byte `position` (1-based) of every test packet is sent inverted; 0: none.
    void corruptDataAt(uint32_t position);
    // Test packets sent so far.
    uint64_t sent() const;

    // The write hook of SCPS0; runs under the camera model's lock.
    uint16_t onScpsWrite(DeviceMemory& memory, RegisterWriteRequest& request);

  private:
    void send(const DeviceMemory& memory, uint32_t size, bool doNotFragment);

    const uint32_t maxPacketSize_;
    const bool testData_;
    mutable std::mutex mutex_;
    uint32_t pathMtu_;               // guarded by mutex_
    bool answering_ = true;          // guarded by mutex_
    uint32_t corruptAt_ = 0;         // guarded by mutex_
    uint64_t sent_ = 0;              // guarded by mutex_
    platform::UniqueSocket socket_;  // guarded by mutex_
};

}  // namespace kavro::sim
