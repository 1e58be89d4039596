// UDP sockets: a move-only owner and the few operations the library needs, in status form.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kavro::platform {

// Owns one socket descriptor; -1 means none, so descriptor 0 is never mistaken for "none".
class UniqueSocket final {
  public:
    UniqueSocket() = default;
    explicit UniqueSocket(int fd) : fd_(fd) {}
    ~UniqueSocket() { reset(); }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;
    UniqueSocket(UniqueSocket&& other) noexcept : fd_(other.release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    bool isValid() const { return fd_ >= 0; }
    int get() const { return fd_; }
    [[nodiscard]] int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Shuts down the sending side, then closes.
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

struct SocketOptions {
    bool broadcast = false;
    bool reuse = false;
    // Ask for a receive buffer of this many bytes (0 = system default): beyond the system's
    // limit when privileged, else up to it. The kernel must grant at least
    // `minimumReceiveBuffer`, else the socket is refused.
    size_t receiveBuffer = 0;
    size_t minimumReceiveBuffer = 0;
};

// Usable bytes of the socket's receive buffer (Linux reports twice what it set aside).
std::optional<size_t> receiveBufferSize(const UniqueSocket& socket);

// Sends a datagram that no GigE Vision device acts on (not a GVCP command) from `socket` to
// (address, port): it opens a stateful firewall on the host for the answers coming back.
bool sendTraversalDatagram(const UniqueSocket& socket, uint32_t addressNet, uint16_t port);

// Creates an IPv4 UDP socket bound to (address, port); address in network byte order (0 = any),
// port in host order (0 = any). Returns an invalid socket on any failure.
UniqueSocket createUdpSocket(uint32_t localAddressNet, uint16_t localPort,
                             const SocketOptions& options = {});

// Local port the system bound, host order; nullopt when it can't be learnt.
std::optional<uint16_t> localPort(const UniqueSocket& socket);

enum class WaitResult { Ready, TimedOut, Failed };
// Waits until the socket can be read, at most `timeout`. Interrupted waits resume with the
// remaining time.
WaitResult waitReadable(const UniqueSocket& socket, std::chrono::microseconds timeout);

// Waits until one of two sockets can be read (the second may be invalid); returns which.
enum class WaitAnyResult { First, Second, TimedOut, Failed };
WaitAnyResult waitReadableAny(const UniqueSocket& first, const UniqueSocket& second,
                              std::chrono::microseconds timeout);

// Asks the kernel to report the interface each datagram arrived on.
bool enableArrivalInterface(const UniqueSocket& socket);
// Receives one datagram and the index of the interface it arrived on (0 when not reported).
std::optional<size_t> receiveWithInterface(const UniqueSocket& socket, std::span<uint8_t> buffer,
                                           int& interfaceIndex);

// Sends one datagram; false on failure or short send.
bool sendTo(const UniqueSocket& socket, std::span<const uint8_t> data, uint32_t addressNet,
            uint16_t port);

// Runs of datagrams of one flow that the kernel hands over in one piece (UDP receive
// coalescing): each read then returns up to 64 KiB, the datagrams back to back, all of the size
// the read reports (the last may be shorter). Switched off again with `on` false. False when
// the kernel can't.
bool setReceiveCoalescing(const UniqueSocket& socket, bool on);

// Sends `data` as datagrams of `segmentSize` bytes each (the last may be shorter) in one call,
// cut apart by the kernel (UDP segmentation); a single datagram goes as with sendTo. False on
// failure or short send.
bool sendSegmentsTo(const UniqueSocket& socket, std::span<const uint8_t> data, size_t segmentSize,
                    uint32_t addressNet, uint16_t port);

struct Sender {
    uint32_t addressNet = 0;
    uint16_t port = 0;
};
// Receives one datagram into `buffer` (a longer datagram is cut to the buffer). Returns the
// number of bytes stored, or nullopt on failure.
std::optional<size_t> receiveFrom(const UniqueSocket& socket, std::span<uint8_t> buffer,
                                  Sender* sender = nullptr);
// Non-blocking variant: nullopt also when nothing is waiting.
std::optional<size_t> tryReceiveFrom(const UniqueSocket& socket, std::span<uint8_t> buffer,
                                     Sender* sender = nullptr);

// Dotted form of an address held in network byte order.
void formatIpv4(uint32_t addressNet, char (&out)[16]);
uint32_t parseIpv4(const char* text);  // network byte order; 0 when not an address

}  // namespace kavro::platform
