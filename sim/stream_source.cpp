#include "sim/stream_source.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <random>
#include <vector>

#include "gvcp/bootstrap.h"
#include "gvsp/wire.h"
#include "platform/byte_cursor.h"

namespace kavro::sim {

namespace reg = gvcp::reg;

namespace {

using Clock = std::chrono::steady_clock;

// What a datagram costs on an Ethernet link beyond its own bytes: IP and UDP headers 28,
// Ethernet header 14, frame check 4, preamble 8 and the inter-frame gap 12.
constexpr uint64_t kWireBytesPerDatagram = 28 + 14 + 4 + 8 + 12;
// Timer slack of a pacing sender, in nanoseconds: the gaps between packets are about 12 us
// at 1 Gbit/s, far below the default slack of 50 us.
constexpr unsigned long kPacingTimerSlackNs = 1000;
// A run of packets handed over in one send: at most as many as a host coalesces, and no more
// bytes than one UDP datagram carries.
constexpr uint32_t kLongestRun = 64;
constexpr size_t kRunBytes = 65507;

// Spreads packets at a link's line rate: each leaves when the one before it would have left a
// link of that rate completely. The sender sleeps until then; after a late wake-up the packets
// that fell due meanwhile leave at once, so the rate holds over a frame.
class LinkPacer {
  public:
    explicit LinkPacer(uint64_t bitsPerSecond)
        : nsPerByte_(bitsPerSecond == 0 ? 0.0 : 8e9 / static_cast<double>(bitsPerSecond)) {
        if (bitsPerSecond != 0)
            (void)::prctl(PR_SET_TIMERSLACK, kPacingTimerSlackNs, 0UL, 0UL, 0UL);
    }
    // A frame starts: its first packet leaves at once unless the link is still busy.
    void startFrame() { free_ = std::max(free_, Clock::now()); }
    void beforeSend(size_t datagramBytes) {
        if (nsPerByte_ == 0.0)
            return;
        if (free_ > Clock::now())
            std::this_thread::sleep_until(free_);
        free_ += std::chrono::nanoseconds(static_cast<int64_t>(
            static_cast<double>(datagramBytes + kWireBytesPerDatagram) * nsPerByte_));
    }

  private:
    double nsPerByte_;
    Clock::time_point free_{};
};

}  // namespace

uint64_t lineBytes(const StreamFormat& f) {
    const uint64_t bits = (f.pixelFormat >> 16) & 0xFF;
    return (bits * f.width + 7) / 8;
}

uint32_t blockBytes(const StreamFormat& f) {
    if (gvsp::isImagePayload(f.payloadType)) {
        const uint64_t chunks = f.payloadType == gvsp::kPayloadImageWithChunks ? kChunkBytes : 0;
        return static_cast<uint32_t>((lineBytes(f) + f.paddingX) * f.height + chunks);
    }
    return f.dataBytes;
}

std::array<uint8_t, kChunkBytes> chunkBytes(const StreamFormat& f, uint64_t blockId,
                                            uint32_t imageBytes) {
    std::array<uint8_t, kChunkBytes> out{};
    platform::ByteWriter w(out);
    w.u32(kImageChunkId);
    w.u32(imageBytes);
    w.u64(blockId);
    w.u32(f.chunkExposureUs);
    w.u32(static_cast<uint32_t>(f.chunkTemperatureRaw));
    w.u32(kCameraChunkId);
    w.u32(16);
    return out;
}

StreamSource::StreamSource(CameraModel& model, uint32_t cameraAddressNet)
    : model_(model), addressNet_(cameraAddressNet) {
    resendTicket_ = model_.setCommandHandler(
        gvsp::kPacketResendCommand,
        [this](const gvcp::CommandHeader& header, std::span<const uint8_t> payload,
               const Peer&) -> std::optional<Answer> {
            if (auto request = gvsp::parseResendPayload(header.flags, header.reqId, payload)) {
                std::lock_guard lock(mutex_);
                ++stats_.resendRequests;
                if (resends_.size() < 4096)
                    resends_.push_back(*request);
            }
            return std::nullopt;
        });
}

StreamSource::~StreamSource() {
    stop();
    model_.removeCommandHandler(gvsp::kPacketResendCommand, resendTicket_);
}

void StreamSource::setFaults(const StreamFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

bool StreamSource::start(const StreamFormat& format) {
    if (thread_.joinable())
        return false;
    socket_ = platform::createUdpSocket(addressNet_, 0);
    if (!socket_.isValid())
        return false;
    // Multicast leaves through the camera's own interface and loops back to local listeners.
    in_addr interface {};
    interface.s_addr = addressNet_;
    (void)::setsockopt(socket_.get(), IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface);
    const int loop = 1;
    (void)::setsockopt(socket_.get(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    StreamFaults faults;
    {
        std::lock_guard lock(mutex_);
        faults = faults_;
        stats_ = {};
        resends_.clear();
    }
    stop_ = false;
    finished_ = false;
    thread_ = std::thread([this, format, faults] { run(format, faults); });
    return true;
}

void StreamSource::stop() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

bool StreamSource::waitFinished(std::chrono::milliseconds timeout) const {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!finished_) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

StreamStats StreamSource::stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

void StreamSource::run(StreamFormat f, StreamFaults faults) {
    std::mt19937_64 rng(faults.seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const auto happens = [&](double p) { return p > 0.0 && chance(rng) < p; };

    const bool ext = f.extendedIds;
    const uint32_t overhead = ext ? gvsp::kExtendedPacketOverhead : gvsp::kStandardPacketOverhead;
    const uint32_t packetSize = model_.readRegister(reg::kScps0) & 0xFFFF;
    const uint32_t dataSize = packetSize > overhead ? packetSize - overhead : 0;
    const bool multiPart = f.parts != 0;
    if (dataSize <= (multiPart ? kPartHeaderSize : 0)) {
        finished_ = true;
        return;
    }
    const bool image = gvsp::isImagePayload(f.payloadType);
    const bool chunks = f.payloadType == gvsp::kPayloadImageWithChunks;
    const uint64_t line = lineBytes(f);
    const uint32_t sentLines =
        image && f.trailerHeight != 0 && f.trailerHeight < f.height ? f.trailerHeight : f.height;
    const uint64_t imageBytes = image ? (line + f.paddingX) * sentLines : f.dataBytes;
    const uint64_t sentBytes = imageBytes + (chunks ? kChunkBytes : 0);

    // Where each payload packet's data comes from: its part, the offset in the part and in the
    // block, and its length. Without parts the block is one part.
    struct Piece {
        uint16_t part;
        uint64_t partOffset;
        uint64_t blockOffset;
        uint64_t length;
    };
    std::vector<Piece> pieces;
    {
        const uint32_t partCount = multiPart ? f.parts : 1;
        const uint64_t room = multiPart ? dataSize - kPartHeaderSize : dataSize;
        const uint64_t partSize = (sentBytes + partCount - 1) / partCount;
        for (uint32_t part = 0; part < partCount; ++part) {
            const uint64_t start = std::min<uint64_t>(part * partSize, sentBytes);
            const uint64_t end = std::min<uint64_t>(start + partSize, sentBytes);
            for (uint64_t o = start; o < end; o += room) {
                pieces.push_back(
                    {static_cast<uint16_t>(part), o - start, o, std::min<uint64_t>(room, end - o)});
            }
        }
    }
    const uint32_t packets = static_cast<uint32_t>(pieces.size());

    std::vector<uint8_t> buffer(size_t{dataSize} + 64);
    struct Held {
        std::vector<uint8_t> bytes;
        uint64_t due;
    };
    std::deque<Held> held;
    uint64_t sequence = 0;
    // Blocks whose packets can still be resent, with their timestamps.
    std::deque<std::pair<uint64_t, uint64_t>> recent;
    LinkPacer pacer(f.linkBitsPerSecond);

    // `datagrams` datagrams of `segment` bytes each, back to back (0: one datagram).
    const auto transmit = [&](std::span<const uint8_t> bytes, size_t segment, uint64_t datagrams) {
        const uint32_t scda = model_.readRegister(reg::kScda0);
        const uint16_t port = static_cast<uint16_t>(model_.readRegister(reg::kScp0) & 0xFFFF);
        if (port == 0 || scda == 0)
            return;
        if (platform::sendSegmentsTo(socket_, bytes, segment, htonl(scda), port)) {
            std::lock_guard lock(mutex_);
            stats_.packetsSent += datagrams;
        }
    };
    const uint32_t runLength = std::min(f.runLength, kLongestRun);
    std::vector<uint8_t> run;
    size_t runSegment = 0;
    uint32_t runCount = 0;
    const auto flushRun = [&] {
        if (runCount != 0)
            transmit(run, runSegment, runCount);
        run.clear();
        runCount = 0;
    };
    const auto send = [&](std::span<const uint8_t> bytes) {
        pacer.beforeSend(bytes.size());
        if (frameSent_) {
            const auto header = gvsp::parseHeader(bytes, ext);
            if (header && header->format == gvsp::kFormatTrailer && header->status == 0)
                frameSent_(header->blockId, Clock::now());
        }
        if (runLength <= 1) {
            transmit(bytes, 0, 1);
            return;
        }
        if (runCount != 0 && (bytes.size() > runSegment || run.size() + bytes.size() > kRunBytes))
            flushRun();
        if (runCount == 0)
            runSegment = bytes.size();
        run.insert(run.end(), bytes.begin(), bytes.end());
        ++runCount;
        if (bytes.size() < runSegment || runCount == runLength)
            flushRun();
    };
    const auto releaseHeld = [&](bool all) {
        while (!held.empty() && (all || held.front().due <= sequence)) {
            send(held.front().bytes);
            held.pop_front();
        }
    };
    const auto dataByte = [&](uint64_t blockId, uint64_t o,
                              const std::array<uint8_t, kChunkBytes>& chunk) -> uint8_t {
        if (o >= imageBytes)
            return chunk[o - imageBytes];
        const bool padding = image && f.paddingX != 0 && o % (line + f.paddingX) >= line;
        return padding ? kPaddingByte : frameByte(blockId, o);
    };
    const auto buildPayload = [&](uint64_t blockId, uint32_t p, uint16_t status) -> size_t {
        const Piece& piece = pieces[p - 1];
        const uint8_t format = multiPart ? gvsp::kFormatPayloadMultiPart : gvsp::kFormatPayload;
        gvsp::PacketHeader h{status, ext, format, blockId, p};
        size_t head = gvsp::writeHeader(buffer, h);
        if (multiPart) {
            platform::ByteWriter w(std::span<uint8_t>(buffer).subspan(head, kPartHeaderSize));
            w.u16(piece.part);
            w.u16(0);
            w.u32(static_cast<uint32_t>(piece.partOffset));
            head += kPartHeaderSize;
        }
        const auto chunk = chunkBytes(f, blockId, static_cast<uint32_t>(imageBytes));
        for (uint64_t k = 0; k < piece.length; ++k)
            buffer[head + k] = dataByte(blockId, piece.blockOffset + k, chunk);
        return head + piece.length;
    };
    const auto buildLeader = [&](uint64_t blockId, uint64_t timestamp, uint16_t status) {
        gvsp::Leader leader;
        leader.payloadType = f.payloadType;
        leader.timestamp = timestamp;
        leader.pixelFormat = f.pixelFormat;
        leader.sizeX = image ? f.width : f.dataBytes;
        leader.sizeY = f.height;
        leader.paddingX = f.paddingX;
        leader.offsetX = f.offsetX;
        leader.offsetY = f.offsetY;
        return gvsp::writeLeader(buffer, {status, ext, gvsp::kFormatLeader, blockId, 0}, leader);
    };
    // Every packet of the stream passes here: faults, then (maybe held back) sending.
    const auto emit = [&](size_t size, bool payload) {
        ++sequence;
        std::span<uint8_t> bytes(buffer.data(), size);
        std::vector<uint8_t> copy;
        if (payload && happens(faults.wrongSize)) {
            copy.assign(bytes.begin(), bytes.end());
            if (chance(rng) < 0.5 && copy.size() > 1) {
                copy.resize(copy.size() / 2);
            } else {
                copy.resize(copy.size() + 1 + rng() % 64, 0xAB);
            }
        } else {
            copy.assign(bytes.begin(), bytes.end());
        }
        if (happens(faults.errorStatus)) {
            copy[0] = 0x80;
            copy[1] = 0x01;
        }
        if (happens(faults.corrupt))
            copy[rng() % std::min<size_t>(copy.size(), ext ? 20 : 8)] = static_cast<uint8_t>(rng());
        const int copies = happens(faults.duplicate) ? 2 : 1;
        for (int c = 0; c < copies; ++c) {
            if (happens(faults.reorder)) {
                held.push_back(
                    {copy, sequence + 1 + rng() % std::max<uint32_t>(faults.reorderDistance, 1)});
            } else {
                send(copy);
            }
        }
        releaseHeld(false);
    };
    const auto serveResends = [&] {
        std::deque<gvsp::ResendRequest> requests;
        {
            std::lock_guard lock(mutex_);
            requests.swap(resends_);
        }
        for (const auto& r : requests) {
            const uint64_t id = ext ? r.blockId : (r.blockId & 0xFFFF);
            const auto block = std::find_if(recent.begin(), recent.end(),
                                            [&](const auto& b) { return b.first == id; });
            if (block == recent.end())
                continue;
            if (faults.resendSinglePacketsOnly && r.firstPacket != r.lastPacket)
                continue;
            const uint16_t status = faults.flagResentPackets ? gvsp::kStatusResent : 0;
            const uint32_t last = std::min(r.lastPacket, packets);
            for (uint32_t p = r.firstPacket; p <= last; ++p) {
                // Packet 0 is the leader.
                const size_t size =
                    p == 0 ? buildLeader(id, block->second, status) : buildPayload(id, p, status);
                send(std::span<const uint8_t>(buffer.data(), size));
                std::lock_guard lock(mutex_);
                ++stats_.packetsResent;
            }
        }
        flushRun();
    };

    const auto startTime = Clock::now();
    uint64_t blockId = f.firstBlockId;
    uint64_t timestamp = 1000;
    for (uint32_t frame = 0; !stop_ && (f.frameCount == 0 || frame < f.frameCount); ++frame) {
        if (f.frameRate > 0.0) {
            const auto due =
                startTime + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(frame / f.frameRate));
            flushRun();
            while (!stop_ && std::chrono::steady_clock::now() < due) {
                serveResends();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        // A stop while the next frame is due aborts that frame: its leader and trailer still
        // go out, none of its data (a camera that announced the frame it was exposing). A
        // frame whose data started is finished.
        const bool aborted = stop_;
        recent.emplace_back(blockId, timestamp);
        if (recent.size() > 256)
            recent.pop_front();
        const auto dropped = [&](uint32_t p) {
            return faults.dropPackets.count({blockId, p}) != 0;
        };
        pacer.startFrame();

        size_t size = buildLeader(blockId, timestamp, 0);
        timestamp += 1000;
        if (!happens(faults.loseLeader) && !dropped(0))
            emit(size, false);

        for (uint32_t p = 1; p <= packets && !aborted; ++p) {
            size = buildPayload(blockId, p, 0);
            if (dropped(p) || happens(faults.lose)) {
                std::lock_guard lock(mutex_);
                ++stats_.packetsLost;
                continue;
            }
            emit(size, true);
            if (p % 8 == 0)
                serveResends();
        }

        gvsp::Trailer trailer;
        trailer.payloadType = f.payloadType;
        if (image || f.payloadType == gvsp::kPayloadChunkData ||
            f.payloadType == gvsp::kPayloadExtendedChunk) {
            trailer.hasSizeY = true;
            trailer.sizeY = image ? sentLines : f.dataBytes;
        }
        if (chunks) {
            trailer.hasChunk = true;
            trailer.chunkLength = kChunkBytes;
            trailer.chunkLayoutId = kChunkLayoutId;
        }
        size = gvsp::writeTrailer(buffer, {0, ext, gvsp::kFormatTrailer, blockId, packets + 1},
                                  trailer);
        if (!happens(faults.loseTrailer) && !dropped(packets + 1))
            emit(size, false);
        serveResends();
        if (!aborted) {
            std::lock_guard lock(mutex_);
            ++stats_.framesSent;
        }
        const auto jump = faults.blockIdJumps.find(blockId);
        if (jump != faults.blockIdJumps.end()) {
            blockId = jump->second;
        } else {
            blockId = ext ? blockId + 1 : ((blockId + 1) & 0xFFFF);
            if (blockId == 0)
                blockId = 1;
        }
    }
    releaseHeld(true);
    flushRun();
    finished_ = true;
    while (!stop_) {
        serveResends();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace kavro::sim
