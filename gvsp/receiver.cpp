#include "gvsp/receiver.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "gvcp/wire.h"
#include "gvsp/block_assembler.h"
#include "gvsp/resend_command.h"
#include "gvsp/stream_wait.h"
#include "gvsp/wire.h"
#include "platform/clock.h"

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

using std::chrono::microseconds;

// Datagrams taken from the socket by one read.
constexpr size_t kReadBatch = 64;
// A burst is read in drains of about this many datagrams: the pause between two drains is
// sized from the stream's packet interval so that about this many wait at its end. A small
// receive buffer lowers it (drainTarget), so that a pause never fills more than half of it.
constexpr int64_t kDrainTarget = 64;
// What a waiting datagram costs the receive buffer beyond its bytes (the kernel's bookkeeping).
constexpr int64_t kDatagramOverhead = 512;
// Bounds of that pause. The longest bounds the delay a block's hand-over can take after its
// trailer arrived (the pause before a trailer is sized to end when the trailer is due, so the
// delay is usually far shorter).
constexpr microseconds kShortestPause{20};
constexpr microseconds kLongestPause{800};
// The pause before the packet interval is known.
constexpr microseconds kFirstPause{100};
// A wait for the first datagram of a burst at least this long shows a gap between blocks:
// pacing is worth it again.
constexpr int64_t kBlockGapNs = 1000000;

// The receive buffers of one read: for each datagram a scratch buffer with room for the largest
// header and some slack, so that an over-long packet is seen as such. Where the assembler can
// say where the current block's next payload packets go, the i-th datagram is read in three
// pieces instead: its header into a buffer of the stream's header size, its payload straight
// into the place of the i-th packet expected (a place still empty, so nothing received is
// overwritten), and what exceeds that place into its scratch buffer after the same offset.
// From the first datagram that is not the packet guessed on, every datagram of the read is put
// together again in its scratch buffer before any of the read is handed on: what the assembler
// does with one datagram can then not disturb another.
class DatagramBatch {
  public:
    explicit DatagramBatch(size_t slot) : slot_(slot), buffer_(slot * kReadBatch) {
        for (size_t i = 0; i < kReadBatch; ++i)
            messages_[i].msg_hdr.msg_iov = iov_[i].data();
    }
    // Places the next read's datagrams: where the assembler expects them, else in scratch.
    void aim(const BlockAssembler& assembler) {
        const bool guessing = assembler.idModeKnown();
        headerSize_ = assembler.extendedIds() ? kExtendedHeaderSize : kStandardHeaderSize;
        for (size_t i = 0; i < kReadBatch; ++i) {
            auto& iov = iov_[i];
            uint8_t* scratch = buffer_.data() + i * slot_;
            guess_[i] = guessing ? assembler.payloadSlot(static_cast<uint32_t>(i)) : std::nullopt;
            if (guess_[i] && headerSize_ + guess_[i]->place.size() < slot_) {
                const auto place = guess_[i]->place;
                const size_t tail = headerSize_ + place.size();
                iov[0] = {headers_[i].data(), headerSize_};
                iov[1] = {place.data(), place.size()};
                iov[2] = {scratch + tail, slot_ - tail};
                messages_[i].msg_hdr.msg_iovlen = 3;
            } else {
                guess_[i].reset();
                iov[0] = {scratch, slot_};
                messages_[i].msg_hdr.msg_iovlen = 1;
            }
        }
    }
    // Reads what is waiting, without blocking: the number of datagrams (0 when none), or -1
    // when the socket failed. Datagrams that are not the packet guessed are put together.
    int read(int fd) {
        for (;;) {
            const int n = ::recvmmsg(fd, messages_.data(), kReadBatch, MSG_DONTWAIT, nullptr);
            if (n >= 0) {
                const int count = std::min(n, static_cast<int>(kReadBatch));
                settle(count);
                return count;
            }
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
        }
    }
    // Datagram i: in place, its header and its payload where it belongs; else all of it in one
    // piece (header empty).
    struct Datagram {
        std::span<const uint8_t> header;
        std::span<const uint8_t> body;
    };
    Datagram datagram(size_t i) const {
        const size_t length = std::min<size_t>(messages_[i].msg_len, slot_);
        if (inPlace_[i])
            return {{headers_[i].data(), headerSize_},
                    {guess_[i]->place.data(), length - headerSize_}};
        return {{}, {buffer_.data() + i * slot_, length}};
    }

  private:
    void settle(int n) {
        bool inOrder = true;
        for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
            inPlace_[i] = inOrder && guess_[i] && isGuessed(i);
            if (inPlace_[i])
                continue;
            inOrder = false;
            if (!guess_[i])
                continue;
            // Header and place into the scratch buffer, before the tail read there already.
            const size_t length = std::min<size_t>(messages_[i].msg_len, slot_);
            uint8_t* scratch = buffer_.data() + i * slot_;
            std::memcpy(scratch, headers_[i].data(), std::min(length, headerSize_));
            if (length > headerSize_) {
                const auto place = guess_[i]->place;
                std::memcpy(scratch + headerSize_, place.data(),
                            std::min(length - headerSize_, place.size()));
            }
        }
    }
    // Datagram i is the payload packet guessed and fits its place.
    bool isGuessed(size_t i) const {
        const size_t length = messages_[i].msg_len;
        if (length < headerSize_ || length - headerSize_ > guess_[i]->place.size())
            return false;
        const auto header =
            parseHeader({headers_[i].data(), headerSize_}, headerSize_ == kExtendedHeaderSize);
        return header && header->format == kFormatPayload &&
               header->blockId == guess_[i]->blockId && header->packetId == guess_[i]->packetId;
    }

    size_t slot_;
    size_t headerSize_ = kStandardHeaderSize;
    std::vector<uint8_t> buffer_;
    std::array<std::array<uint8_t, kExtendedHeaderSize>, kReadBatch> headers_{};
    std::array<std::optional<BlockAssembler::PayloadSlot>, kReadBatch> guess_{};
    std::array<bool, kReadBatch> inPlace_{};
    std::array<std::array<iovec, 3>, kReadBatch> iov_{};
    std::array<mmsghdr, kReadBatch> messages_{};
};

// Sizes the pauses between the drains of a burst from the packet interval seen in earlier
// drains (the time since the drain before, divided by the datagrams it found) and from what is
// left of the block: a pause ends when about kDrainTarget datagrams wait, or when the block's
// trailer is due, whichever is sooner.
class BurstPacer {
  public:
    BurstPacer(uint32_t packetsPerBlock, int64_t drainTarget)
        : blockDatagrams_(int64_t{packetsPerBlock} + 2), drainTarget_(drainTarget) {}

    void startBurst() { last_ = platform::monotonicNs(); }
    // Position in the block: its leader is datagram 1, its trailer datagram N + 2.
    void onDatagram(const PacketHeader& header) {
        position_ = header.format == kFormatLeader ? 1 : position_ + 1;
    }
    // A drain found `count` datagrams. It measures the arrival rate only when `arrivedAllAlong`:
    // a pause came before it (a drain after a full read finds a backlog) and the block did not
    // end within it (datagrams may have stopped coming long before the pause ended).
    void drained(int count, bool arrivedAllAlong) {
        const int64_t now = platform::monotonicNs();
        if (arrivedAllAlong && count > 0) {
            const int64_t sample = (now - last_) / count;
            intervalNs_ = intervalNs_ == 0 ? sample : (3 * intervalNs_ + sample) / 4;
        }
        last_ = now;
    }
    microseconds pause() const {
        if (intervalNs_ == 0)
            return kFirstPause;
        const int64_t left = std::clamp<int64_t>(blockDatagrams_ - position_, 1, drainTarget_);
        return std::clamp(microseconds(intervalNs_ * left / 1000), kShortestPause, kLongestPause);
    }

  private:
    int64_t blockDatagrams_;
    int64_t drainTarget_;
    int64_t position_ = 0;
    int64_t last_ = 0;
    int64_t intervalNs_ = 0;
};

// Datagrams a pause may let wait: kDrainTarget, or fewer when half the socket's receive buffer
// holds fewer datagrams of `slot` bytes.
int64_t drainTarget(const platform::UniqueSocket& socket, size_t slot) {
    int granted = 0;
    socklen_t length = sizeof granted;
    if (::getsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0 || granted <= 0)
        return kDrainTarget;
    const int64_t fit = granted / 2 / (static_cast<int64_t>(slot) + kDatagramOverhead);
    return std::clamp<int64_t>(fit, 1, kDrainTarget);
}

// The socket path's receiver. It sleeps in a wait for the first datagram of a burst (or the
// stop, or the stream time-out), then reads the burst in drains of many datagrams with short
// pauses between them instead of waking for every datagram: at a camera's rate, where a frame's
// packets are spread over its transmission time, that saves most wake-ups. A drain that holds
// a trailer (its block is handed over at once) or finds nothing ends the burst.
class SocketReceiver {
  public:
    SocketReceiver(frame::GevDevice& device, Acquisition& acquisition)
        : acquisition_(acquisition),
          stop_(acquisition.stop),
          batch_(size_t{acquisition.index.packetDataSize()} + 100),
          pacer_(acquisition.index.packets(),
                 drainTarget(acquisition.socket, acquisition.index.packetDataSize() + 100)),
          assembler_(device, *acquisition.ring, acquisition.index,
                     [&device](uint64_t blockId, uint32_t first, uint32_t last, bool extended) {
                         return sendPacketResend(device, extended, 0, blockId, first, last) ==
                                GEV_STATUS_SUCCESS;
                     }) {
        const uint32_t timeoutMs = device.streamTimeout.load();
        timeout_ = timeoutMs == 0 ? microseconds(1000) : microseconds(int64_t{timeoutMs} * 1000);
    }

    void run() {
        while (receiving() && !stop_.raised()) {
            const int64_t waitStart = platform::monotonicNs();
            switch (waitForDatagram(acquisition_.socket, stop_, timeout_)) {
                case StreamWait::Datagram:
                    if (platform::monotonicNs() - waitStart >= kBlockGapNs) {
                        backToBack_ = false;
                    } else if (sawTrailer_) {
                        backToBack_ = true;  // the next block followed the last one's trailer
                    }
                    readBurst();
                    break;
                case StreamWait::TimedOut:
                    assembler_.onTimeout();
                    break;
                case StreamWait::Failed:
                    assembler_.onTimeout();
                    (void)pauseUnlessStopped(stop_, timeout_);
                    break;
                case StreamWait::Stopped:
                    break;
            }
        }
        if (receiving())
            finishAfterStop();
        assembler_.finish();
    }

  private:
    bool receiving() const { return !leave_ && !assembler_.exitRequested(); }

    // Pauses only pay where blocks come with gaps between them, as from a camera at its frame
    // rate. When a block begins right after the one before (the camera streams back to back,
    // or the receiver fell behind), every datagram is read as it comes until a gap shows again:
    // a pause would then delay the resend requests of a block that waits for lost packets only
    // until the next block's trailer, and the camera could answer them after that trailer.
    void readBurst() {
        pacer_.startBurst();
        bool afterPause = false;
        while (receiving() && !stop_.raised()) {
            // Everything waiting, in reads of a batch each.
            int total = 0;
            int n = 0;
            sawTrailer_ = false;
            do {
                n = drain();
                if (n < 0)
                    return;  // the wait sees the failure
                total += n;
            } while (n == static_cast<int>(kReadBatch) && receiving() && !stop_.raised());
            pacer_.drained(total, afterPause && !sawTrailer_);
            if (sawTrailer_ && !endedWithTrailer_)
                backToBack_ = true;
            if (total == 0 || sawTrailer_ || backToBack_)
                return;
            if (!pauseUnlessStopped(stop_, pacer_.pause()))
                return;
            afterPause = true;
        }
    }

    // Reads what is waiting and hands it to the assembler in arrival order. After a stop,
    // reception ends before the first datagram that finds no block in progress.
    int drain() {
        batch_.aim(assembler_);
        const int n = batch_.read(acquisition_.socket.get());
        endedWithTrailer_ = false;
        for (int i = 0; i < n && receiving(); ++i) {
            if (stop_.raised() && assembler_.mayLeave()) {
                leave_ = true;
                break;
            }
            const auto [head, body] = batch_.datagram(static_cast<size_t>(i));
            const auto datagram = head.empty() ? body : head;
            if (head.empty())
                assembler_.onDatagram(body);
            else
                assembler_.onDatagram(head, body);
            if (const auto header = parseHeader(datagram, carriesExtendedIds(datagram))) {
                pacer_.onDatagram(*header);
                endedWithTrailer_ = header->format == kFormatTrailer;
                sawTrailer_ = sawTrailer_ || endedWithTrailer_;
            }
        }
        return n;
    }

    void finishAfterStop() {
        StopGrace grace;
        while (receiving() && !assembler_.mayLeave()) {
            const microseconds wait = grace.nextWait(timeout_);
            if (wait.count() == 0)
                return;
            const auto ready = platform::waitReadable(acquisition_.socket, wait);
            if (ready != platform::WaitResult::Ready) {
                if (ready == platform::WaitResult::TimedOut)
                    assembler_.onTimeout();
                return;
            }
            if (drain() < 0)
                return;
        }
    }

    Acquisition& acquisition_;
    const StopSignal& stop_;
    DatagramBatch batch_;
    BurstPacer pacer_;
    BlockAssembler assembler_;
    microseconds timeout_{};
    bool leave_ = false;
    bool endedWithTrailer_ = false;
    bool sawTrailer_ = false;
    bool backToBack_ = false;
};

void receive(frame::GevDevice& device, Acquisition& acquisition) {
    SocketReceiver receiver(device, acquisition);
    receiver.run();
}

}  // namespace

bool startReceiver(const std::shared_ptr<frame::GevDevice>& device,
                   const std::shared_ptr<Acquisition>& acquisition) {
    return acquisition->receiver.start([device, acquisition] { receive(*device, *acquisition); },
                                       platform::ThreadPriority::Highest);
}

}  // namespace kavro::gvsp
