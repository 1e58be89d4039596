// Bounds-checked cursors over a byte buffer. A read or write past the end does not throw and
// does not touch memory: it sets the overflow flag and yields zero, so a parser checks once at
// the end instead of before every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "platform/byte_order.h"

namespace kavro::platform {

// Position and overflow bookkeeping shared by both cursors.
class CursorBounds {
  public:
    size_t position() const { return pos_; }
    bool overflow() const { return overflow_; }

  protected:
    explicit CursorBounds(size_t size) : size_(size) {}
    // Advances by `n` when that many bytes remain; otherwise records the overflow.
    bool take(size_t n) {
        if (overflow_ || n > size_ - pos_) {
            overflow_ = true;
            return false;
        }
        pos_ += n;
        return true;
    }

    size_t size_;
    size_t pos_ = 0;
    bool overflow_ = false;
};

class ByteReader : public CursorBounds {
  public:
    explicit ByteReader(std::span<const uint8_t> data) : CursorBounds(data.size()), data_(data) {}

    uint8_t u8() { return take(1) ? data_[pos_ - 1] : 0; }
    uint16_t u16() { return take(2) ? loadBe16(&data_[pos_ - 2]) : 0; }
    uint32_t u32() { return take(4) ? loadBe32(&data_[pos_ - 4]) : 0; }
    uint64_t u64() { return take(8) ? loadBe64(&data_[pos_ - 8]) : 0; }
    // Returns a view of the next `n` bytes, or an empty span (and overflow) when fewer remain.
    std::span<const uint8_t> bytes(size_t n) {
        return take(n) ? data_.subspan(pos_ - n, n) : std::span<const uint8_t>{};
    }
    void skip(size_t n) { (void)take(n); }
    void seek(size_t pos) {
        if (pos > data_.size()) {
            overflow_ = true;
            pos_ = data_.size();
        } else {
            pos_ = pos;
        }
    }

    size_t remaining() const { return data_.size() - pos_; }

  private:
    std::span<const uint8_t> data_;
};

class ByteWriter : public CursorBounds {
  public:
    explicit ByteWriter(std::span<uint8_t> data) : CursorBounds(data.size()), data_(data) {}

    void u8(uint8_t v) {
        if (take(1))
            data_[pos_ - 1] = v;
    }
    void u16(uint16_t v) {
        if (take(2))
            storeBe16(&data_[pos_ - 2], v);
    }
    void u32(uint32_t v) {
        if (take(4))
            storeBe32(&data_[pos_ - 4], v);
    }
    void u64(uint64_t v) {
        if (take(8))
            storeBe64(&data_[pos_ - 8], v);
    }
    void bytes(std::span<const uint8_t> src) {
        if (take(src.size()) && !src.empty())
            std::memcpy(&data_[pos_ - src.size()], src.data(), src.size());
    }
    void zeros(size_t n) {
        if (take(n) && n != 0)
            std::memset(&data_[pos_ - n], 0, n);
    }

  private:
    std::span<uint8_t> data_;
};

}  // namespace kavro::platform
