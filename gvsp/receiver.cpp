#include "gvsp/receiver.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <thread>
#include <vector>

#include "gvcp/wire.h"
#include "gvsp/block_assembler.h"
#include "gvsp/resend_command.h"

namespace kavro::gvsp {

GevStatus sendPacketResend(frame::GevDevice& device, bool extended, uint16_t channel,
                           uint64_t blockId, uint32_t first, uint32_t last) {
    std::array<uint8_t, kResendMaxSize> buffer{};
    const ResendRequest request{device.takeRequestId(), channel, blockId, first, last, extended};
    const size_t size = buildResend(request, buffer);
    std::lock_guard swap(device.controlSocketSwap);
    return platform::sendTo(device.controlSocket, std::span<const uint8_t>(buffer.data(), size),
                            device.deviceAddress, gvcp::kPort)
               ? GEV_STATUS_SUCCESS
               : GEV_STATUS_SEND_ERROR;
}

namespace {

// Datagrams taken from the socket by one read.
constexpr size_t kReadBatch = 32;

void receive(frame::GevDevice& device, Acquisition& acquisition) {
    const uint32_t timeoutMs = device.streamTimeout.load();
    timeval tv{static_cast<time_t>(timeoutMs / 1000),
               static_cast<suseconds_t>((timeoutMs % 1000) * 1000)};
    if (timeoutMs == 0)
        tv.tv_usec = 1000;
    (void)::setsockopt(acquisition.socket.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);

    // Datagrams are read in batches (one system call for as many as are waiting, blocking only
    // for the first) and handed to the assembler one by one in arrival order. Each slot has
    // room for the largest header and some slack, so that an over-long packet is seen as such.
    const size_t slot = size_t{acquisition.index.packetDataSize()} + 100;
    std::vector<uint8_t> buffer(slot * kReadBatch);
    std::array<iovec, kReadBatch> iov{};
    std::array<mmsghdr, kReadBatch> messages{};
    for (size_t i = 0; i < kReadBatch; ++i) {
        iov[i] = {buffer.data() + i * slot, slot};
        messages[i].msg_hdr.msg_iov = &iov[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    BlockAssembler assembler(device, *acquisition.ring, acquisition.index,
                             [&](uint64_t blockId, uint32_t first, uint32_t last, bool extended) {
                                 return sendPacketResend(device, extended, 0, blockId, first,
                                                         last) == GEV_STATUS_SUCCESS;
                             });
    if (device.acquisitionStopped.load() != 0)
        return;

    const int fd = acquisition.socket.get();
    bool leave = false;
    while (!leave && !assembler.exitRequested()) {
        const int n = ::recvmmsg(fd, messages.data(), kReadBatch, MSG_WAITFORONE, nullptr);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const bool timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
            assembler.onTimeout();
            if (device.acquisitionStopped.load() != 0)
                break;
            if (!timedOut)
                std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            continue;
        }
        const size_t count = std::min(static_cast<size_t>(n), kReadBatch);
        for (size_t i = 0; i < count && !assembler.exitRequested(); ++i) {
            if (assembler.mayLeave()) {
                leave = true;
                break;
            }
            const size_t length = std::min<size_t>(messages[i].msg_len, slot);
            assembler.onDatagram(std::span<const uint8_t>(buffer.data() + i * slot, length));
        }
    }
    assembler.finish();
}

}  // namespace

bool startReceiver(const std::shared_ptr<frame::GevDevice>& device,
                   const std::shared_ptr<Acquisition>& acquisition) {
    return acquisition->receiver.start([device, acquisition] { receive(*device, *acquisition); },
                                       platform::ThreadPriority::Highest);
}

}  // namespace kavro::gvsp
