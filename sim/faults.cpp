#include "sim/faults.h"

namespace kavro::sim {

void FaultPlan::dropNextCommands(uint32_t count) {
    std::lock_guard lock(mutex_);
    drop_.remaining = count;
}

void FaultPlan::dropCommandsRandomly(double probability) {
    std::lock_guard lock(mutex_);
    dropProbability_ = probability;
}

void FaultPlan::delayNextAnswers(uint32_t count, std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    delay_.remaining = count;
    delayBy_ = delay;
}

void FaultPlan::staleAckBeforeNext(uint32_t count) {
    std::lock_guard lock(mutex_);
    stale_.remaining = count;
}

void FaultPlan::loseNextAnswers(uint32_t count) {
    std::lock_guard lock(mutex_);
    lose_.remaining = count;
}

void FaultPlan::wrongAckCodeNext(uint32_t count, uint16_t ackCode) {
    std::lock_guard lock(mutex_);
    wrongCode_.remaining = count;
    wrongCodeValue_ = ackCode;
}

void FaultPlan::deviceStatusNext(uint32_t count, uint16_t status) {
    std::lock_guard lock(mutex_);
    status_.remaining = count;
    statusValue_ = status;
}

void FaultPlan::rawAnswerNext(uint32_t count, std::vector<uint8_t> bytes, bool patchAckId) {
    std::lock_guard lock(mutex_);
    raw_.remaining = count;
    rawBytes_ = std::move(bytes);
    patchRawAckId_ = patchAckId;
}

void FaultPlan::goSilent(std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    silent_ = true;
    silentUntil_.reset();
    if (duration.count() > 0)
        silentUntil_ = Clock::now() + duration;
}

void FaultPlan::clear() {
    std::lock_guard lock(mutex_);
    drop_ = delay_ = stale_ = lose_ = wrongCode_ = status_ = raw_ = Counted{};
    dropProbability_ = 0.0;
    rawBytes_.clear();
    silent_ = false;
    silentUntil_.reset();
}

void FaultPlan::seed(uint64_t value) {
    std::lock_guard lock(mutex_);
    random_.seed(value);
}

bool FaultPlan::dropCommand() {
    std::lock_guard lock(mutex_);
    if (silent_) {
        if (!silentUntil_ || Clock::now() < *silentUntil_)
            return true;
        silent_ = false;
        silentUntil_.reset();
    }
    if (drop_.take())
        return true;
    if (dropProbability_ > 0.0) {
        return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < dropProbability_;
    }
    return false;
}

FaultPlan::AnswerFaults FaultPlan::nextAnswer() {
    std::lock_guard lock(mutex_);
    AnswerFaults faults;
    if (delay_.take())
        faults.delay = delayBy_;
    faults.staleAckFirst = stale_.take();
    faults.lose = lose_.take();
    if (wrongCode_.take())
        faults.ackCode = wrongCodeValue_;
    if (status_.take())
        faults.status = statusValue_;
    if (raw_.take()) {
        faults.raw = rawBytes_;
        faults.patchRawAckId = patchRawAckId_;
    }
    return faults;
}

}  // namespace kavro::sim
