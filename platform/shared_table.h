// The machine-wide part of the device table: one open flag and one owner process id per device
// index, in a POSIX shared-memory object that every process loading the library maps. An index
// whose owner process no longer exists counts as closed, so a crashed process does not lock its
// cameras' indexes forever.
#pragma once

#include <cstdint>

namespace kavro::platform {

inline constexpr int kMaxDevices = 20;

class SharedOpenFlags {
  public:
    // The table every process shares (created on first use).
    static SharedOpenFlags& machineWide();
    // Switches this process to a table of its own, so that parallel test processes do not see
    // each other's indexes. Call before any device is opened.
    static void usePrivateTableForThisProcess();

    // `index` is 0-based. An index whose owner died is reported closed and cleared.
    bool isOpen(int index);
    // Marks the index open by this process when it is closed (or its owner died), as one atomic
    // step: of processes claiming one index at once, exactly one succeeds.
    [[nodiscard]] bool claim(int index);
    // Marks the index open by this process.
    void markOpen(int index);
    void markClosed(int index);
    // Marks the index open by another process; how a leftover of a crashed process looks.
    void markOpenByProcess(int index, int32_t pid);

    struct Slot;

  private:
    explicit SharedOpenFlags(Slot* slots) : slots_(slots) {}
    Slot* slots_;
};

}  // namespace kavro::platform
