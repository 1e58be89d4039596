// The transport-independent camera: bootstrap registers and device memory, and the answer to
// each GVCP command. Thread-safe: the UDP front end and tests may use it at the same time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "gvcp/wire.h"
#include "gvcp/wire_discovery.h"
#include "sim/actions.h"
#include "sim/camera_config.h"
#include "sim/control_privilege.h"
#include "sim/device_memory.h"
#include "sim/test_packets.h"

namespace kavro::sim {

// What a command handler answers: the acknowledge's status, code and payload. The model adds
// the header (ack_id = the command's req_id) and sends it only when the command asked for one.
struct Answer {
    uint16_t status = 0;
    uint16_t ackCode = 0;
    std::vector<uint8_t> payload;
    bool broadcast = false;  // to 255.255.255.255 at the sender's port, not to the sender
};

// An IPv4 configuration, network byte order.
struct IpSettings {
    uint32_t addressNet = 0;
    uint32_t maskNet = 0;
    uint32_t gatewayNet = 0;
};

// A command datagram put back together from the parts a CommandHandler gets.
std::vector<uint8_t> commandDatagram(const gvcp::CommandHeader& header,
                                     std::span<const uint8_t> payload);

class CameraModel {
  public:
    using Clock = std::chrono::steady_clock;

    // The host that takeControlAsOtherHost pretends to be: an address never contacted.
    static constexpr uint32_t kOtherHostAddress = 0xC6120063;  // 198.18.0.99, host order
    static constexpr uint16_t kOtherHostPort = 49152;
    // Actions kept for triggeredActions(); older ones are forgotten.
    static constexpr size_t kMaxRecordedActions = 1024;

    // Handles one command whose header was checked and whose payload is exactly `length` bytes.
    // nullopt: the command has no acknowledge at all (PACKETRESEND, for instance).
    using CommandHandler = std::function<std::optional<Answer>(
        const gvcp::CommandHeader& header, std::span<const uint8_t> payload, const Peer& sender)>;

    explicit CameraModel(const CameraConfig& config);

    const CameraConfig& config() const { return config_; }

    // Answers one GVCP command datagram from `sender`. Returns the acknowledge to send back, or
    // nothing (no acknowledge requested, or a datagram that is not a command); `replyTo`, when
    // given, receives where the acknowledge goes.
    std::optional<std::vector<uint8_t>> handleCommand(std::span<const uint8_t> datagram,
                                                      const Peer& sender, Peer* replyTo = nullptr);

    // Installs (or, with an empty handler, removes) the handler of a command code; later
    // features (discovery, action, resend) plug in here. Handlers run without the model's lock
    // and use the public calls below. Returns only when no handler call is running any more, so
    // the owner of a removed handler may free what it captured; never call it from a handler.
    // The ticket returned names this installation for removeCommandHandler.
    uint64_t setCommandHandler(uint16_t command, CommandHandler handler);
    // Removes the handler of `command` only while it is still the one installed with `ticket`:
    // an owner that goes away leaves a handler installed after its own in place.
    void removeCommandHandler(uint16_t command, uint64_t ticket);

    // Declares a register (or replaces its rule) and sets its hook; the hook runs under the
    // model's lock and must use only the DeviceMemory it is given.
    void defineRegister(uint32_t address, Access access, uint32_t initial, WriteHook onWrite = {});
    bool setWriteHook(uint32_t address, WriteHook onWrite);

    // Rule-checked access as a command from `sender` gets it; device status results.
    uint16_t readRegister(uint32_t address, uint32_t& value) const;
    uint16_t writeRegister(uint32_t address, uint32_t value, const Peer& sender);

    // Direct access for tests and the front end, bypassing access rules and hooks.
    uint32_t readRegister(uint32_t address) const;
    void writeRegister(uint32_t address, uint32_t value);
    std::vector<uint8_t> readMemory(uint32_t address, uint32_t count) const;
    void writeMemory(uint32_t address, std::span<const uint8_t> bytes);

    // The address the camera serves on, shown in its current IP registers (network byte order).
    void setCurrentAddress(uint32_t addressNet, uint32_t maskNet, uint32_t gatewayNet);
    // The persistent IP settings when the configuration register enables them and an address
    // is stored; nullopt otherwise.
    std::optional<IpSettings> persistentIpSettings() const;
    // The DISCOVERY_ACK this camera sends, from its registers.
    gvcp::DiscoveryAck discoveryAck() const;

    // The primary application: the host whose CCP write holds control; nullopt when nobody
    // controls the camera.
    std::optional<Peer> controlHolder() const;
    // Drops control when its holder has been silent longer than the heartbeat time-out (and
    // the heartbeat is not disabled), clearing the stream and message channel destinations.
    // The server calls it every few milliseconds. True when control was dropped.
    bool superviseHeartbeat(Clock::time_point now);
    // Another host (kOtherHostAddress) takes control with `mode` (1 exclusive, 2 control): the
    // current holder loses it and the destinations are cleared. That host never expires.
    void takeControlAsOtherHost(uint8_t mode);
    // The other host goes away, as if its heartbeat had expired.
    void releaseOtherHost();
    // While on, every CCP write is refused with ACCESS_DENIED.
    void refuseControl(bool refuse);

    // Test packets fired through SCPS0: the simulated path and faults of their delivery.
    TestPackets& testPackets() { return *testPackets_; }

    // Actions that fired, oldest first.
    std::vector<TriggeredAction> triggeredActions() const;
    void clearTriggeredActions();

  private:
    Answer readReg(std::span<const uint8_t> payload);
    Answer writeReg(std::span<const uint8_t> payload, const Peer& sender);
    Answer readMem(std::span<const uint8_t> payload);
    Answer writeMem(std::span<const uint8_t> payload, const Peer& sender);
    Answer discovery(const gvcp::CommandHeader& header);
    std::optional<Answer> action(const gvcp::CommandHeader& header,
                                 std::span<const uint8_t> payload, const Peer& sender);

    // Privilege checks and their effects; callers hold mutex_.
    uint16_t admitCommand(uint16_t command, const Peer& sender) const;
    uint16_t admitWrite(uint32_t address, const Peer& sender) const;
    void afterCcpWrite(const Peer& sender);
    void takeControl(const Peer& host, bool simulated);
    void dropControl();

    CameraConfig config_;
    mutable std::mutex mutex_;
    DeviceMemory memory_;                    // guarded by mutex_
    ControlPrivilege privilege_;             // guarded by mutex_
    bool refuseControl_ = false;             // guarded by mutex_
    std::deque<TriggeredAction> triggered_;  // guarded by mutex_
    std::unique_ptr<TestPackets> testPackets_;
    mutable std::mutex handlersMutex_;
    struct InstalledHandler {
        CommandHandler handler;
        uint64_t ticket = 0;
    };
    std::map<uint16_t, InstalledHandler> handlers_;  // guarded by handlersMutex_
    uint64_t lastTicket_ = 0;                        // guarded by handlersMutex_
    uint32_t handlersRunning_ = 0;                   // guarded by handlersMutex_
    std::condition_variable handlersIdle_;
};

}  // namespace kavro::sim
