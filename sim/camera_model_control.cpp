// The camera model's control privilege, heartbeat supervision and ACTION handling.
#include <arpa/inet.h>

#include <algorithm>

#include "gvcp/bootstrap.h"
#include "gvcp/wire_events.h"
#include "sim/bootstrap_map.h"
#include "sim/camera_model.h"

namespace kavro::sim {

using namespace kavro::gvcp;

namespace {
constexpr uint32_t kModeBits = reg::kCcpExclusiveAccess | reg::kCcpControlAccess;

}  // namespace

uint16_t CameraModel::admitCommand(uint16_t command, const Peer& sender) const {
    // Discovery answers anyone; FORCEIP and ACTION first learn whether they are meant for this
    // camera, and check the privilege in their handlers.
    if (!config_.enforceControlPrivilege || command == kDiscoveryCmd || command == kForceIpCmd ||
        command == kActionCmd) {
        return kStatusSuccess;
    }
    return privilege_.admitCommand(sender, memory_.value(reg::kCcp));
}

uint16_t CameraModel::admitWrite(uint32_t address, const Peer& sender) const {
    if (address == reg::kCcp && refuseControl_)
        return kStatusAccessDenied;
    if (!config_.enforceControlPrivilege)
        return kStatusSuccess;
    return privilege_.admitWrite(sender, address, memory_.value(reg::kCcp));
}

void CameraModel::afterCcpWrite(const Peer& sender) {
    if ((memory_.value(reg::kCcp) & kModeBits) != 0) {
        takeControl(sender, false);
    } else {
        // A host giving up control keeps its destinations: it cleans up after itself.
        privilege_.release();
        memory_.setValue(reg::kPrimaryApplicationPort, 0);
        memory_.setValue(reg::kPrimaryApplicationAddress, 0);
    }
}

void CameraModel::takeControl(const Peer& host, bool simulated) {
    privilege_.take(host, Clock::now(), simulated);
    memory_.setValue(reg::kPrimaryApplicationPort, host.port);
    memory_.setValue(reg::kPrimaryApplicationAddress, ntohl(host.addressNet));
}

void CameraModel::dropControl() {
    memory_.setValue(reg::kCcp, 0);
    privilege_.release();
    memory_.setValue(reg::kPrimaryApplicationPort, 0);
    memory_.setValue(reg::kPrimaryApplicationAddress, 0);
    const uint32_t streams = std::min(config_.streamChannels, kMaxStreamChannels);
    for (uint32_t i = 0; i < streams; ++i) {
        memory_.setValue(reg::kScp0 + i * kStreamChannelStride, 0);
        memory_.setValue(reg::kScda0 + i * kStreamChannelStride, 0);
    }
    if (config_.messageChannels != 0) {
        memory_.setValue(reg::kMcp, 0);
        memory_.setValue(reg::kMcda, 0);
    }
}

std::optional<Peer> CameraModel::controlHolder() const {
    std::lock_guard lock(mutex_);
    return privilege_.holder(memory_.value(reg::kCcp));
}

bool CameraModel::superviseHeartbeat(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if ((memory_.value(reg::kGvcpConfiguration) & reg::kGvcpConfigHeartbeatDisable) != 0)
        return false;
    const std::chrono::milliseconds timeout(memory_.value(reg::kHeartbeatTimeout));
    if (!privilege_.expired(memory_.value(reg::kCcp), now, timeout))
        return false;
    dropControl();
    return true;
}

void CameraModel::takeControlAsOtherHost(uint8_t mode) {
    std::lock_guard lock(mutex_);
    dropControl();
    if ((mode & kModeBits) == 0)
        return;
    memory_.setValue(reg::kCcp, mode & kModeBits);
    takeControl(Peer{htonl(kOtherHostAddress), kOtherHostPort}, true);
}

void CameraModel::releaseOtherHost() {
    std::lock_guard lock(mutex_);
    if (privilege_.heldBySimulatedHost(memory_.value(reg::kCcp)))
        dropControl();
}

void CameraModel::refuseControl(bool refuse) {
    std::lock_guard lock(mutex_);
    refuseControl_ = refuse;
}

std::optional<Answer> CameraModel::action(const CommandHeader& header,
                                          std::span<const uint8_t> payload, const Peer& sender) {
    const auto request = parseAction(commandDatagram(header, payload));
    if (!request)
        return std::nullopt;
    std::lock_guard lock(mutex_);
    // An action that is not for this camera gets no answer at all.
    const uint32_t fired =
        firedSignals(memory_, memory_.value(reg::kNumberOfActionSignals), *request);
    if (fired == 0)
        return std::nullopt;
    if (config_.enforceControlPrivilege) {
        if (const uint16_t s = privilege_.admitCommand(sender, memory_.value(reg::kCcp)); s != 0)
            return Answer{s, kActionAck, {}};
    }
    // A camera that can't schedule refuses a timed action rather than firing it now.
    if (request->actionTimeNs &&
        (memory_.value(reg::kGvcpCapability) & reg::kCapScheduledAction) == 0) {
        return Answer{kStatusNotImplemented, kActionAck, {}};
    }
    if (triggered_.size() == kMaxRecordedActions)
        triggered_.pop_front();
    triggered_.push_back(TriggeredAction{Clock::now(), sender, request->deviceKey,
                                         request->groupKey, request->groupMask,
                                         request->actionTimeNs, fired});
    return Answer{kStatusSuccess, kActionAck, {}};
}

std::vector<TriggeredAction> CameraModel::triggeredActions() const {
    std::lock_guard lock(mutex_);
    return {triggered_.begin(), triggered_.end()};
}

void CameraModel::clearTriggeredActions() {
    std::lock_guard lock(mutex_);
    triggered_.clear();
}

}  // namespace kavro::sim
