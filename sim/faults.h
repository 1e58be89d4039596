// Faults a test can script on a simulated camera's control channel. Each fault applies to the
// next N commands the camera receives; seeded randomness keeps runs repeatable.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace kavro::sim {

class FaultPlan {
public:
    // Ignore the next `count` commands entirely (no acknowledge).
    void dropNextCommands(uint32_t count);
    // Answer the next `count` commands only after `delay`.
    void delayNextAnswers(uint32_t count, std::chrono::milliseconds delay);
    // Before the right acknowledge of the next `count` commands, send one whose ack_id is the
    // command's req_id minus one (a stale answer).
    void staleAckBeforeNext(uint32_t count);
    // Answer the next `count` commands with acknowledge code `ackCode` (for example 0x0089,
    // PENDING_ACK) instead of the right one; status 0.
    void wrongAckCodeNext(uint32_t count, uint16_t ackCode);
    // Answer the next `count` commands with device status `status` (an otherwise right header).
    void deviceStatusNext(uint32_t count, uint16_t status);
    // Answer the next `count` commands with exactly these bytes (length field and all as given),
    // with the command's req_id patched in at offset 6 when `patchAckId` is set.
    void rawAnswerNext(uint32_t count, std::vector<uint8_t> bytes, bool patchAckId = true);
    // Stop answering anything until `resumeAfter` has passed (0 = until cleared).
    void goSilent(std::chrono::milliseconds resumeAfter);
    void clear();
    // Seed of the random faults (lost/corrupted packets of later issues).
    void seed(uint64_t value);

    // Used by the server: what to do with the next command.
    struct Decision;
    Decision next();

private:
    mutable std::mutex mutex_;
    // (implementation state)
};

}  // namespace kavro::sim
