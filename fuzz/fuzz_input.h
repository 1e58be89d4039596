// Reading a fuzzer input as a short configuration followed by a sequence of datagrams. Every
// datagram is copied into a buffer of exactly its size, so a read past its end shows.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavro::fuzz {

class InputReader {
  public:
    InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    // The next byte, 0 past the end.
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }

    // The next datagram: a 16-bit big-endian length, then that many bytes (fewer at the end of
    // the input).
    std::vector<uint8_t> datagram() {
        const size_t wanted = size_t{byte()} << 8 | byte();
        const size_t n = std::min(wanted, size_ - std::min(pos_, size_));
        std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }

    // The rest of the input.
    std::vector<uint8_t> rest() {
        std::vector<uint8_t> out(data_ + std::min(pos_, size_), data_ + size_);
        pos_ = size_;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace kavro::fuzz
