#include "gvsp/stream_wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/clock.h"

namespace kavro::gvsp {

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopSignal::~StopSignal() {
    if (fd_ >= 0)
        ::close(fd_);
}

void StopSignal::raise() {
    raised_.store(true, std::memory_order_release);
    if (fd_ >= 0) {
        const uint64_t one = 1;
        // The counter only has to become non-zero; a full counter is readable all the same.
        (void)!::write(fd_, &one, sizeof one);
    }
}

namespace {

timespec remaining(int64_t deadlineNs) {
    const int64_t left = std::max<int64_t>(deadlineNs - platform::monotonicNs(), 0);
    return {static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
}

}  // namespace

StreamWait waitForDatagram(const platform::UniqueSocket& socket, const StopSignal& stop,
                           std::chrono::microseconds timeout) {
    if (!socket.isValid())
        return StreamWait::Failed;
    const int64_t deadline = platform::monotonicNs() + timeout.count() * 1000;
    for (;;) {
        if (stop.raised())
            return StreamWait::Stopped;
        pollfd fds[2] = {{socket.get(), POLLIN, 0}, {stop.fd(), POLLIN, 0}};
        const timespec ts = remaining(deadline);
        const int n = ::ppoll(fds, stop.isValid() ? 2 : 1, &ts, nullptr);
        if (n > 0) {
            if (stop.raised())
                return StreamWait::Stopped;
            if ((fds[0].revents & POLLIN) != 0)
                return StreamWait::Datagram;
            return StreamWait::Failed;
        }
        if (n == 0)
            return StreamWait::TimedOut;
        if (errno != EINTR)
            return StreamWait::Failed;
    }
}

bool pauseUnlessStopped(const StopSignal& stop, std::chrono::microseconds pause) {
    const int64_t deadline = platform::monotonicNs() + pause.count() * 1000;
    for (;;) {
        if (stop.raised())
            return false;
        pollfd fd{stop.fd(), POLLIN, 0};
        const timespec ts = remaining(deadline);
        // Without an eventfd the pause is a plain sleep (a negative descriptor is never ready).
        const int n = ::ppoll(&fd, 1, &ts, nullptr);
        if (n == 0)
            return !stop.raised();
        if (n > 0)
            return false;
        if (errno != EINTR)
            return !stop.raised();
    }
}

std::chrono::microseconds StopGrace::nextWait(std::chrono::microseconds timeout) {
    const int64_t now = platform::monotonicNs();
    if (deadlineNs_ == 0)
        deadlineNs_ = now + std::chrono::nanoseconds(kGrace).count();
    const int64_t leftUs = (deadlineNs_ - now) / 1000;
    if (leftUs <= 0)
        return std::chrono::microseconds(0);
    return std::min(
        {timeout, std::chrono::microseconds(kQuiet), std::chrono::microseconds(leftUs)});
}

}  // namespace kavro::gvsp
