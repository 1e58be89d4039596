#include "filterengine/block_wait.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kavro::filterengine {

namespace {
constexpr std::chrono::milliseconds kWithoutWaitSet{2};
}

BlockWait::BlockWait(const platform::UniqueSocket& ring, const gvsp::StopSignal& stop)
    : fd_(::epoll_create1(EPOLL_CLOEXEC)), stop_(&stop) {
    if (fd_ < 0)
        return;
    // Edge-triggered: the kernel reports the ring each time it hands over a block.
    epoll_event onBlock{};
    onBlock.events = EPOLLIN | EPOLLET;
    epoll_event onStop{};
    onStop.events = EPOLLIN;
    if (::epoll_ctl(fd_, EPOLL_CTL_ADD, ring.get(), &onBlock) != 0 ||
        ::epoll_ctl(fd_, EPOLL_CTL_ADD, stop.fd(), &onStop) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

BlockWait::~BlockWait() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool BlockWait::wait(std::chrono::milliseconds timeout) {
    if (fd_ < 0) {
        // Without the wait set the blocks are looked at on a short period instead.
        (void)gvsp::pauseUnlessStopped(
            *stop_, std::min<std::chrono::microseconds>(timeout, kWithoutWaitSet));
        return false;
    }
    epoll_event events[2];
    for (;;) {
        const int n = ::epoll_wait(fd_, events, 2, static_cast<int>(timeout.count()));
        if (n >= 0)
            return n > 0;
        if (errno != EINTR)
            return false;
    }
}

}  // namespace kavro::filterengine
