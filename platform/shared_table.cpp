#include "platform/shared_table.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

namespace kavro::platform {

struct SharedOpenFlags::Slot {
    std::atomic<uint32_t> open;
    std::atomic<int32_t> ownerPid;
};
static_assert(std::atomic<uint32_t>::is_always_lock_free &&
                  std::atomic<int32_t>::is_always_lock_free,
              "shared-memory flags must be lock-free to be shared between processes");

namespace {
constexpr const char* kShmName = "/KavroGigEVisionLib.devices";
constexpr size_t kTableBytes = sizeof(SharedOpenFlags::Slot) * kMaxDevices;

SharedOpenFlags::Slot* mapMachineWide() {
    // A fresh object is zero-filled by the kernel, which is the table's initial state.
    const int fd = ::shm_open(kShmName, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) {
        if (::ftruncate(fd, kTableBytes) == 0) {
            void* p = ::mmap(nullptr, kTableBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            ::close(fd);
            if (p != MAP_FAILED)
                return static_cast<SharedOpenFlags::Slot*>(p);
        } else {
            ::close(fd);
        }
    }
    // Without shared memory the flags are at least consistent within the process.
    static SharedOpenFlags::Slot fallback[kMaxDevices];
    return fallback;
}

SharedOpenFlags::Slot* privateSlots() {
    static SharedOpenFlags::Slot slots[kMaxDevices];
    return slots;
}

std::atomic<bool> g_usePrivate{false};

bool processAlive(int32_t pid) {
    if (pid <= 0)
        return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}
}  // namespace

SharedOpenFlags& SharedOpenFlags::machineWide() {
    static SharedOpenFlags shared(mapMachineWide());
    static SharedOpenFlags priv(privateSlots());
    return g_usePrivate.load() ? priv : shared;
}

void SharedOpenFlags::usePrivateTableForThisProcess() {
    g_usePrivate.store(true);
}

bool SharedOpenFlags::isOpen(int index) {
    if (index < 0 || index >= kMaxDevices)
        return false;
    Slot& slot = slots_[index];
    if (slot.open.load() == 0)
        return false;
    const int32_t owner = slot.ownerPid.load();
    if (owner == ::getpid() || processAlive(owner))
        return true;
    // The owner ended without closing: take the index back.
    uint32_t expected = 1;
    slot.open.compare_exchange_strong(expected, 0);
    return false;
}

void SharedOpenFlags::markOpen(int index) {
    markOpenByProcess(index, ::getpid());
}

void SharedOpenFlags::markOpenByProcess(int index, int32_t pid) {
    if (index < 0 || index >= kMaxDevices)
        return;
    slots_[index].ownerPid.store(pid);
    slots_[index].open.store(1);
}

void SharedOpenFlags::markClosed(int index) {
    if (index < 0 || index >= kMaxDevices)
        return;
    slots_[index].open.store(0);
    slots_[index].ownerPid.store(0);
}

}  // namespace kavro::platform
