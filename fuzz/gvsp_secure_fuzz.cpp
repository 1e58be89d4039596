// A sequence of stream datagrams fed to the secure-transfer assembler with a wait turn before
// each, as its thread does. Input layout as in gvsp_assembler_fuzz.cpp: configuration bytes,
// then datagrams with a 16-bit length each; a length of 0 stands for a time-out.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/stream_setup.h"
#include "gvsp/secure_receiver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kavro;
    fuzz::InputReader input(data, size);
    fuzz::StreamSetup stream(input);
    if (!stream.ring) {
        return 0;
    }
    gvsp::SecureAssembler assembler(stream.dev, *stream.ring, stream.index,
                                    [](uint64_t, uint32_t, uint32_t, bool) { return true; });
    assembler.start();
    while (!input.empty() && !assembler.exitRequested()) {
        assembler.beforeWait();
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
