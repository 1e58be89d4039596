// A private network for tests that need broadcast: two network namespaces joined by veth pairs,
// one for the host side (where the test thread runs the library) and one for the cameras.
// Addresses come from 198.18.0.0/15, which never leaves the namespaces.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kavro::test {

class NetnsLab {
  public:
    struct Link {
        std::string hostInterface;    // in the host namespace
        std::string cameraInterface;  // in the camera namespace
        std::string hostCidr;         // e.g. "198.18.1.1/24"
        std::vector<std::string> cameraCidrs;
    };

    // Builds the namespaces and links and moves the calling thread into the host namespace.
    // Returns null, with the reason in `why`, when the machine does not allow it (not root, no
    // `ip` command, no namespace support).
    static std::unique_ptr<NetnsLab> create(const std::vector<Link>& links, std::string& why);
    // Moves the thread back to its original namespace and removes everything.
    ~NetnsLab();

    // Runs `body` on the calling thread inside the camera namespace: sockets (and threads)
    // created there belong to it.
    void inCameraNamespace(const std::function<void()>& body);
    // Adds an address to a camera-side interface after creation.
    bool addCameraAddress(const std::string& interface, const std::string& cidr);

  private:
    NetnsLab() = default;
    std::string hostNs_;
    std::string cameraNs_;
    int originalNs_ = -1;
    int hostNsFd_ = -1;
    int cameraNsFd_ = -1;
};

}  // namespace kavro::test
