#include "platform/socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace kavro::platform {

void UniqueSocket::reset(int fd) {
    if (fd_ >= 0) {
        ::shutdown(fd_, SHUT_WR);
        ::close(fd_);
    }
    fd_ = fd;
}

namespace {
bool setIntOption(int fd, int level, int name, int value) {
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

sockaddr_in makeAddress(uint32_t addressNet, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = addressNet;
    sa.sin_port = htons(port);
    return sa;
}

std::optional<size_t> usableReceiveBuffer(int fd) {
    int granted = 0;
    socklen_t len = sizeof granted;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0 || granted < 0)
        return std::nullopt;
    // Linux reports twice the usable size it set aside.
    return static_cast<size_t>(granted) / 2;
}

bool growReceiveBuffer(int fd, size_t wanted, size_t minimum) {
    const int request = static_cast<int>(std::min<size_t>(wanted, 1u << 30));
    // The privileged variant ignores net.core.rmem_max; the ordinary one is capped by it.
    if (!setIntOption(fd, SOL_SOCKET, SO_RCVBUFFORCE, request) &&
        !setIntOption(fd, SOL_SOCKET, SO_RCVBUF, request)) {
        return false;
    }
    const auto granted = usableReceiveBuffer(fd);
    return granted && *granted >= minimum;
}
}  // namespace

std::optional<size_t> receiveBufferSize(const UniqueSocket& socket) {
    return socket.isValid() ? usableReceiveBuffer(socket.get()) : std::nullopt;
}

bool sendTraversalDatagram(const UniqueSocket& socket, uint32_t addressNet, uint16_t port) {
    // Four zero bytes: a GVCP command starts with the key 0x42, so a device drops it.
    static constexpr uint8_t kPayload[4] = {};
    return sendTo(socket, kPayload, addressNet, port);
}

UniqueSocket createUdpSocket(uint32_t localAddressNet, uint16_t localPort,
                             const SocketOptions& options) {
    UniqueSocket sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock.isValid())
        return {};
    const int fd = sock.get();
    if (options.reuse && !setIntOption(fd, SOL_SOCKET, SO_REUSEADDR, 1))
        return {};
    const sockaddr_in sa = makeAddress(localAddressNet, localPort);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0)
        return {};
    if (options.broadcast && !setIntOption(fd, SOL_SOCKET, SO_BROADCAST, 1))
        return {};
    if (options.receiveBuffer != 0 &&
        !growReceiveBuffer(fd, options.receiveBuffer, options.minimumReceiveBuffer)) {
        return {};
    }
    return sock;
}

std::optional<uint16_t> localPort(const UniqueSocket& socket) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (!socket.isValid() ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        return std::nullopt;
    }
    return ntohs(sa.sin_port);
}

WaitResult waitReadable(const UniqueSocket& socket, std::chrono::microseconds timeout) {
    if (!socket.isValid())
        return WaitResult::Failed;
    const int64_t deadline = monotonicNs() + timeout.count() * 1000;
    for (;;) {
        const int64_t left = deadline - monotonicNs();
        pollfd pfd{socket.get(), POLLIN, 0};
        const timespec ts{static_cast<time_t>(std::max<int64_t>(left, 0) / 1000000000),
                          static_cast<long>(std::max<int64_t>(left, 0) % 1000000000)};
        const int n = ::ppoll(&pfd, 1, &ts, nullptr);
        if (n > 0) {
            return (pfd.revents & (POLLERR | POLLNVAL)) != 0 && (pfd.revents & POLLIN) == 0
                       ? WaitResult::Failed
                       : WaitResult::Ready;
        }
        if (n == 0)
            return WaitResult::TimedOut;
        if (errno != EINTR)
            return WaitResult::Failed;
    }
}

WaitAnyResult waitReadableAny(const UniqueSocket& first, const UniqueSocket& second,
                              std::chrono::microseconds timeout) {
    if (!first.isValid())
        return WaitAnyResult::Failed;
    const int64_t deadline = monotonicNs() + timeout.count() * 1000;
    for (;;) {
        const int64_t left = std::max<int64_t>(deadline - monotonicNs(), 0);
        pollfd pfds[2] = {{first.get(), POLLIN, 0}, {second.get(), POLLIN, 0}};
        const timespec ts{static_cast<time_t>(left / 1000000000),
                          static_cast<long>(left % 1000000000)};
        const int n = ::ppoll(pfds, second.isValid() ? 2 : 1, &ts, nullptr);
        if (n > 0) {
            if ((pfds[0].revents & POLLIN) != 0)
                return WaitAnyResult::First;
            if (second.isValid() && (pfds[1].revents & POLLIN) != 0)
                return WaitAnyResult::Second;
            return WaitAnyResult::Failed;
        }
        if (n == 0)
            return WaitAnyResult::TimedOut;
        if (errno != EINTR)
            return WaitAnyResult::Failed;
    }
}

bool enableArrivalInterface(const UniqueSocket& socket) {
    return socket.isValid() && setIntOption(socket.get(), IPPROTO_IP, IP_PKTINFO, 1);
}

std::optional<size_t> receiveWithInterface(const UniqueSocket& socket, std::span<uint8_t> buffer,
                                           int& interfaceIndex) {
    interfaceIndex = 0;
    if (!socket.isValid())
        return std::nullopt;
    iovec io{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_iov = &io;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(socket.get(), &msg, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return std::nullopt;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            interfaceIndex = info.ipi_ifindex;
        }
    }
    return std::min(static_cast<size_t>(n), buffer.size());
}

bool sendTo(const UniqueSocket& socket, std::span<const uint8_t> data, uint32_t addressNet,
            uint16_t port) {
    if (!socket.isValid())
        return false;
    const sockaddr_in sa = makeAddress(addressNet, port);
    ssize_t n;
    do {
        n = ::sendto(socket.get(), data.data(), data.size(), 0,
                     reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(data.size());
}

bool setReceiveCoalescing(const UniqueSocket& socket, bool on) {
    return socket.isValid() && setIntOption(socket.get(), SOL_UDP, UDP_GRO, on ? 1 : 0);
}

bool sendSegmentsTo(const UniqueSocket& socket, std::span<const uint8_t> data, size_t segmentSize,
                    uint32_t addressNet, uint16_t port) {
    if (segmentSize == 0 || data.size() <= segmentSize)
        return sendTo(socket, data, addressNet, port);
    if (!socket.isValid() || segmentSize > UINT16_MAX)
        return false;
    sockaddr_in sa = makeAddress(addressNet, port);
    iovec iov{const_cast<uint8_t*>(data.data()), data.size()};
    alignas(cmsghdr) std::array<uint8_t, CMSG_SPACE(sizeof(uint16_t))> control{};
    msghdr msg{};
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.data();
    msg.msg_controllen = control.size();
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_UDP;
    c->cmsg_type = UDP_SEGMENT;
    c->cmsg_len = CMSG_LEN(sizeof(uint16_t));
    const auto segment = static_cast<uint16_t>(segmentSize);
    std::memcpy(CMSG_DATA(c), &segment, sizeof segment);
    ssize_t n;
    do {
        n = ::sendmsg(socket.get(), &msg, 0);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(data.size());
}

namespace {
std::optional<size_t> receive(const UniqueSocket& socket, std::span<uint8_t> buffer, Sender* sender,
                              int flags) {
    if (!socket.isValid())
        return std::nullopt;
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ssize_t n;
    do {
        n = ::recvfrom(socket.get(), buffer.data(), buffer.size(), flags,
                       reinterpret_cast<sockaddr*>(&sa), &len);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return std::nullopt;
    if (sender != nullptr)
        *sender = {sa.sin_addr.s_addr, ntohs(sa.sin_port)};
    // A datagram longer than the buffer is cut; recvfrom reports at most the buffer size.
    return std::min(static_cast<size_t>(n), buffer.size());
}
}  // namespace

std::optional<size_t> receiveFrom(const UniqueSocket& socket, std::span<uint8_t> buffer,
                                  Sender* sender) {
    return receive(socket, buffer, sender, 0);
}

std::optional<size_t> tryReceiveFrom(const UniqueSocket& socket, std::span<uint8_t> buffer,
                                     Sender* sender) {
    return receive(socket, buffer, sender, MSG_DONTWAIT);
}

void formatIpv4(uint32_t addressNet, char (&out)[16]) {
    const uint32_t h = ntohl(addressNet);
    std::snprintf(out, sizeof out, "%u.%u.%u.%u", (h >> 24) & 0xFF, (h >> 16) & 0xFF,
                  (h >> 8) & 0xFF, h & 0xFF);
}

uint32_t parseIpv4(const char* text) {
    in_addr a{};
    return text != nullptr && ::inet_pton(AF_INET, text, &a) == 1 ? a.s_addr : 0;
}

}  // namespace kavro::platform
