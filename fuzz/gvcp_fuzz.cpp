// One GVCP datagram read by every parser of the control, message and discovery channels: the
// acknowledges the host reads and the commands the simulated camera reads. The first byte picks
// the side; the rest is the datagram.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "gvcp/wire.h"
#include "gvcp/wire_discovery.h"
#include "gvcp/wire_events.h"
#include "gvsp/resend_command.h"

namespace {

using namespace kavro;

// Touches every byte a parser hands back as a view, so a view past the datagram shows.
uint32_t sum(std::span<const uint8_t> bytes) {
    uint32_t s = 0;
    for (uint8_t b : bytes)
        s += b;
    return s;
}

void readAsHost(const std::vector<uint8_t>& d) {
    if (const auto header = gvcp::parseAckHeader(d)) {
        (void)sum(gvcp::ackPayload(d, *header));
    }
    if (const auto ack = gvcp::parseDiscoveryAck(d)) {
        (void)ack->currentIp;
    }
    for (const auto& event : gvcp::parseEvents(d))
        (void)sum(event.data);
}

void readAsCamera(const std::vector<uint8_t>& d) {
    const auto header = gvcp::parseCommandHeader(d);
    if (!header) {
        return;
    }
    const auto payload = gvcp::commandPayload(d, *header);
    (void)sum(payload);
    (void)gvcp::parseReadRegPayload(payload);
    (void)gvcp::parseWriteRegPayload(payload);
    (void)gvcp::parseReadMemPayload(payload);
    if (const auto write = gvcp::parseWriteMemPayload(payload)) {
        (void)sum(write->data);
    }
    (void)gvcp::parseForceIp(d);
    (void)gvcp::parseAction(d);
    (void)gvsp::parseResendPayload(header->flags, header->reqId, payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InputReader input(data, size);
    const uint8_t side = input.byte();
    const std::vector<uint8_t> datagram = input.rest();
    if ((side & 1) == 0) {
        readAsHost(datagram);
    } else {
        readAsCamera(datagram);
    }
    return 0;
}
