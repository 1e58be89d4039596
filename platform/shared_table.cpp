#include "platform/shared_table.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

namespace kavro::platform {

// The open flag (low 32 bits) and the owner's process id (high 32 bits) in one word, so that
// both change together: the layout of a flag followed by a process id on a little-endian host.
struct SharedOpenFlags::Slot {
    std::atomic<uint64_t> state;
};
static_assert(std::atomic<uint64_t>::is_always_lock_free,
              "shared-memory flags must be lock-free to be shared between processes");
static_assert(sizeof(SharedOpenFlags::Slot) == 8);

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
    // Shared with the child processes this process forks (tests of opens from several
    // processes), with no other process.
    static SharedOpenFlags::Slot* const slots = [] {
        void* p =
            ::mmap(nullptr, kTableBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        static SharedOpenFlags::Slot fallback[kMaxDevices];
        return p != MAP_FAILED ? static_cast<SharedOpenFlags::Slot*>(p) : fallback;
    }();
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

namespace {
constexpr uint64_t packSlot(bool open, int32_t pid) {
    return uint64_t{static_cast<uint32_t>(pid)} << 32 | (open ? 1u : 0u);
}
bool slotOpen(uint64_t state) {
    return static_cast<uint32_t>(state) != 0;
}
int32_t slotOwner(uint64_t state) {
    return static_cast<int32_t>(static_cast<uint32_t>(state >> 32));
}
// Open, and held by this process or one that still runs.
bool heldByALiveProcess(uint64_t state) {
    if (!slotOpen(state))
        return false;
    const int32_t owner = slotOwner(state);
    return owner == ::getpid() || processAlive(owner);
}
}  // namespace

bool SharedOpenFlags::isOpen(int index) {
    if (index < 0 || index >= kMaxDevices)
        return false;
    std::atomic<uint64_t>& slot = slots_[index].state;
    uint64_t state = slot.load();
    if (!slotOpen(state))
        return false;
    if (heldByALiveProcess(state))
        return true;
    // The owner ended without closing: take the index back (unless someone else just did).
    slot.compare_exchange_strong(state, 0);
    return false;
}

bool SharedOpenFlags::claim(int index) {
    if (index < 0 || index >= kMaxDevices)
        return false;
    std::atomic<uint64_t>& slot = slots_[index].state;
    uint64_t state = slot.load();
    // Only the state seen closed (or left by a dead process) is replaced: a claim that lost
    // the race sees the winner's state and gives up.
    while (!heldByALiveProcess(state)) {
        if (slot.compare_exchange_weak(state, packSlot(true, ::getpid())))
            return true;
    }
    return false;
}

void SharedOpenFlags::markOpen(int index) {
    markOpenByProcess(index, ::getpid());
}

void SharedOpenFlags::markOpenByProcess(int index, int32_t pid) {
    if (index < 0 || index >= kMaxDevices)
        return;
    slots_[index].state.store(packSlot(true, pid));
}

void SharedOpenFlags::markClosed(int index) {
    if (index < 0 || index >= kMaxDevices)
        return;
    slots_[index].state.store(0);
}

}  // namespace kavro::platform
