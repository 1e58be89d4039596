#include "tests/support/netns_lab.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>

namespace kavro::test {

namespace {

bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

int openNs(const std::string& name) {
    return ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
}

}  // namespace

std::unique_ptr<NetnsLab> NetnsLab::create(const std::vector<Link>& links, std::string& why) {
    if (::geteuid() != 0) {
        why = "needs root to create network namespaces";
        return nullptr;
    }
    if (!run("command -v ip")) {
        why = "the ip command (iproute2) is not installed";
        return nullptr;
    }
    std::unique_ptr<NetnsLab> lab(new NetnsLab);
    const std::string tag = std::to_string(::getpid());
    lab->hostNs_ = "kvh" + tag;
    lab->cameraNs_ = "kvc" + tag;
    if (!run("ip netns add " + lab->hostNs_) || !run("ip netns add " + lab->cameraNs_)) {
        why = "could not create network namespaces";
        return nullptr;
    }
    const std::string inHost = "ip netns exec " + lab->hostNs_ + " ";
    const std::string inCamera = "ip netns exec " + lab->cameraNs_ + " ";
    bool ok = run(inHost + "ip link set lo up") && run(inCamera + "ip link set lo up") &&
              run(inHost + "sysctl -w net.ipv4.conf.all.rp_filter=0") &&
              run(inHost + "sysctl -w net.ipv4.conf.default.rp_filter=0");
    for (const Link& link : links) {
        if (!ok)
            break;
        ok = run("ip link add " + link.hostInterface + " netns " + lab->hostNs_ +
                 " type veth peer name " + link.cameraInterface + " netns " + lab->cameraNs_) &&
             run(inHost + "ip addr add " + link.hostCidr + " dev " + link.hostInterface) &&
             run(inHost + "ip link set " + link.hostInterface + " up") &&
             run(inCamera + "ip link set " + link.cameraInterface + " up");
        for (const auto& cidr : link.cameraCidrs) {
            ok = ok && run(inCamera + "ip addr add " + cidr + " dev " + link.cameraInterface);
        }
        // Cameras answer the host of their link whatever their own subnet.
        const std::string hostAddress = link.hostCidr.substr(0, link.hostCidr.find('/'));
        ok =
            ok && run(inCamera + "ip route add " + hostAddress + "/32 dev " + link.cameraInterface);
    }
    lab->originalNs_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    lab->hostNsFd_ = openNs(lab->hostNs_);
    lab->cameraNsFd_ = openNs(lab->cameraNs_);
    if (!ok || lab->originalNs_ < 0 || lab->hostNsFd_ < 0 || lab->cameraNsFd_ < 0 ||
        ::setns(lab->hostNsFd_, CLONE_NEWNET) != 0) {
        why = "could not set up the test network";
        return nullptr;
    }
    return lab;
}

NetnsLab::~NetnsLab() {
    if (originalNs_ >= 0) {
        (void)::setns(originalNs_, CLONE_NEWNET);
        ::close(originalNs_);
    }
    if (hostNsFd_ >= 0)
        ::close(hostNsFd_);
    if (cameraNsFd_ >= 0)
        ::close(cameraNsFd_);
    if (!hostNs_.empty())
        run("ip netns del " + hostNs_);
    if (!cameraNs_.empty())
        run("ip netns del " + cameraNs_);
}

void NetnsLab::inCameraNamespace(const std::function<void()>& body) {
    if (::setns(cameraNsFd_, CLONE_NEWNET) != 0)
        return;
    body();
    (void)::setns(hostNsFd_, CLONE_NEWNET);
}

bool NetnsLab::addCameraAddress(const std::string& interface, const std::string& cidr) {
    return run("ip netns exec " + cameraNs_ + " ip addr add " + cidr + " dev " + interface);
}

}  // namespace kavro::test
