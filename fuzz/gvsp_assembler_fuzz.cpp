// A sequence of stream datagrams fed to the block assembler the way its receiver thread feeds
// it. After the configuration bytes (fuzz/stream_setup.h) the input is a list of datagrams,
// each a 16-bit length and its bytes; a length of 0 stands for a stream time-out.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/stream_setup.h"
#include "gvsp/block_assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kavro;
    fuzz::InputReader input(data, size);
    fuzz::StreamSetup stream(input);
    if (!stream.ring) {
        return 0;
    }
    gvsp::BlockAssembler assembler(stream.dev, *stream.ring, stream.index,
                                   [](uint64_t, uint32_t, uint32_t, bool) { return true; });
    while (!input.empty() && !assembler.exitRequested()) {
        const std::vector<uint8_t> datagram = input.datagram();
        if (datagram.empty()) {
            assembler.onTimeout();
        } else {
            assembler.onDatagram(datagram);
        }
        stream.drain();
    }
    assembler.finish();
    stream.drain();
    return 0;
}
