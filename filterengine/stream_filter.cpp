#include "filterengine/stream_filter.h"

#include <arpa/inet.h>

namespace kavro::filterengine {

namespace {

constexpr uint32_t kIpv4Version = 0x40;
constexpr uint32_t kUdp = 17;
constexpr uint32_t kFragmentBits = 0x3FFF;  // more-fragments flag and fragment offset
constexpr uint32_t kWholePacket = 0x40000;

sock_filter statement(uint16_t code, uint32_t k) {
    return sock_filter{code, 0, 0, k};
}
sock_filter jump(uint16_t code, uint32_t k, uint8_t ifTrue, uint8_t ifFalse) {
    return sock_filter{code, ifTrue, ifFalse, k};
}

}  // namespace

std::vector<sock_filter> streamFilter(uint32_t sourceAddressNet, uint16_t destinationPort) {
    // Jump offsets count the statements skipped; every "no" lands on the final drop.
    std::vector<sock_filter> program = {
        statement(BPF_LD | BPF_B | BPF_ABS, 0),                // version and header length
        statement(BPF_ALU | BPF_AND | BPF_K, 0xF0),            //
        jump(BPF_JMP | BPF_JEQ | BPF_K, kIpv4Version, 0, 10),  // IPv4
        statement(BPF_LD | BPF_B | BPF_ABS, 9),                // protocol
        jump(BPF_JMP | BPF_JEQ | BPF_K, kUdp, 0, 8),           // UDP
        statement(BPF_LD | BPF_W | BPF_ABS, 12),               // source address
        jump(BPF_JMP | BPF_JEQ | BPF_K, ntohl(sourceAddressNet), 0, 6),
        statement(BPF_LD | BPF_H | BPF_ABS, 6),                 // flags and fragment offset
        jump(BPF_JMP | BPF_JSET | BPF_K, kFragmentBits, 4, 0),  // a fragment
        statement(BPF_LDX | BPF_B | BPF_MSH, 0),                // X = header length
        statement(BPF_LD | BPF_H | BPF_IND, 2),                 // UDP destination port
        jump(BPF_JMP | BPF_JEQ | BPF_K, destinationPort, 0, 1),
        statement(BPF_RET | BPF_K, kWholePacket),
        statement(BPF_RET | BPF_K, 0),
    };
    return program;
}

}  // namespace kavro::filterengine
