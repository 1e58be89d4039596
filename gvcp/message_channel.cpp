#include "gvcp/message_channel.h"

#include <sys/socket.h>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>

#include "KavroGigEVisionLib.h"
#include "frame/device_table.h"
#include "gvcp/wire_events.h"
#include "platform/trace.h"

namespace kavro::gvcp {

struct MessageChannel::State {
    platform::UniqueSocket socket;
    std::atomic<bool> stop{false};
};

namespace {

constexpr auto kReceiveWait = std::chrono::milliseconds(500);

// The open device of this process whose camera has `addressNet`; the lowest index wins.
std::shared_ptr<frame::GevDevice> deviceAt(uint32_t addressNet) {
    auto& table = frame::DeviceTable::instance();
    for (uint8_t i = 1; i <= frame::kMaxDeviceIndex; ++i) {
        auto record = table.record(i);
        if (record && record->openHere && record->deviceAddress == addressNet)
            return record;
    }
    return nullptr;
}

void appendEventName(char* line, size_t size, uint16_t eventId, uint16_t reqId) {
    const size_t used = std::strlen(line);
    char* out = line + used;
    const size_t left = size - used;
    const char* name = nullptr;
    switch (eventId) {
        case 0x0002:
            name = "trigger event";
            break;
        case 0x0003:
            name = "start of exposure";
            break;
        case 0x0004:
            name = "end of exposure";
            break;
        case 0x0005:
            name = "stream channel start of transfer";
            break;
        case 0x0006:
            name = "stream channel end of transfer";
            break;
        default:
            break;
    }
    if (name == nullptr && eventId >= 0x8001 && eventId <= 0x8FFF)
        name = "error event";
    if (name != nullptr) {
        std::snprintf(out, left, "%s", name);
    } else if (eventId >= 0x9000) {
        std::snprintf(out, left, "device-specific event: 0x%04X, req_Id: %d", eventId, reqId);
    } else {
        std::snprintf(out, left, "unknown event");
    }
}

void handleDatagram(const platform::UniqueSocket& socket, std::span<const uint8_t> datagram,
                    const platform::Sender& sender) {
    auto device = deviceAt(sender.addressNet);
    if (!device || device->eventsSupported == 0)
        return;
    // Anything that is not a well-formed event is dropped: one bad datagram must not silence
    // the events of every camera.
    const auto events = parseEvents(datagram);
    if (events.empty())
        return;
    const CommandHeader& header = events.front().header;

    // One acknowledge answers the whole datagram, however many events it carries.
    bool acknowledged = false;
    if ((header.flags & kFlagAckRequired) != 0) {
        const auto ack = buildEventAck(header.command, header.reqId);
        acknowledged = platform::sendTo(socket, ack, sender.addressNet, sender.port);
    }

    for (const EventPacket& event : events) {
        char line[160];
        std::snprintf(line, sizeof line, "[INFO] - Message Channel Device %d -> %s",
                      device->deviceIndex, acknowledged ? "(ack) " : "");
        appendEventName(line, sizeof line, event.eventId, header.reqId);
        platform::debugTrace("%s", line);

        GevEventInfo info{};
        info.eventId = event.eventId;
        info.streamChannel = event.streamChannelRaw;
        info.blockId = event.blockId;
        info.timestamp = event.timestamp;
        if (header.command == kEventDataCmd) {
            info.data = event.data.data();
            info.dataLength = static_cast<uint16_t>(event.data.size());
        }
        if (GevMessageCallback cb = device->messageCallback.load())
            cb(device->deviceIndex, &info);
    }
}

void runMessageChannel(const std::shared_ptr<MessageChannel::State>& state) {
    std::array<uint8_t, kMaxEventDatagram> buffer{};
    while (!state->stop) {
        if (platform::waitReadable(state->socket, kReceiveWait) != platform::WaitResult::Ready) {
            continue;
        }
        platform::Sender sender;
        const auto n = platform::receiveFrom(state->socket, buffer, &sender);
        if (!n)
            continue;
        handleDatagram(state->socket, std::span<const uint8_t>(buffer.data(), *n), sender);
    }
}

}  // namespace

MessageChannel& MessageChannel::instance() {
    static MessageChannel channel;
    return channel;
}

bool MessageChannel::ensureRunning() {
    std::lock_guard lock(mutex_);
    if (state_)
        return true;
    auto state = std::make_shared<State>();
    state->socket = platform::createUdpSocket(0, 0);
    if (!state->socket.isValid())
        return false;
    if (!thread_.start([state] { runMessageChannel(state); }, platform::ThreadPriority::Normal)) {
        return false;
    }
    port_ = platform::localPort(state->socket).value_or(0);
    state_ = std::move(state);
    return true;
}

uint16_t MessageChannel::port() {
    std::lock_guard lock(mutex_);
    return port_;
}

bool MessageChannel::running() {
    std::lock_guard lock(mutex_);
    return state_ != nullptr;
}

void MessageChannel::openFirewallTowards(uint32_t deviceAddressNet) {
    std::lock_guard lock(mutex_);
    if (state_)
        (void)platform::sendTraversalDatagram(state_->socket, deviceAddressNet, kPort);
}

void MessageChannel::stop() {
    std::lock_guard lock(mutex_);
    if (!state_)
        return;
    state_->stop = true;
    // Wakes the thread from its receive wait at once instead of at the next half second.
    ::shutdown(state_->socket.get(), SHUT_RD);
    // A thread still in a slow callback ends on its own and closes the socket it holds.
    thread_.join(std::chrono::milliseconds(1000));
    state_.reset();
    port_ = 0;
}

}  // namespace kavro::gvcp
