#include "sim/control_privilege.h"

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"

namespace kavro::sim {

using namespace kavro::gvcp;

namespace {
constexpr uint32_t kModeBits = reg::kCcpExclusiveAccess | reg::kCcpControlAccess;
}

std::optional<Peer> ControlPrivilege::holder(uint32_t ccp) const {
    // The register may have been cleared behind our back (tests do): then nobody holds it.
    if ((ccp & kModeBits) == 0)
        return std::nullopt;
    return primary_;
}

uint16_t ControlPrivilege::admitCommand(const Peer& sender, uint32_t ccp) const {
    const auto host = holder(ccp);
    if (host && !(*host == sender) && (ccp & reg::kCcpExclusiveAccess) != 0)
        return kStatusAccessDenied;
    return kStatusSuccess;
}

uint16_t ControlPrivilege::admitWrite(const Peer& sender, uint32_t address, uint32_t ccp) const {
    if (const auto host = holder(ccp))
        return *host == sender ? kStatusSuccess : kStatusAccessDenied;
    return address == reg::kCcp ? kStatusSuccess : kStatusAccessDenied;
}

void ControlPrivilege::take(const Peer& host, Clock::time_point now, bool simulated) {
    primary_ = host;
    lastHeard_ = now;
    simulated_ = simulated;
}

void ControlPrivilege::release() {
    primary_.reset();
    simulated_ = false;
}

void ControlPrivilege::heard(const Peer& sender, Clock::time_point now) {
    if (primary_ && *primary_ == sender)
        lastHeard_ = now;
}

bool ControlPrivilege::expired(uint32_t ccp, Clock::time_point now,
                               std::chrono::milliseconds timeout) const {
    return holder(ccp) && !simulated_ && now - lastHeard_ > timeout;
}

}  // namespace kavro::sim
