// A simulated GigE Vision camera on UDP: a GVCP server on <address>:3956 in front of a camera
// model, with faults that can be scripted from tests. Runs in-process (tests, the demo) or inside
// the gevcamsim executable.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "gvcp/wire_events.h"
#include "sim/camera_config.h"
#include "sim/camera_model.h"
#include "sim/event_acks.h"
#include "sim/faults.h"

namespace kavro::sim {

// One datagram as the camera received it, for tests that check what was sent. The header
// fields are zero when the datagram is not a GVCP command (too short, wrong key).
struct ReceivedCommand {
    uint32_t senderAddressNet = 0;
    uint16_t senderPort = 0;
    uint8_t flags = 0;
    uint16_t command = 0;
    uint16_t length = 0;
    uint16_t reqId = 0;
    std::vector<uint8_t> bytes;  // the whole datagram
};

class CameraServer {
  public:
    // The most recent datagrams kept for receivedCommands(); older ones are forgotten (but
    // still counted by waitForCommands).
    static constexpr size_t kMaxRecorded = 4096;

    // Binds <addressNet>:3956 (network byte order) and starts serving. nullptr when the address
    // can't be bound or the server thread can't be started.
    static std::unique_ptr<CameraServer> start(const CameraConfig& config, uint32_t addressNet);
    // Starts on a loopback address of its own (127.x.y.z, x never 0) derived from the process
    // id, trying further addresses while one is taken, so that cameras of parallel test
    // processes never collide. nullptr when no address could be bound.
    static std::unique_ptr<CameraServer> startOnLoopback(const CameraConfig& config = {});
    ~CameraServer();  // stops and joins the server thread
    CameraServer(const CameraServer&) = delete;
    CameraServer& operator=(const CameraServer&) = delete;

    uint32_t addressNet() const;  // network byte order; the port is always 3956
    CameraModel& model();
    FaultPlan& faults();

    std::vector<ReceivedCommand> receivedCommands() const;
    void clearReceivedCommands();
    // Waits until at least `count` datagrams were received since the last clear; false on
    // time-out.
    bool waitForCommands(size_t count, std::chrono::milliseconds timeout) const;

    // Sends an EVENT or EVENTDATA from <address>:3956 to the message channel destination
    // (MCDA:MCP) under the camera's own req_id (the one in `event` is not used). When it asks
    // for an acknowledge, waits MCTT milliseconds (100 when 0) and sends it again up to MCRC
    // times. False when no destination is set, a send fails or no acknowledge came.
    bool sendEvent(const gvcp::EventToSend& event);
    // Acknowledges of events, oldest first. They are not listed by receivedCommands().
    std::vector<ReceivedEventAck> receivedEventAcks() const;
    void clearReceivedEventAcks();

    class Impl;

  private:
    explicit CameraServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace kavro::sim
