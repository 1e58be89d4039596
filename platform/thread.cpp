#include "platform/thread.h"

#include <pthread.h>
#include <sched.h>

#include "platform/event.h"

namespace kavro::platform {

struct WorkerThread::Done {
    ManualResetEvent ended;
};

WorkerThread::~WorkerThread() {
    // An owner that forgot to stop its thread must not block here forever, nor leave a
    // joinable std::thread behind (which would terminate the process).
    if (thread_.joinable()) {
        if (isCurrentThread()) {
            thread_.detach();
        } else {
            thread_.join();
        }
    }
}

WorkerThread& WorkerThread::operator=(WorkerThread&& other) noexcept {
    if (this != &other) {
        if (thread_.joinable())
            thread_.detach();
        thread_ = std::move(other.thread_);
        done_ = std::move(other.done_);
    }
    return *this;
}

namespace {
void applyPriority(ThreadPriority priority) {
    if (priority == ThreadPriority::Normal)
        return;
    sched_param param{};
    const int max = sched_get_priority_max(SCHED_FIFO);
    param.sched_priority = priority == ThreadPriority::TimeCritical ? max : max - 1;
    // Without the privilege the thread silently keeps the default policy.
    (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}
}  // namespace

bool WorkerThread::start(std::function<void()> body, ThreadPriority priority) {
    if (thread_.joinable())
        return false;
    auto done = std::make_shared<Done>();
    try {
        thread_ = std::thread([body = std::move(body), done, priority] {
            applyPriority(priority);
            body();
            done->ended.set();
        });
    } catch (const std::system_error&) {
        return false;
    }
    done_ = std::move(done);
    return true;
}

bool WorkerThread::join(std::chrono::milliseconds timeout) {
    if (!thread_.joinable())
        return true;
    if (isCurrentThread()) {
        thread_.detach();
        return false;
    }
    if (done_->ended.waitFor(timeout)) {
        thread_.join();
        return true;
    }
    thread_.detach();
    return false;
}

void WorkerThread::join() {
    if (!thread_.joinable())
        return;
    if (isCurrentThread()) {
        thread_.detach();
        return;
    }
    thread_.join();
}

}  // namespace kavro::platform
