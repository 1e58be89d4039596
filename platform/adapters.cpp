#include "platform/adapters.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "platform/socket.h"

namespace kavro::platform {

namespace {

uint32_t interfaceMtu(const std::string& name) {
    UniqueSocket sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock.isValid() || name.size() >= IFNAMSIZ)
        return 0;
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size() + 1);
    if (::ioctl(sock.get(), SIOCGIFMTU, &request) != 0)
        return 0;
    return static_cast<uint32_t>(request.ifr_mtu);
}

struct IfaddrsDeleter {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

}  // namespace

std::optional<std::vector<Adapter>> listAdapters() {
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0)
        return std::nullopt;
    const std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);

    std::vector<Adapter> adapters;
    for (const ifaddrs* it = list.get(); it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET ||
            it->ifa_name == nullptr) {
            continue;
        }
        AdapterAddress address;
        address.addressNet = reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
        if (it->ifa_netmask != nullptr) {
            address.maskNet =
                reinterpret_cast<const sockaddr_in*>(it->ifa_netmask)->sin_addr.s_addr;
        }
        Adapter* adapter = nullptr;
        for (auto& a : adapters) {
            if (a.name == it->ifa_name)
                adapter = &a;
        }
        if (adapter == nullptr) {
            adapter = &adapters.emplace_back();
            adapter->name = it->ifa_name;
            adapter->mtu = interfaceMtu(adapter->name);
        }
        adapter->addresses.push_back(address);
    }
    return adapters;
}

}  // namespace kavro::platform
