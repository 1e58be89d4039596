#include "sim/camera_server.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "gvcp/bootstrap.h"
#include "gvcp/wire.h"
#include "gvcp/wire_discovery.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "sim/feature_registers.h"
#include "sim/link_setup.h"

namespace kavro::sim {

using namespace kavro::gvcp;
using Clock = std::chrono::steady_clock;

namespace {
// How long the server thread waits for a datagram before it looks at its stop flag again.
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr auto kJoinTimeout = std::chrono::seconds(5);
constexpr size_t kReceiveBufferSize = 65536;  // any UDP datagram, so none is cut short
constexpr int kLoopbackAttempts = 64;
constexpr auto kDefaultEventAckTimeout = std::chrono::milliseconds(100);

struct PendingSend {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
    platform::Sender to;
};

platform::UniqueSocket bindControlSocket(uint32_t addressNet) {
    platform::SocketOptions options;
    options.broadcast = true;  // broadcast acknowledges of DISCOVERY and FORCEIP
    return platform::createUdpSocket(addressNet, kPort, options);
}

bool isLoopback(uint32_t addressNet) {
    return (ntohl(addressNet) >> 24) == 127;
}

// Commands that hosts send by broadcast; a camera ignores any other command sent that way.
bool answersBroadcast(std::span<const uint8_t> datagram) {
    const auto header = parseCommandHeader(datagram);
    return header && (header->command == kDiscoveryCmd || header->command == kForceIpCmd ||
                      header->command == kActionCmd);
}

std::vector<uint8_t> withAckId(std::vector<uint8_t> ack, uint16_t ackId) {
    if (auto header = parseAckHeader(ack)) {
        header->ackId = ackId;
        writeAckHeader(std::span<uint8_t, kHeaderSize>(ack.data(), kHeaderSize), *header);
    }
    return ack;
}
}  // namespace

// Everything the server thread touches lives here and is shared with that thread, so that a
// thread that fails to stop in time never sees its state freed.
struct ServerCore {
    ServerCore(const CameraConfig& config, platform::UniqueSocket sock, uint32_t address)
        : socket(std::move(sock)), addressNet(address), model(config) {}

    void run();
    void receiveAll(bool viaBroadcast, std::vector<uint8_t>& buffer);
    void handle(std::span<const uint8_t> datagram, const platform::Sender& from, bool viaBroadcast);
    void record(std::span<const uint8_t> datagram, const platform::Sender& from);
    void send(std::vector<uint8_t> bytes, const platform::Sender& to,
              std::chrono::milliseconds delay);
    void flushDue();
    uint16_t nextEventReqId();
    std::optional<Answer> forceIp(const CommandHeader& header, std::span<const uint8_t> payload,
                                  const Peer& sender);
    bool moveTo(const IpSettings& target);
    void updateBroadcastListener();

    // Replaced only by the server thread, which uses it without the lock; other threads
    // (sendEvent) hold socketMutex.
    std::mutex socketMutex;
    platform::UniqueSocket socket;
    // Receives the broadcasts (DISCOVERY, FORCEIP) that a socket bound to one address never
    // sees. Server thread only; none on loopback, where broadcasts do not exist.
    platform::UniqueSocket broadcastListener;
    std::atomic<uint32_t> addressNet;
    IpSettings startSettings;  // where a restarted IP configuration goes without persistent IP
    CameraModel model;
    // The stream the acquisition features start and stop; server thread only.
    FeatureStream featureStream{model, addressNet.load()};
    FaultPlan faults;
    std::atomic<bool> stop{false};
    EventAckLog eventAcks;
    std::atomic<uint16_t> eventReqId{0};

    mutable std::mutex recordsMutex;
    mutable std::condition_variable recordsChanged;
    std::deque<ReceivedCommand> records;  // guarded by recordsMutex
    size_t receivedCount = 0;             // guarded by recordsMutex

    std::deque<PendingSend> pending;  // server thread only, ordered by due time
};

void ServerCore::run() {
    std::vector<uint8_t> buffer(kReceiveBufferSize);
    while (!stop.load()) {
        auto wait = std::chrono::duration_cast<std::chrono::microseconds>(kPollInterval);
        if (!pending.empty()) {
            const auto untilDue = std::chrono::duration_cast<std::chrono::microseconds>(
                pending.front().due - Clock::now());
            wait = std::clamp(untilDue, std::chrono::microseconds(0), wait);
        }
        const auto result = platform::waitReadable(socket, wait);
        if (result == platform::WaitResult::Failed) {
            std::this_thread::sleep_for(kPollInterval);
        } else if (result == platform::WaitResult::Ready) {
            receiveAll(false, buffer);
        }
        // Broadcasts wait for the next turn of the loop: at most one poll interval.
        if (broadcastListener.isValid())
            receiveAll(true, buffer);
        flushDue();
        model.superviseHeartbeat(Clock::now());
        featureStream.sync();
    }
}

void ServerCore::receiveAll(bool viaBroadcast, std::vector<uint8_t>& buffer) {
    platform::Sender sender;
    // A FORCEIP may replace the socket: read it afresh for every datagram.
    while (const auto size = platform::tryReceiveFrom(viaBroadcast ? broadcastListener : socket,
                                                      buffer, &sender)) {
        handle(std::span(buffer).first(*size), sender, viaBroadcast);
    }
}

void ServerCore::handle(std::span<const uint8_t> datagram, const platform::Sender& from,
                        bool viaBroadcast) {
    if (EventAckLog::isEventAck(datagram)) {
        const auto h = *parseAckHeader(datagram);
        eventAcks.add({from.addressNet, from.port, h.status, h.ackCode, h.ackId, h.length});
        return;
    }
    record(datagram, from);
    if (viaBroadcast && !answersBroadcast(datagram))
        return;
    if (faults.dropCommand())
        return;
    Peer replyTo;
    auto ack = model.handleCommand(datagram, Peer{from.addressNet, from.port}, &replyTo);
    // An acquisition command takes effect before it is acknowledged.
    featureStream.sync();
    if (!ack)
        return;
    const platform::Sender to{replyTo.addressNet, replyTo.port};
    const uint16_t reqId = parseCommandHeader(datagram)->reqId;

    const FaultPlan::AnswerFaults f = faults.nextAnswer();
    if (f.raw) {
        ack = f.patchRawAckId ? withAckId(*f.raw, reqId) : *f.raw;
    } else if (f.ackCode || f.status) {
        auto header = *parseAckHeader(*ack);
        if (f.ackCode) {
            header.ackCode = *f.ackCode;
            header.status = kStatusSuccess;
        }
        if (f.status)
            header.status = *f.status;
        writeAckHeader(std::span<uint8_t, kHeaderSize>(ack->data(), kHeaderSize), header);
    }
    if (f.staleAckFirst)
        send(withAckId(*ack, staleAckId(reqId)), to, f.delay);
    if (!f.lose)
        send(std::move(*ack), to, f.delay);
}

void ServerCore::record(std::span<const uint8_t> datagram, const platform::Sender& from) {
    ReceivedCommand command;
    command.senderAddressNet = from.addressNet;
    command.senderPort = from.port;
    if (const auto header = parseCommandHeader(datagram)) {
        command.flags = header->flags;
        command.command = header->command;
        command.length = header->length;
        command.reqId = header->reqId;
    }
    command.bytes.assign(datagram.begin(), datagram.end());
    {
        std::lock_guard lock(recordsMutex);
        if (records.size() == CameraServer::kMaxRecorded)
            records.pop_front();
        records.push_back(std::move(command));
        ++receivedCount;
    }
    recordsChanged.notify_all();
}

void ServerCore::send(std::vector<uint8_t> bytes, const platform::Sender& to,
                      std::chrono::milliseconds delay) {
    if (delay.count() <= 0) {
        (void)platform::sendTo(socket, bytes, to.addressNet, to.port);
        return;
    }
    // Equal due times keep their order, so a stale answer still leaves first.
    PendingSend item{Clock::now() + delay, std::move(bytes), to};
    const auto at =
        std::upper_bound(pending.begin(), pending.end(), item.due,
                         [](Clock::time_point due, const PendingSend& p) { return due < p.due; });
    pending.insert(at, std::move(item));
}

void ServerCore::flushDue() {
    const auto now = Clock::now();
    while (!pending.empty() && pending.front().due <= now) {
        const PendingSend& next = pending.front();
        (void)platform::sendTo(socket, next.bytes, next.to.addressNet, next.to.port);
        pending.pop_front();
    }
}

std::optional<Answer> ServerCore::forceIp(const CommandHeader& header,
                                          std::span<const uint8_t> payload, const Peer& sender) {
    const auto request = parseForceIp(commandDatagram(header, payload));
    // A FORCEIP for another camera is none of this one's business: no answer.
    if (!request || request->mac != model.config().mac)
        return std::nullopt;
    // Moving the camera under the feet of another host's application is refused.
    const auto holder = model.controlHolder();
    if (model.config().enforceControlPrivilege && holder && !(*holder == sender))
        return Answer{kStatusAccessDenied, kForceIpAck, {}};
    // Address 0 restarts the IP configuration: the persistent address when enabled, else the
    // address the camera started with (what DHCP or link-local addressing gave it).
    const IpSettings target = request->address != 0
                                  ? IpSettings{htonl(request->address), htonl(request->subnetMask),
                                               htonl(request->gateway)}
                                  : model.persistentIpSettings().value_or(startSettings);
    if (!moveTo(target))
        return Answer{kStatusError, kForceIpAck, {}};
    return Answer{kStatusSuccess, kForceIpAck, {}, (header.flags & kFlagBroadcastAck) != 0};
}

bool ServerCore::moveTo(const IpSettings& target) {
    const uint32_t current = addressNet.load();
    // A camera bound to every address (0) only shows the new one in its registers.
    if (current != 0 && target.addressNet != current) {
        // Like a camera's interface, the link takes the new address (when it has one).
        const std::string& link = model.config().broadcastInterface;
        if (!link.empty())
            (void)addInterfaceAddress(link, target.addressNet, target.maskNet);
        auto moved = bindControlSocket(target.addressNet);
        if (!moved.isValid())
            return false;  // the old address stays in service
        {
            std::lock_guard lock(socketMutex);
            socket = std::move(moved);
        }
        addressNet.store(target.addressNet);
        featureStream.setAddress(target.addressNet);
        updateBroadcastListener();
    }
    model.setCurrentAddress(target.addressNet, target.maskNet, target.gatewayNet);
    return true;
}

void ServerCore::updateBroadcastListener() {
    const uint32_t address = addressNet.load();
    if (address == 0 || isLoopback(address)) {
        broadcastListener.reset();
    } else if (!broadcastListener.isValid()) {
        platform::SocketOptions options;
        options.reuse = true;  // every camera of the namespace hears each broadcast
        broadcastListener = platform::createUdpSocket(INADDR_BROADCAST, kPort, options);
        const std::string& link = model.config().broadcastInterface;
        if (!link.empty() && !restrictToInterface(broadcastListener, link))
            broadcastListener.reset();
    }
}

uint16_t ServerCore::nextEventReqId() {
    // 1..65535: 0 is never a req_id.
    uint16_t previous = eventReqId.load();
    uint16_t next;
    do {
        next = static_cast<uint16_t>(previous % 65535 + 1);
    } while (!eventReqId.compare_exchange_weak(previous, next));
    return next;
}

class CameraServer::Impl {
  public:
    explicit Impl(std::shared_ptr<ServerCore> c) : core(std::move(c)) {}
    ~Impl() {
        core->stop.store(true);
        (void)thread.join(kJoinTimeout);
    }

    std::shared_ptr<ServerCore> core;
    platform::WorkerThread thread;
};

CameraServer::CameraServer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CameraServer::~CameraServer() = default;

std::unique_ptr<CameraServer> CameraServer::start(const CameraConfig& config, uint32_t addressNet) {
    auto socket = bindControlSocket(addressNet);
    if (!socket.isValid())
        return nullptr;
    auto core = std::make_shared<ServerCore>(config, std::move(socket), addressNet);
    core->startSettings = {addressNet, htonl(isLoopback(addressNet) ? 0xFF000000u : 0xFFFFFF00u),
                           0};
    core->model.setCurrentAddress(core->startSettings.addressNet, core->startSettings.maskNet,
                                  core->startSettings.gatewayNet);
    core->updateBroadcastListener();
    // The model lives inside the core, so the handler never outlives what it points to.
    ServerCore* raw = core.get();
    core->model.setCommandHandler(
        kForceIpCmd, [raw](const CommandHeader& header, std::span<const uint8_t> payload,
                           const Peer& sender) { return raw->forceIp(header, payload, sender); });

    auto impl = std::make_unique<Impl>(core);
    if (!impl->thread.start([core] { core->run(); }, platform::ThreadPriority::Normal)) {
        return nullptr;
    }
    return std::unique_ptr<CameraServer>(new CameraServer(std::move(impl)));
}

std::unique_ptr<CameraServer> CameraServer::startOnLoopback(const CameraConfig& config) {
    // 127.B.C.D: B.C from the process id (B never 0, which leaves 127.0.0.x to gevcamsim and
    // localhost), D from a counter of this process; a taken address moves on to the next.
    static std::atomic<uint32_t> counter{0};
    const uint32_t slot = static_cast<uint32_t>(::getpid()) % (254u * 256u);
    for (int attempt = 0; attempt < kLoopbackAttempts; ++attempt) {
        const uint32_t n = counter.fetch_add(1);
        const uint32_t b = 1 + slot / 256;
        const uint32_t c = (slot + n / 250) % 256;
        const uint32_t d = 2 + n % 250;
        const uint32_t address = 127u << 24 | b << 16 | c << 8 | d;
        if (auto server = start(config, htonl(address)))
            return server;
    }
    return nullptr;
}

uint32_t CameraServer::addressNet() const {
    return impl_->core->addressNet.load();
}
CameraModel& CameraServer::model() {
    return impl_->core->model;
}
FaultPlan& CameraServer::faults() {
    return impl_->core->faults;
}

std::vector<ReceivedCommand> CameraServer::receivedCommands() const {
    std::lock_guard lock(impl_->core->recordsMutex);
    return {impl_->core->records.begin(), impl_->core->records.end()};
}

void CameraServer::clearReceivedCommands() {
    std::lock_guard lock(impl_->core->recordsMutex);
    impl_->core->records.clear();
    impl_->core->receivedCount = 0;
}

bool CameraServer::waitForCommands(size_t count, std::chrono::milliseconds timeout) const {
    const ServerCore& core = *impl_->core;
    std::unique_lock lock(core.recordsMutex);
    return core.recordsChanged.wait_for(lock, timeout, [&] { return core.receivedCount >= count; });
}

bool CameraServer::sendEvent(const gvcp::EventToSend& event) {
    ServerCore& core = *impl_->core;
    const uint32_t destination = core.model.readRegister(reg::kMcda);
    const auto port = static_cast<uint16_t>(core.model.readRegister(reg::kMcp));
    if (destination == 0 || port == 0)
        return false;
    gvcp::EventToSend numbered = event;
    numbered.reqId = core.nextEventReqId();
    const auto datagram = gvcp::buildEvent(numbered);
    const auto ackCode = event.eventData ? kEventDataAck : kEventAck;
    const uint32_t mctt = core.model.readRegister(reg::kMctt);
    const auto timeout = mctt != 0 ? std::chrono::milliseconds(mctt) : kDefaultEventAckTimeout;
    const uint32_t retries = core.model.readRegister(reg::kMcrc);

    for (uint64_t attempt = 0; attempt <= retries; ++attempt) {
        const uint64_t mark = core.eventAcks.mark();
        {
            std::lock_guard lock(core.socketMutex);
            if (!platform::sendTo(core.socket, datagram, htonl(destination), port))
                return false;
        }
        if (!event.ackRequired)
            return true;
        if (core.eventAcks.waitFor(ackCode, numbered.reqId, mark, timeout))
            return true;
    }
    return false;
}

std::vector<ReceivedEventAck> CameraServer::receivedEventAcks() const {
    return impl_->core->eventAcks.all();
}

void CameraServer::clearReceivedEventAcks() {
    impl_->core->eventAcks.clear();
}

}  // namespace kavro::sim
