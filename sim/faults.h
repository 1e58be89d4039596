// Faults a test can script on a simulated camera's control channel. Each fault applies to the
// next N commands the camera receives (or the next N answers it gives); faults of different
// kinds combine. Seeded randomness keeps runs repeatable. Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

namespace kavro::sim {

class FaultPlan {
  public:
    using Clock = std::chrono::steady_clock;

    // Ignore the next `count` commands entirely (no acknowledge, no effect on the camera).
    void dropNextCommands(uint32_t count);
    // Ignore each command with this probability (0 switches it off), drawn from the seeded
    // generator.
    void dropCommandsRandomly(double probability);
    // Answer the next `count` commands only after `delay`; the camera keeps serving meanwhile.
    void delayNextAnswers(uint32_t count, std::chrono::milliseconds delay);
    // Before the right acknowledge of the next `count` commands, send one whose ack_id is the
    // command's req_id minus one (65535 for req_id 1): a stale answer.
    void staleAckBeforeNext(uint32_t count);
    // The next `count` commands take effect but their right acknowledge is lost on the way (a
    // stale one planned by staleAckBeforeNext still arrives).
    void loseNextAnswers(uint32_t count);
    // Answer the next `count` commands with acknowledge code `ackCode` (for example 0x0089,
    // PENDING_ACK) instead of the right one; status 0.
    void wrongAckCodeNext(uint32_t count, uint16_t ackCode);
    // Answer the next `count` commands with device status `status` (an otherwise right header).
    void deviceStatusNext(uint32_t count, uint16_t status);
    // Answer the next `count` commands with exactly these bytes (length field and all as given),
    // with the command's req_id patched in at offset 6 when `patchAckId` is set.
    void rawAnswerNext(uint32_t count, std::vector<uint8_t> bytes, bool patchAckId = true);
    // Stop answering anything (commands are still received and recorded, but have no effect)
    // until `duration` has passed; 0 = until clear().
    void goSilent(std::chrono::milliseconds duration);
    // Removes every fault; the seed stays.
    void clear();
    // Seed of the random faults.
    void seed(uint64_t value);

    // Used by the server, once per received command: true when the command is to be ignored.
    bool dropCommand();

    // Used by the server, once per answer the model gave.
    struct AnswerFaults {
        std::chrono::milliseconds delay{0};
        bool staleAckFirst = false;
        bool lose = false;                // the right acknowledge is not sent
        std::optional<uint16_t> ackCode;  // replaces the acknowledge code, status 0
        std::optional<uint16_t> status;   // replaces the status
        std::optional<std::vector<uint8_t>> raw;
        bool patchRawAckId = true;
    };
    AnswerFaults nextAnswer();

  private:
    struct Counted {
        uint32_t remaining = 0;
        // Consumes one use; true when the fault applies to this command.
        bool take() {
            if (remaining == 0)
                return false;
            --remaining;
            return true;
        }
    };

    mutable std::mutex mutex_;
    Counted drop_;
    double dropProbability_ = 0.0;
    Counted delay_;
    std::chrono::milliseconds delayBy_{0};
    Counted stale_;
    Counted lose_;
    Counted wrongCode_;
    uint16_t wrongCodeValue_ = 0;
    Counted status_;
    uint16_t statusValue_ = 0;
    Counted raw_;
    std::vector<uint8_t> rawBytes_;
    bool patchRawAckId_ = true;
    bool silent_ = false;
    std::optional<Clock::time_point> silentUntil_;
    std::mt19937_64 random_{1};
};

// The ack_id of a stale acknowledge for a command with `reqId` (0 is never a req_id).
inline uint16_t staleAckId(uint16_t reqId) {
    return reqId <= 1 ? uint16_t{65535} : static_cast<uint16_t>(reqId - 1);
}

}  // namespace kavro::sim
