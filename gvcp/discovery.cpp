#include "gvcp/discovery.h"

#include <arpa/inet.h>
#include <net/if.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "gvcp/bootstrap.h"
#include "gvcp/wire_discovery.h"
#include "platform/adapters.h"
#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace kavro::gvcp {

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kDefaultTimeoutMs = 2000;
constexpr auto kListenSlice = 100ms;
const uint32_t kBroadcastNet = htonl(INADDR_BROADCAST);

bool isLoopback(uint32_t addressNet) {
    return (ntohl(addressNet) >> 24) == 127;
}

// Sort key: the address read with its first octet least significant, so that the list is
// ordered by the last octet first.
uint32_t sortKey(uint32_t addressNet) {
    const uint32_t h = ntohl(addressNet);
    return ((h >> 24) & 0xFF) | (((h >> 16) & 0xFF) << 8) | (((h >> 8) & 0xFF) << 16) |
           ((h & 0xFF) << 24);
}

template <size_t N, size_t M>
void copyText(char (&out)[N], const std::array<char, M>& in) {
    static_assert(N >= M);
    std::memcpy(out, in.data(), M);
}

void fillEntry(GevDeviceInfo& entry, const DiscoveryAck& ack, const platform::Adapter& adapter,
               const platform::AdapterAddress& local) {
    entry = GevDeviceInfo{};
    entry.deviceAddress = htonl(ack.currentIp);
    copyText(entry.manufacturerName, ack.manufacturerName);
    copyText(entry.modelName, ack.modelName);
    copyText(entry.deviceVersion, ack.deviceVersion);
    entry.adapterAddress = local.addressNet;
    entry.adapterMask = local.maskNet;
    std::copy(ack.mac.begin(), ack.mac.end(), entry.macAddress);
    entry.subnetMask = ack.subnetMask;
    entry.defaultGateway = ack.gateway;
    std::strncpy(entry.adapterName, adapter.name.c_str(), sizeof entry.adapterName - 1);
    copyText(entry.serialNumber, ack.serialNumber);
    copyText(entry.userDefinedName, ack.userDefinedName);
}

class ProgressReporter {
  public:
    ProgressReporter(GevDiscoveryCallback callback, uint64_t expectedMs)
        : callback_(callback),
          expectedMs_(std::max<uint64_t>(expectedMs, 1)),
          start_(platform::monotonicNs()) {}
    void report() const {
        if (callback_ == nullptr)
            return;
        const double elapsedMs = static_cast<double>(platform::monotonicNs() - start_) / 1e6;
        const double percent = elapsedMs / (static_cast<double>(expectedMs_) / 100.0);
        callback_(static_cast<int32_t>(std::min(percent, 100.0)));
    }

  private:
    GevDiscoveryCallback callback_;
    uint64_t expectedMs_;
    int64_t start_;
};

// The answers to one adapter address: unicast ones arrive on the socket bound to the address;
// broadcast ones (asked for with all subnets) only reach a socket on the wildcard address, which
// keeps those that came in through this adapter.
struct AdapterSockets {
    platform::UniqueSocket bound;
    platform::UniqueSocket broadcast;
    int interfaceIndex = 0;
};

GevStatus openSockets(const platform::Adapter& adapter, const platform::AdapterAddress& local,
                      bool allSubnets, AdapterSockets& out) {
    out.bound = platform::createUdpSocket(local.addressNet, 0, {.broadcast = true, .reuse = true});
    if (!out.bound.isValid())
        return GEV_STATUS_SOCKET_ERROR;
    out.interfaceIndex = static_cast<int>(if_nametoindex(adapter.name.c_str()));
    if (allSubnets && out.interfaceIndex != 0) {
        const auto port = platform::localPort(out.bound);
        if (port) {
            out.broadcast = platform::createUdpSocket(0, *port, {.reuse = true});
            if (!platform::enableArrivalInterface(out.broadcast))
                out.broadcast.reset();
        }
    }
    return GEV_STATUS_SUCCESS;
}

// Listens on one adapter address for `timeoutMs` and adds the answers to `list`.
GevStatus listen(const AdapterSockets& sockets, const platform::Adapter& adapter,
                 const platform::AdapterAddress& local, uint32_t timeoutMs, bool allSubnets,
                 const ProgressReporter& progress, GevDeviceList& list) {
    // Larger than an acknowledge, so that an oversized datagram is seen as such.
    std::array<uint8_t, 1500> buffer{};
    const int64_t start = platform::monotonicNs();
    while ((platform::monotonicNs() - start) / 1000000 < timeoutMs) {
        const auto ready =
            platform::waitReadableAny(sockets.bound, sockets.broadcast, kListenSlice);
        if (ready == platform::WaitAnyResult::Failed)
            return GEV_STATUS_WAIT_ERROR;
        std::optional<size_t> n;
        bool ours = true;
        if (ready == platform::WaitAnyResult::First) {
            n = platform::receiveFrom(sockets.bound, buffer);
            if (!n)
                return GEV_STATUS_RECEIVE_ERROR;
        } else if (ready == platform::WaitAnyResult::Second) {
            int arrivedOn = 0;
            n = platform::receiveWithInterface(sockets.broadcast, buffer, arrivedOn);
            if (!n)
                return GEV_STATUS_RECEIVE_ERROR;
            ours = arrivedOn == sockets.interfaceIndex;
        }
        if (n && ours) {
            const auto ack = parseDiscoveryAck(std::span<const uint8_t>(buffer.data(), *n));
            const uint32_t cameraNet = ack ? htonl(ack->currentIp) : 0;
            // Judged with the adapter's mask: a camera that reports a wrong or empty mask of
            // its own is still reachable on the adapter's subnet.
            const uint32_t mask = ntohl(local.maskNet);
            const bool onSubnet =
                ack && ((ack->currentIp & mask) == (ntohl(local.addressNet) & mask));
            const bool seen = std::any_of(list.devices, list.devices + list.count, [&](auto& e) {
                return e.deviceAddress == cameraNet && e.adapterAddress == local.addressNet;
            });
            if (ack && list.count < GEV_MAX_DISCOVERED && (allSubnets || onSubnet) && !seen) {
                fillEntry(list.devices[list.count++], *ack, adapter, local);
            }
        }
        progress.report();
    }
    return GEV_STATUS_SUCCESS;
}

}  // namespace

GevStatus discover(GevDeviceList& list, GevDiscoveryCallback progress, uint32_t timeoutMs,
                   bool allSubnets) {
    list.count = 0;
    if (timeoutMs == 0)
        timeoutMs = kDefaultTimeoutMs;
    const auto adapters = platform::listAdapters();
    if (!adapters)
        return GEV_STATUS_ADAPTER_LIST_ERROR;

    const auto usable = [](const platform::AdapterAddress& a) {
        return a.addressNet != 0 && !isLoopback(a.addressNet);
    };
    const auto counted = std::count_if(adapters->begin(), adapters->end(), [&](auto& a) {
        return !a.addresses.empty() && usable(a.addresses.front());
    });
    const ProgressReporter reporter(progress, static_cast<uint64_t>(counted) * timeoutMs);

    const auto command = buildDiscovery(allSubnets);
    for (const auto& adapter : *adapters) {
        for (const auto& local : adapter.addresses) {
            // An empty or loopback address ends the adapter's list.
            if (!usable(local))
                break;
            AdapterSockets sockets;
            if (const GevStatus s = openSockets(adapter, local, allSubnets, sockets))
                return s;
            if (!platform::sendTo(sockets.bound, command, kBroadcastNet, kPort))
                return GEV_STATUS_SEND_ERROR;
            if (const GevStatus s =
                    listen(sockets, adapter, local, timeoutMs, allSubnets, reporter, list)) {
                return s;
            }
        }
    }

    for (uint8_t i = 0; i < list.count; ++i) {
        GevDeviceInfo& entry = list.devices[i];
        const bool onSubnet =
            (entry.adapterMask & entry.deviceAddress) == (entry.adapterMask & entry.adapterAddress);
        if (!onSubnet) {
            entry.status = GEV_DISCOVERY_OTHER_SUBNET;
            continue;
        }
        uint32_t ccp = 0;
        if (probeAccess(entry.adapterAddress, entry.deviceAddress, 0, ccp) != GEV_STATUS_SUCCESS) {
            entry.status = GEV_DISCOVERY_UNREACHABLE;
        } else {
            entry.status =
                ccp == reg::kCcpControlAccess ? GEV_DISCOVERY_CONTROLLED : GEV_DISCOVERY_AVAILABLE;
        }
    }
    for (uint8_t i = 0; i + 1 < list.count; ++i) {
        for (uint8_t j = i + 1; j < list.count; ++j) {
            if (sortKey(list.devices[i].deviceAddress) > sortKey(list.devices[j].deviceAddress)) {
                std::swap(list.devices[i], list.devices[j]);
            }
        }
    }
    return GEV_STATUS_SUCCESS;
}

GevStatus probeAccess(uint32_t adapterAddressNet, uint32_t deviceAddressNet, uint16_t localPort,
                      uint32_t& ccp) {
    auto sock = platform::createUdpSocket(adapterAddressNet, localPort);
    if (!sock.isValid())
        return GEV_STATUS_SOCKET_ERROR;
    std::chrono::milliseconds wait = 400ms;
    for (uint16_t reqId = 1; reqId <= 3; ++reqId, wait *= 2) {
        const auto command = buildReadReg(reqId, reg::kCcp, 1);
        if (!platform::sendTo(sock, command, deviceAddressNet, kPort))
            return GEV_STATUS_SEND_ERROR;
        const auto ready = platform::waitReadable(sock, wait);
        if (ready == platform::WaitResult::TimedOut)
            continue;
        if (ready == platform::WaitResult::Failed)
            return GEV_STATUS_WAIT_ERROR;
        std::array<uint8_t, readRegAckSize(1)> ack{};
        const auto n = platform::receiveFrom(sock, ack);
        if (!n)
            return GEV_STATUS_RECEIVE_ERROR;
        const auto header = parseAckHeader(std::span<const uint8_t>(ack.data(), *n));
        if (!header)
            return GEV_STATUS_WRONG_ACKNOWLEDGE;
        if (header->status != 0)
            return header->status;
        if (header->ackCode != kReadRegAck || *n < ack.size())
            return GEV_STATUS_WRONG_ACKNOWLEDGE;
        ccp = platform::loadBe32(&ack[kHeaderSize]);
        return GEV_STATUS_SUCCESS;
    }
    return GEV_STATUS_TIMEOUT;
}

GevStatus forceIp(uint32_t address, uint32_t subnetMask, uint32_t gateway,
                  const std::array<uint8_t, 6>& mac, uint32_t preferredLocalNet) {
    const auto adapters = platform::listAdapters();
    if (!adapters)
        return GEV_STATUS_ADAPTER_LIST_ERROR;
    std::vector<uint32_t> locals;
    if (preferredLocalNet != 0)
        locals.push_back(preferredLocalNet);
    for (const auto& adapter : *adapters) {
        if (!locals.empty())
            break;
        if (adapter.addresses.empty())
            continue;
        const uint32_t first = ntohl(adapter.addresses.front().addressNet);
        if ((first & subnetMask) == (address & subnetMask)) {
            locals.push_back(adapter.addresses.front().addressNet);
        }
    }
    const auto command = buildForceIp({mac, address, subnetMask, gateway});
    if (address == 0) {
        // A restart of the IP configuration is told once; when no adapter is on the camera's
        // subnet it goes out through every adapter, since a broadcast from the wildcard address
        // follows only the default route.
        if (locals.empty()) {
            for (const auto& adapter : *adapters) {
                if (!adapter.addresses.empty() &&
                    !isLoopback(adapter.addresses.front().addressNet)) {
                    locals.push_back(adapter.addresses.front().addressNet);
                }
            }
        }
        bool sent = false;
        for (const uint32_t local : locals) {
            auto sock = platform::createUdpSocket(local, 0, {.broadcast = true});
            sent =
                (sock.isValid() && platform::sendTo(sock, command, kBroadcastNet, kPort)) || sent;
        }
        return sent ? GEV_STATUS_SUCCESS : GEV_STATUS_SEND_ERROR;
    }
    auto sock =
        platform::createUdpSocket(locals.empty() ? 0 : locals.front(), 0, {.broadcast = true});
    if (!sock.isValid())
        return GEV_STATUS_SOCKET_ERROR;
    GevStatus result = GEV_STATUS_TIMEOUT;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!platform::sendTo(sock, command, kBroadcastNet, kPort))
            return GEV_STATUS_SEND_ERROR;
        const auto ready = platform::waitReadable(sock, 1000ms);
        if (ready == platform::WaitResult::Failed)
            return GEV_STATUS_WAIT_ERROR;
        if (ready == platform::WaitResult::TimedOut) {
            result = GEV_STATUS_TIMEOUT;
            continue;
        }
        std::array<uint8_t, kHeaderSize> ack{};
        const auto n = platform::receiveFrom(sock, ack);
        if (!n) {
            result = GEV_STATUS_RECEIVE_ERROR;
        } else if (*n < 4 || ack[3] != (kForceIpAck & 0xFF)) {
            result = GEV_STATUS_WRONG_ACKNOWLEDGE;
        } else {
            return GEV_STATUS_SUCCESS;
        }
    }
    return result;
}

}  // namespace kavro::gvcp
