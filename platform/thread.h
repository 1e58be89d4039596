// Library threads: started with a priority, stopped by their owner with a bounded wait. A thread
// that does not end in time is never killed; it is detached and keeps alive what it holds
// through its own shared state, so nothing is freed under it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace kavro::platform {

enum class ThreadPriority { Normal, Highest, TimeCritical };

class WorkerThread final {
  public:
    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    WorkerThread(WorkerThread&&) noexcept = default;
    WorkerThread& operator=(WorkerThread&&) noexcept;

    // Starts `body`; false when the thread can't be created.
    [[nodiscard]] bool start(std::function<void()> body, ThreadPriority priority);
    // Waits up to `timeout` for the thread to end; true when it ended (and was joined). When
    // it did not, the thread is detached and left to end on its own.
    bool join(std::chrono::milliseconds timeout);
    // Waits for the thread to end, however long it takes; for threads whose owner has told them
    // to end and that end within a bounded time. Called on the thread itself, it detaches it.
    void join();
    bool running() const { return thread_.joinable(); }
    bool isCurrentThread() const { return thread_.get_id() == std::this_thread::get_id(); }

  private:
    struct Done;
    std::thread thread_;
    std::shared_ptr<Done> done_;
};

}  // namespace kavro::platform
