// The message channel: one UDP socket and one thread per process receive the events of every
// open device, acknowledge them when asked, and hand them to the device's callback.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/socket.h"
#include "platform/thread.h"

namespace kavro::gvcp {

class MessageChannel {
  public:
    static MessageChannel& instance();

    // Creates the socket and starts the thread when they do not exist yet. False when the
    // socket can't be created.
    bool ensureRunning();
    // The socket's local port, 0 when there is no socket or its port can't be learnt.
    uint16_t port();
    bool running();
    // Sends one datagram no camera acts on from the message socket to the camera's control
    // port, so that a stateful firewall on the host lets the camera's events in.
    void openFirewallTowards(uint32_t deviceAddressNet);
    // Ends the thread (waiting up to 1000 ms) and closes the socket.
    void stop();

    struct State;

  private:
    MessageChannel() = default;
    std::mutex mutex_;
    std::shared_ptr<State> state_;  // shared with the thread, which may outlive a stop
    platform::WorkerThread thread_;
    uint16_t port_ = 0;
};

}  // namespace kavro::gvcp
