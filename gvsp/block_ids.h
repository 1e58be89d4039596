// Block ids of one stream: 64-bit with extended ids; otherwise 16-bit, running 1..65535 and
// wrapping to 1 (0 is never used). Both receivers count and compare ids through this.
#pragma once

#include <cstdint>

#include "gvsp/wire.h"

namespace kavro::gvsp {

class BlockIds {
  public:
    explicit BlockIds(bool extended = false) { setExtended(extended); }

    void setExtended(bool extended) {
        extended_ = extended;
        mask_ = extended ? ~uint64_t{0} : kStandardBlockIdMask;
    }
    [[nodiscard]] bool extended() const { return extended_; }
    [[nodiscard]] uint64_t mask() const { return mask_; }

    [[nodiscard]] uint64_t next(uint64_t id) const {
        const uint64_t next = (id + 1) & mask_;
        return next == 0 ? 1 : next;
    }
    // Steps from `from` forward to `to`.
    [[nodiscard]] uint64_t distance(uint64_t from, uint64_t to) const {
        if (extended_)
            return to - from;
        const uint64_t a = (from & mask_) == 0 ? 0 : (from & mask_) - 1;
        const uint64_t b = (to & mask_) == 0 ? 0 : (to & mask_) - 1;
        return (b + kStandardIdSpace - a) % kStandardIdSpace;
    }
    // `to` lies ahead of `from` by less than half the id space.
    [[nodiscard]] bool isAhead(uint64_t from, uint64_t to) const {
        const uint64_t d = distance(from, to);
        const uint64_t half = extended_ ? (uint64_t{1} << 63) : kStandardIdSpace / 2;
        return d != 0 && d < half;
    }

  private:
    static constexpr uint64_t kStandardIdSpace = 0xFFFF;  // ids 1..65535
    bool extended_ = false;
    uint64_t mask_ = kStandardBlockIdMask;
};

}  // namespace kavro::gvsp
