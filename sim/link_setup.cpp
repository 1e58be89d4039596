#include "sim/link_setup.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

namespace kavro::sim {

namespace {
constexpr size_t kRequestSize = 256;

// Appends one route attribute at `length`, which grows by it; false when it does not fit.
bool addAttribute(uint8_t* buffer, size_t capacity, size_t& length, uint16_t type,
                  uint32_t valueNet) {
    const size_t at = NLMSG_ALIGN(length);
    const size_t size = RTA_LENGTH(sizeof valueNet);
    if (at + RTA_ALIGN(size) > capacity)
        return false;
    rtattr attribute{};
    attribute.rta_type = type;
    attribute.rta_len = static_cast<unsigned short>(size);
    std::memcpy(buffer + at, &attribute, sizeof attribute);
    std::memcpy(buffer + at + RTA_LENGTH(0), &valueNet, sizeof valueNet);
    length = at + RTA_ALIGN(size);
    return true;
}
}  // namespace

bool restrictToInterface(const platform::UniqueSocket& socket, const std::string& interface) {
    return ::setsockopt(socket.get(), SOL_SOCKET, SO_BINDTODEVICE, interface.c_str(),
                        static_cast<socklen_t>(interface.size())) == 0;
}

bool addInterfaceAddress(const std::string& interface, uint32_t addressNet, uint32_t maskNet) {
    const unsigned index = ::if_nametoindex(interface.c_str());
    if (index == 0)
        return false;
    const platform::UniqueSocket link(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!link.isValid())
        return false;

    uint8_t request[kRequestSize] = {};
    ifaddrmsg address{};
    address.ifa_family = AF_INET;
    address.ifa_prefixlen = static_cast<unsigned char>(std::popcount(maskNet));
    address.ifa_index = index;
    std::memcpy(request + NLMSG_LENGTH(0), &address, sizeof address);
    size_t length = NLMSG_LENGTH(sizeof address);
    const uint32_t broadcastNet = addressNet | ~maskNet;
    if (!addAttribute(request, sizeof request, length, IFA_LOCAL, addressNet) ||
        !addAttribute(request, sizeof request, length, IFA_ADDRESS, addressNet) ||
        !addAttribute(request, sizeof request, length, IFA_BROADCAST, broadcastNet)) {
        return false;
    }
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(length);
    header.nlmsg_type = RTM_NEWADDR;
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_EXCL;
    header.nlmsg_seq = 1;
    std::memcpy(request, &header, sizeof header);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(link.get(), request, length, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof kernel) < 0) {
        return false;
    }

    // The acknowledge is an error message whose code is 0 on success.
    uint8_t reply[1024];
    const ssize_t received = ::recv(link.get(), reply, sizeof reply, 0);
    if (received < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))))
        return false;
    nlmsghdr answer{};
    std::memcpy(&answer, reply, sizeof answer);
    if (answer.nlmsg_type != NLMSG_ERROR)
        return false;
    nlmsgerr error{};
    std::memcpy(&error, reply + NLMSG_LENGTH(0), sizeof error);
    return error.error == 0 || error.error == -EEXIST;
}

}  // namespace kavro::sim
