// The chain of node evaluations that one top-level read or write runs: the device it talks to,
// the model it walks, and the nodes being evaluated right now. A reference that comes back to a
// node already being evaluated the same way, or a chain deeper than kMaxChainDepth, ends with
// GEV_STATUS_REFERENCE_CYCLE and a log line instead of unbounded recursion.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "KavroGigEVisionLib.h"
#include "frame/device.h"
#include "genicam/feature_model.h"

namespace kavro::features::detail {

// The ways a node is evaluated; the same node may be entered once per way at a time (a float
// converter reads its own name raw while its float read is in progress).
enum class Step : uint8_t { IntegerRead, FloatRead, RawRead, IntegerWrite, FloatWrite };

// Deepest nesting of node evaluations in one call; real descriptions stay far below.
inline constexpr size_t kMaxChainDepth = 64;

class Chain final {
  public:
    Chain(frame::GevDevice& device, genicam::FeatureModel& model)
        : device_(device), model_(model) {}
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    [[nodiscard]] frame::GevDevice& device() const { return device_; }
    [[nodiscard]] genicam::FeatureModel& model() const { return model_; }

    // Starts evaluating `node` by `step`; GEV_STATUS_REFERENCE_CYCLE (logged) when that would
    // loop or nest too deep. Every successful enter() is matched by one leave().
    [[nodiscard]] GevStatus enter(const genicam::FeatureNode& node, Step step);
    void leave();

  private:
    struct Frame {
        const genicam::FeatureNode* node = nullptr;
        Step step = Step::IntegerRead;
    };
    frame::GevDevice& device_;
    genicam::FeatureModel& model_;
    std::array<Frame, kMaxChainDepth> frames_{};
    size_t depth_ = 0;
};

// One node evaluation on the chain, left again when the scope ends.
class ChainStep final {
  public:
    ChainStep(Chain& chain, const genicam::FeatureNode& node, Step step)
        : chain_(chain), status_(chain.enter(node, step)) {}
    ~ChainStep() {
        if (status_ == GEV_STATUS_SUCCESS) {
            chain_.leave();
        }
    }
    ChainStep(const ChainStep&) = delete;
    ChainStep& operator=(const ChainStep&) = delete;

    [[nodiscard]] GevStatus status() const { return status_; }

  private:
    Chain& chain_;
    GevStatus status_;
};

}  // namespace kavro::features::detail
