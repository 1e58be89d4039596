#include "gvsp/receiver.h"

#include <netinet/udp.h>
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
constexpr int64_t kDrainTarget = 256;
// What a waiting datagram costs the receive buffer beyond its bytes (the kernel's bookkeeping).
constexpr int64_t kDatagramOverhead = 512;
// Bounds of that pause.
constexpr microseconds kShortestPause{20};
constexpr microseconds kLongestPause{4000};
// A pause ends this long before the trailer is due, and earlier by as much as the spans of
// recent blocks differ (at most kLongestSpreadNs); after that, pauses are a quarter of that
// margin, within the bounds below. The longest bounds what a pause adds to a block's hand-over
// when the trailer comes as expected.
constexpr int64_t kTrailerMarginNs = 200000;
constexpr int64_t kLongestSpreadNs = 1000000;
constexpr int64_t kShortestFinalNs = 100000;
constexpr int64_t kLongestFinalNs = 250000;
// The pause before the packet interval is known, and the longest before a block's span is.
constexpr microseconds kFirstPause{100};
constexpr microseconds kFirstBlockPause{250};
// A wait for the first datagram of a burst at least this long shows a gap between blocks:
// pacing is worth it again.
constexpr int64_t kBlockGapNs = 1000000;

// Payload packets that come alone, in a row, before the reads stop taking one run each.
constexpr uint32_t kAloneAfterRuns = 4;
// The most one read of a run of coalesced datagrams returns: the kernel ends a run at 64 KiB.
constexpr size_t kRunBytes = 65536;
// Runs of one length in a row before a read takes several runs, guessed to be that long. Where
// the adapter's runs vary, reads then keep taking one: a wrong guess costs the rest of a read
// a copy.
constexpr size_t kSteadyRuns = 4;

// The receive buffers of one read: for each datagram a scratch buffer with room for the largest
// header and some slack, so that an over-long packet is seen as such. Where the assembler can
// say where the current block's next payload packets go, the i-th datagram is read in three
// pieces instead: its header into a buffer of the stream's header size, its payload straight
// into the place of the i-th packet expected (a place still empty, so nothing received is
// overwritten), and what exceeds that place into its scratch buffer after the same offset.
// From the first datagram that is not the packet guessed on, every datagram of the read is put
// together again in its scratch buffer before any of the read is handed on: what the assembler
// does with one datagram can then not disturb another.
//
// A read ends where the guesses end: after the block's last packet expected it takes one more
// datagram (the trailer, as a rule), and after a trailer only one (the next leader, whose block
// has no place yet). So the next block's payload is read in place too instead of into scratch.
//
// With receive coalescing, one message may return a run of datagrams back to back, so every
// scratch buffer has room for a whole run. While runs come, each message takes one, aimed at
// the places of the next packets expected in turn (header, place, header, place...): a run of
// the packets expected lands where they belong, as single datagrams do. Where a run begins is
// known only for the first message of a read; while the runs have one length, the next
// messages are aimed at the places that length puts them at, else a read takes one run.
class DatagramBatch {
  public:
    DatagramBatch(size_t slot, bool coalesced)
        : slot_(slot),
          room_(coalesced ? slot + kRunBytes : slot),
          coalesced_(coalesced),
          buffer_(new uint8_t[room_ * kReadBatch]) {
        datagrams_.reserve(kReadBatch);
    }
    // Places the next read's datagrams: where the assembler expects them, else in scratch.
    // `leaderDue`: the last datagram was a trailer.
    void aim(const BlockAssembler& assembler, bool leaderDue) {
        headerSize_ = assembler.extendedIds() ? kExtendedHeaderSize : kStandardHeaderSize;
        // While runs come, each message takes one run. When the last runs were all of one
        // length, a read takes several, each aimed at the places of as many packets as the
        // last run held; else one, aimed at all the places its scratch buffer can hold.
        const bool runs = runsCame_;
        size_t perRun = runs ? steadyRun() : 0;
        size_t guessed = 0;
        bool blockEnds = false;  // the guesses reach the block's last packet expected
        if (assembler.idModeKnown()) {
            size_t bytes = 0;
            for (; guessed < kReadBatch; ++guessed) {
                auto guess = assembler.payloadSlot(static_cast<uint32_t>(guessed));
                if (!guess) {
                    blockEnds = true;
                    break;
                }
                const size_t piece = headerSize_ + guess->place.size();
                if (piece >= slot_)
                    break;
                // A run's guesses fit the scratch buffer, where they may be put together.
                if (perRun != 0)
                    perRun = std::min(perRun, room_ / piece);
                bytes += piece;
                if (runs && perRun == 0 && bytes > room_)
                    break;
                guess_[guessed] = *guess;
            }
        }
        size_t messages = 0;
        if (!runs) {
            // One datagram a message, and one more for what follows the guesses.
            messages = guessed != 0 ? std::min(kReadBatch, guessed + 1)
                       : leaderDue  ? 1
                                    : kReadBatch;
            for (size_t i = 0; i < messages; ++i) {
                first_[i] = i;
                guesses_[i] = i < guessed ? 1 : 0;
            }
        } else if (const size_t end = wholeRuns(guessed, perRun, blockEnds); end == 0) {
            messages = 1;
            first_[0] = 0;
            guesses_[0] = guessed;
        } else {
            for (size_t g = 0; g < end; g += perRun, ++messages) {
                first_[messages] = g;
                guesses_[messages] = std::min(perRun, end - g);
            }
            if (blockEnds && messages < kReadBatch) {
                first_[messages] = guessed;
                guesses_[messages++] = 0;  // the trailer, as a rule
            }
        }
        want_ = messages;
        blockEnd_ = blockEnds ? guessed : kNoBlockEnd;
        size_t next = 0;  // next free iovec
        for (size_t i = 0; i < want_; ++i) {
            iovec* iov = &iov_[next];
            size_t n = 0;
            size_t bytes = 0;  // of the guesses
            for (size_t g = first_[i]; g < first_[i] + guesses_[i]; ++g) {
                iov[n++] = {headers_[g].data(), headerSize_};
                iov[n++] = {guess_[g].place.data(), guess_[g].place.size()};
                bytes += headerSize_ + guess_[g].place.size();
            }
            iov[n++] = {scratch(i) + bytes, room_ - bytes};
            next += n;
            msghdr& m = messages_[i].msg_hdr;
            m.msg_iov = iov;
            m.msg_iovlen = n;
            if (coalesced_) {
                m.msg_control = controls_[i].bytes.data();
                m.msg_controllen = controls_[i].bytes.size();
            }
        }
    }
    // Reads what is waiting, at most the datagrams (or runs) aimed at, without blocking: the
    // number of reads it took (0 when none), or -1 when the socket failed. Datagrams that are
    // not the packet guessed are put together, runs cut apart.
    int read(int fd) {
        for (;;) {
            const int n = ::recvmmsg(fd, messages_.data(), static_cast<unsigned>(want_),
                                     MSG_DONTWAIT, nullptr);
            if (n >= 0) {
                taken_ = std::min(static_cast<size_t>(n), want_);
                settle();
                return static_cast<int>(taken_);
            }
            taken_ = 0;
            datagrams_.clear();
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
        }
    }
    // The last read took all it aimed at: more may be waiting.
    bool filled() const { return taken_ == want_; }
    // The datagrams of the last read, in arrival order: in place, a header and its payload
    // where it belongs; else all of it in one piece (header empty).
    struct Datagram {
        std::span<const uint8_t> header;
        std::span<const uint8_t> body;
    };
    const std::vector<Datagram>& datagrams() const { return datagrams_; }

  private:
    uint8_t* scratch(size_t i) const { return buffer_.get() + i * room_; }

    // Lists the datagrams read. Those that are the packets guessed, in order from the read's
    // first, stay in place; from the first that is not, every byte of the read that went to a
    // place is copied to its scratch buffer first, so that a message's bytes lie there as they
    // came.
    void settle() {
        datagrams_.clear();
        bool inOrder = true;
        for (size_t i = 0; i < taken_; ++i) {
            const size_t bytes = std::min<size_t>(messages_[i].msg_len, room_);
            const size_t run = coalesced_ ? runSize(i, bytes) : 0;
            noteRun(guesses_[i] != 0, run != 0);
            // A run's datagrams, the last maybe shorter; one datagram is a run of one. Of a run
            // that did not fit the room, the datagram cut short is left out.
            const size_t step = run != 0 ? run : std::max<size_t>(bytes, 1);
            const bool cutShort = run != 0 && (messages_[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
            // A run that reaches the block's last packet is as short as the block leaves it.
            const size_t datagrams = run != 0 ? (bytes + run - 1) / run : 0;
            if (run != 0 && first_[i] + datagrams < blockEnd_)
                noteRunLength(datagrams);
            size_t offset = 0;
            size_t g = first_[i];
            const size_t end = first_[i] + guesses_[i];
            for (; inOrder && g < end && offset < bytes; ++g, offset += step) {
                const size_t length = std::min(step, bytes - offset);
                const bool last = offset + length >= bytes && !cutShort;
                if (!isGuessed(g, length, last))
                    break;
                datagrams_.push_back({{headers_[g].data(), headerSize_},
                                      {guess_[g].place.data(), length - headerSize_}});
            }
            if (offset < bytes) {
                // Runs that are not what the guesses took them for: read one at a time until
                // their length is steady again.
                if (want_ > 1 && runsCame_ && g < end)
                    sameRuns_ = 0;
                inOrder = false;
                gather(i, g, offset, bytes);
            }
            for (; offset < bytes; offset += step) {
                if (cutShort && offset + run > bytes)
                    break;
                datagrams_.push_back({{}, {scratch(i) + offset, std::min(step, bytes - offset)}});
            }
        }
    }
    // Runs come while a run was read lately: leaders and trailers come alone between them, and
    // so does the odd payload packet (a resent one, or the last of a run cut short). Only
    // several payload packets aimed at a place that come alone in a row end that.
    void noteRun(bool aimed, bool run) {
        if (run) {
            runsCame_ = true;
            alone_ = 0;
        } else if (aimed && ++alone_ >= kAloneAfterRuns) {
            runsCame_ = false;
        }
    }
    // The guesses of a read of several runs of `perRun` datagrams: short of the block's end, a
    // message with fewer guesses than a run would put the rest of its run in scratch, so they
    // end with the last whole run. 0: too few for a run, or no steady run length.
    static size_t wholeRuns(size_t guessed, size_t perRun, bool blockEnds) {
        if (perRun == 0)
            return 0;
        return blockEnds ? guessed : guessed - guessed % perRun;
    }
    // Runs of the same number of datagrams in a row make that number the one a read expects.
    void noteRunLength(size_t datagrams) {
        sameRuns_ = datagrams == lastRun_ ? sameRuns_ + 1 : 1;
        lastRun_ = datagrams;
    }
    size_t steadyRun() const { return sameRuns_ >= kSteadyRuns ? lastRun_ : 0; }
    // The size of the datagrams of a run read as message i; 0 when it holds one datagram.
    size_t runSize(size_t i, size_t bytes) {
        msghdr& m = messages_[i].msg_hdr;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
            if (c->cmsg_level == SOL_UDP && c->cmsg_type == UDP_GRO &&
                c->cmsg_len >= CMSG_LEN(sizeof(int))) {
                int size = 0;
                std::memcpy(&size, CMSG_DATA(c), sizeof size);
                return size > 0 && static_cast<size_t>(size) < bytes ? static_cast<size_t>(size)
                                                                     : 0;
            }
        }
        return 0;
    }
    // A datagram of `length` bytes read into guess g's header and place is the payload packet
    // guessed and fits its place; one that is not a message's last fills it exactly, as the
    // next datagram then begins at the next guess.
    bool isGuessed(size_t g, size_t length, bool last) const {
        const size_t place = guess_[g].place.size();
        if (length < headerSize_ || length - headerSize_ > place ||
            (!last && length - headerSize_ != place)) {
            return false;
        }
        const auto header =
            parseHeader({headers_[g].data(), headerSize_}, headerSize_ == kExtendedHeaderSize);
        return header && header->format == kFormatPayload && header->blockId == guess_[g].blockId &&
               header->packetId == guess_[g].packetId;
    }
    // Copies what message i put into the headers and places of guesses from g on (its bytes
    // from `offset`) to the same offsets of its scratch buffer, where the rest already lies.
    void gather(size_t i, size_t g, size_t offset, size_t bytes) {
        for (; g < first_[i] + guesses_[i] && offset < bytes; ++g) {
            const std::span<const uint8_t> pieces[] = {{headers_[g].data(), headerSize_},
                                                       guess_[g].place};
            for (const auto& piece : pieces) {
                const size_t n = std::min(piece.size(), bytes - std::min(offset, bytes));
                std::memcpy(scratch(i) + offset, piece.data(), n);
                offset += piece.size();
            }
        }
    }

    size_t slot_;
    size_t room_;  // of each scratch buffer
    bool coalesced_;
    bool runsCame_ = false;  // runs are coming: a read takes one
    uint32_t alone_ = 0;     // datagrams aimed at places that came alone since the last run
    size_t headerSize_ = kStandardHeaderSize;
    size_t want_ = kReadBatch;
    size_t taken_ = 0;
    // Touched only where datagrams land: the room for runs costs no memory while none come.
    std::unique_ptr<uint8_t[]> buffer_;
    std::array<std::array<uint8_t, kExtendedHeaderSize>, kReadBatch> headers_{};
    std::array<BlockAssembler::PayloadSlot, kReadBatch> guess_{};
    std::array<size_t, kReadBatch> first_{};    // each message's first guess
    std::array<size_t, kReadBatch> guesses_{};  // and how many it has
    static constexpr size_t kNoBlockEnd = ~size_t{0};
    size_t blockEnd_ = kNoBlockEnd;  // guess after the block's last packet
    size_t lastRun_ = 0;             // datagrams of the last run read
    size_t sameRuns_ = 0;            // runs of that length in a row
    // Two per guess and one for the rest of each message.
    std::array<iovec, 3 * kReadBatch> iov_{};
    std::array<mmsghdr, kReadBatch> messages_{};
    struct alignas(cmsghdr) Control {
        std::array<uint8_t, CMSG_SPACE(sizeof(int))> bytes;
    };
    std::array<Control, kReadBatch> controls_{};
    std::vector<Datagram> datagrams_;
};

// Sizes the pauses between the drains of a burst. A pause ends when about kDrainTarget
// datagrams wait, at the packet interval seen in earlier drains (the time since the drain
// before, divided by the datagrams it found), and a little before the block's trailer is due.
// When the trailer is due comes from the time: a block's trailer follows its leader after the
// span earlier blocks took (the shortest lately), and from the datagrams still to come (when
// an eighth of them is left). Either alone misleads: a sender that fell behind sends the rest of
// a block at once, and a leader seen late puts the time off. Once the trailer is due, pauses
// are short until it comes, and none is made when the trailer is all that is left, so its
// block is handed over soon after it arrives. Until a span is known, all pauses are short.
class BurstPacer {
  public:
    BurstPacer(uint32_t packetsPerBlock, int64_t drainTarget)
        : blockDatagrams_(int64_t{packetsPerBlock} + 2), drainTarget_(drainTarget) {}

    void startBurst() { last_ = platform::monotonicNs(); }
    // Position in the block: its leader is datagram 1, its trailer datagram N + 2. A leader and
    // the trailer of the same block also give the span of a block.
    void onDatagram(const PacketHeader& header) {
        if (header.format == kFormatLeader) {
            position_ = 1;
            leaderNs_ = platform::monotonicNs();
            leaderBlock_ = header.blockId;
            return;
        }
        ++position_;
        if (header.format == kFormatTrailer && leaderNs_ != 0 && header.blockId == leaderBlock_) {
            spans_[spanCount_++ % spans_.size()] = platform::monotonicNs() - leaderNs_;
            const size_t known = std::min(spanCount_, spans_.size());
            const auto [shortest, longest] =
                std::minmax_element(spans_.begin(), spans_.begin() + known);
            spanNs_ = *shortest;
            spanSpreadNs_ = *longest - *shortest;
            leaderNs_ = 0;
        }
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
    // The next pause; none when the trailer is all that is left.
    std::optional<microseconds> pause() const {
        if (intervalNs_ == 0)
            return kFirstPause;
        const int64_t left = blockDatagrams_ - position_;
        const int64_t byCount = intervalNs_ * (left - std::max<int64_t>(1, left / 8));
        if (byCount <= 0)
            return std::nullopt;
        int64_t ns = std::min(intervalNs_ * drainTarget_, byCount);
        if (spanNs_ == 0)
            return std::clamp(microseconds(ns / 1000), kShortestPause, kFirstBlockPause);
        if (leaderNs_ != 0) {
            // The trailer may come as much sooner as the spans differ; the pauses after that
            // point share the margin out in a few steps.
            const int64_t margin = kTrailerMarginNs + std::min(spanSpreadNs_, kLongestSpreadNs);
            const int64_t untilDue = leaderNs_ + spanNs_ - margin - platform::monotonicNs();
            const int64_t finalPause = std::clamp(margin / 4, kShortestFinalNs, kLongestFinalNs);
            ns = std::min(ns, untilDue > finalPause ? untilDue : finalPause);
        }
        return std::clamp(microseconds(ns / 1000), kShortestPause, kLongestPause);
    }

  private:
    int64_t blockDatagrams_;
    int64_t drainTarget_;
    int64_t position_ = 0;
    int64_t last_ = 0;
    int64_t intervalNs_ = 0;
    int64_t leaderNs_ = 0;  // when the current block's leader was seen; 0 after its trailer
    uint64_t leaderBlock_ = 0;
    // Leader to trailer of the last blocks (a trailer seen after a pause makes a span too
    // long), and the shortest of them.
    std::array<int64_t, 8> spans_{};
    size_t spanCount_ = 0;
    int64_t spanNs_ = 0;
    int64_t spanSpreadNs_ = 0;  // how much they differ: the trailer may come that much sooner
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
          coalescing_(acquisition.socket),
          batch_(size_t{acquisition.index.packetDataSize()} + 100, coalescing_.on()),
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
            sawTrailer_ = false;
            bool more = true;
            while (more && receiving() && !stop_.raised()) {
                const int n = drain();
                if (n < 0)
                    return;  // the wait sees the failure
                total += n;
                more = batch_.filled();
            }
            pacer_.drained(total, afterPause && !sawTrailer_);
            if (sawTrailer_ && !lastWasTrailer_)
                backToBack_ = true;
            if (total == 0 || sawTrailer_ || backToBack_)
                return;
            const auto pause = pacer_.pause();
            if (!pause || !pauseUnlessStopped(stop_, *pause))
                return;
            afterPause = true;
        }
    }

    // Reads what is waiting and hands it to the assembler in arrival order: the number of
    // datagrams read, or -1 when the socket failed. After a stop, reception ends before the
    // first datagram that finds no block in progress.
    int drain() {
        batch_.aim(assembler_, lastWasTrailer_);
        if (batch_.read(acquisition_.socket.get()) < 0)
            return -1;
        const auto& datagrams = batch_.datagrams();
        for (size_t i = 0; i < datagrams.size() && receiving(); ++i) {
            if (stop_.raised() && assembler_.mayLeave()) {
                leave_ = true;
                break;
            }
            const auto [head, body] = datagrams[i];
            const auto datagram = head.empty() ? body : head;
            if (head.empty())
                assembler_.onDatagram(body);
            else
                assembler_.onDatagram(head, body);
            if (const auto header = parseHeader(datagram, carriesExtendedIds(datagram))) {
                pacer_.onDatagram(*header);
                lastWasTrailer_ = header->format == kFormatTrailer;
                sawTrailer_ = sawTrailer_ || lastWasTrailer_;
            }
        }
        return static_cast<int>(datagrams.size());
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

    // Receive coalescing, on while this receiver reads the socket: the secure-transfer
    // receiver and the start-up flush read it one datagram at a time.
    class Coalescing {
      public:
        explicit Coalescing(const platform::UniqueSocket& socket)
            : socket_(socket), on_(platform::setReceiveCoalescing(socket, true)) {}
        ~Coalescing() {
            if (on_)
                (void)platform::setReceiveCoalescing(socket_, false);
        }
        Coalescing(const Coalescing&) = delete;
        Coalescing& operator=(const Coalescing&) = delete;
        bool on() const { return on_; }

      private:
        const platform::UniqueSocket& socket_;
        bool on_;
    };

    Acquisition& acquisition_;
    const StopSignal& stop_;
    Coalescing coalescing_;
    DatagramBatch batch_;
    BurstPacer pacer_;
    BlockAssembler assembler_;
    microseconds timeout_{};
    bool leave_ = false;
    // The last datagram handed on was a trailer: a leader comes next.
    bool lastWasTrailer_ = false;
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
